#pragma once

#include "ai/PosePerson.h"

#include <QImage>
#include <QList>
#include <QString>

#include <memory>

namespace Quillmark {

// The two kinds of pose model the engine runs.
enum PoseModelKind : int {
    YoloPoseModel = 0,     // one output [1, 5 + 3K, candidates]
    PalmDetectorModel = 1, // regression [1, anchors, 18] and scores [1, anchors, 1]
};

// Runs a pose model on one picture, on the CPU through ONNX Runtime, and returns
// persons (or hands) with a box, a score and their keypoints in the picture's own
// pixels, highest score first. The kind of model is told when it is loaded: a
// YOLO-pose model with K keypoints, or a palm detector decoded against anchors
// the engine generates itself (7 keypoints).
//
// Every output is checked (element type, rank, element count) before it is
// read. A run that cannot be decoded, or that the runtime refuses, is a failure:
// the result is empty and lastError() says why; it is empty after a run that
// merely found nothing. Runtime errors are logged as "PoseInferencer::run: ...".
// Used on one thread at a time.
class PoseInferencer {
public:
    PoseInferencer(); // throws Ort::Exception when the runtime cannot start
    ~PoseInferencer();

    PoseInferencer(const PoseInferencer &) = delete;
    PoseInferencer &operator=(const PoseInferencer &) = delete;
    // Takes over an engine whose model was opened on a worker thread.
    PoseInferencer &operator=(PoseInferencer &&other) noexcept;

    // Opens a model and tells its kind. A model of another output layout is
    // refused with the reason in lastError(); the engine is then not ready,
    // whatever was loaded before.
    bool loadModel(const QString &path);

    // Persons with a score of at least confThreshold, after suppression of those
    // overlapping a better one by an IoU above iouThreshold. Keypoints of a
    // YOLO-pose model get their visibility from keypointThreshold.
    QList<PosePerson> run(const QImage &image, float confThreshold, float iouThreshold, float keypointThreshold);

    bool isReady() const { return ready; }
    QString lastError() const { return error; }
    int keypointCount() const { return keypoints; }
    PoseModelKind kind() const { return modelKind; }
    QString modelPath() const { return loadedPath; }
    int inputWidth() const { return width; }
    int inputHeight() const { return height; }

private:
    struct Runtime;

    bool classifyOutputs(int newWidth);

    std::unique_ptr<Runtime> runtime;
    bool ready = false;
    QString loadedPath;
    QString error;
    int width = 640;
    int height = 640;
    int keypoints = 17;
    PoseModelKind modelKind = YoloPoseModel;
};

} // namespace Quillmark
