#pragma once

#include "ai/FaceDetection.h"

#include <QImage>
#include <QList>
#include <QString>

#include <memory>

namespace Quillmark {

// Runs a face detector on one picture, on the CPU through ONNX Runtime, and
// returns boxes with a score and, when the model gives them, five landmarks, in
// the picture's own pixels, highest score first. Two kinds of model output are
// understood:
//   layout 0  one post-processed output [1, nFeat, boxes]: nFeat 5 (box, score)
//             or 20 (box, score, five landmarks as x, y, confidence);
//   layout 1  three multi-scale outputs [1, C >= 80, H, W]: box sides as 16-bin
//             distributions, a face logit and five landmarks relative to the cell.
//
// Every output is checked (element type, rank, element count) before it is
// read. A run that cannot be decoded, or that the runtime refuses, is a failure:
// the result is empty and lastError() says why; it is empty after a run that
// merely found nothing. Runtime errors are logged as "FaceInferencer::run: ...".
// Used on one thread at a time.
class FaceInferencer {
public:
    FaceInferencer(); // throws Ort::Exception when the runtime cannot start
    ~FaceInferencer();

    FaceInferencer(const FaceInferencer &) = delete;
    FaceInferencer &operator=(const FaceInferencer &) = delete;
    // Takes over an engine whose model was opened on a worker thread.
    FaceInferencer &operator=(FaceInferencer &&other) noexcept;

    // Opens a model and classifies its outputs. A model of another output layout
    // is refused with the reason in lastError(); the engine is then not ready,
    // whatever was loaded before.
    bool loadModel(const QString &path);

    // Faces with a score of at least confThreshold, after suppression of faces
    // overlapping a better one by an IoU above iouThreshold.
    QList<FaceDetection> run(const QImage &image, float confThreshold, float iouThreshold);

    bool isReady() const { return ready; }
    bool hasLandmarks() const { return landmarks; }
    int layout() const { return outputLayout; }
    QString modelPath() const { return loadedPath; }
    int inputWidth() const { return width; }
    int inputHeight() const { return height; }
    QString lastError() const { return error; }

private:
    struct Runtime;

    bool classifyOutputs(size_t outputCount, const std::vector<int64_t> &output0Shape);

    std::unique_ptr<Runtime> runtime;
    bool ready = false;
    bool landmarks = false;
    int outputLayout = 0;
    QString loadedPath;
    QString error;
    int width = 640;
    int height = 640;
};

} // namespace Quillmark
