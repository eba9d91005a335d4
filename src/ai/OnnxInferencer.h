#pragma once

#include "ai/Detection.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace Quillmark {

// Runs a YOLO-style detector (one output [1, 4 + classes, candidates]) or its
// instance-segmentation variant (a second output of 32 mask prototypes of
// 160 x 160) on one picture, on the CPU through ONNX Runtime. Results are in the
// picture's own pixels, highest score first.
//
// Every public operation catches the runtime's errors: they are logged as
// warnings ("OnnxInferencer::run: <message>") and kept in lastError(), so a
// caller can tell a failed run from one that found nothing. Used on one thread.
class OnnxInferencer {
public:
    OnnxInferencer(); // throws Ort::Exception when the runtime cannot start
    ~OnnxInferencer();

    OnnxInferencer(const OnnxInferencer &) = delete;
    OnnxInferencer &operator=(const OnnxInferencer &) = delete;
    // Takes over an engine whose model was opened on a worker thread.
    OnnxInferencer &operator=(OnnxInferencer &&other) noexcept;

    // Opens a model. Class names: `classNames` when not empty, else the model's
    // "names" metadata, else the 80 COCO names. A model with more than one output
    // is a segmentation model. A model whose own names do not match its class
    // rows is of another kind and is refused (here, or by run() when the rows
    // are not stated). The input size follows the model's input shape when it
    // is stated, else stays as before (640 x 640 at first).
    bool loadModel(const QString &path, const QStringList &classNames = {});

    // Detections with a best class score of at least confThreshold, after
    // class-wise suppression of boxes overlapping by more than iouThreshold.
    // Empty when no model is loaded, the picture is null, the run fails or the
    // output is unusable (lastError() then says why).
    QList<Detection> run(const QImage &image, float confThreshold, float iouThreshold);

    // As run(), with an outline for every instance. Empty also for a model
    // without prototype output.
    QList<SegDetection> runSeg(const QImage &image, float confThreshold, float iouThreshold);

    bool isLoaded() const { return loaded; }
    bool isSegmentation() const { return segmentation; }
    QStringList classNames() const { return names; }
    QString modelPath() const { return loadedPath; }
    int inputWidth() const { return width; }
    int inputHeight() const { return height; }

    // Why the last loadModel, run or runSeg failed; empty when it succeeded (a
    // run that found nothing succeeded).
    QString lastError() const { return error; }

private:
    struct Runtime;
    struct ModelOutput;

    bool fail(const char *operation, const QString &message, bool log = true);
    // The part run() and runSeg() share: preconditions, letterbox, tensor, the
    // model run and the checks of output 0. False, with the error set, when there
    // is nothing to decode.
    bool runModel(const char *operation, const QImage &image, bool withPrototypes, ModelOutput &output);

    std::unique_ptr<Runtime> runtime;
    bool loaded = false;
    bool segmentation = false;
    QString loadedPath;
    QStringList names;
    bool namesFromModel = false; // the model's own "names": its class rows must match them
    int width = 640;
    int height = 640;
    QString error;
};

} // namespace Quillmark
