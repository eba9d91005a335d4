#include "ai/FaceInferencer.h"

#include "ai/FaceDecoding.h"
#include "ai/FloatTensorView.h"
#include "ai/OrtRuntime.h"
#include "ai/PictureInference.h"

#include <string>
#include <vector>

namespace Quillmark {

namespace {

constexpr char runOperation[] = "FaceInferencer::run";
constexpr char loadOperation[] = "FaceInferencer::loadModel";

constexpr int64_t boxOnlyFeatures = 5;
constexpr int64_t landmarkFeatures = 20;
constexpr int64_t gridChannels = 80;

QString notAFaceModel(int64_t nFeat)
{
    return QStringLiteral("Not a face model — nFeat=%1, expected 5 or 20. Please select a yolov8?-face.onnx file.")
        .arg(nFeat);
}

} // namespace

struct FaceInferencer::Runtime {
    // Declared before the session, so the session is released first.
    OrtRuntime ort{"QuillmarkFace"};
    std::unique_ptr<Ort::Session> session;
    std::string inputName;
    std::vector<std::string> outputNames;
};

FaceInferencer::FaceInferencer() : runtime(std::make_unique<Runtime>())
{
    registerFaceDetectionType();
}

FaceInferencer::~FaceInferencer() = default;

// Sets the layout and the landmark flag from the outputs; false with the reason
// in `error` when the model is of another kind.
bool FaceInferencer::classifyOutputs(size_t outputCount, const std::vector<int64_t> &output0Shape)
{
    if (outputCount == 3) {
        outputLayout = 1;
        landmarks = true;
        return true;
    }
    if (outputCount != 1) {
        error = QStringLiteral("Beklenmeyen çıkış sayısı: %1. Desteklenen: 1 (post-processed) veya 3 (DFL "
                               "multi-scale).")
                    .arg(outputCount);
        return false;
    }
    if (output0Shape.size() < 3) {
        error = QStringLiteral("Bilinmeyen model çıkışı — beklenen [1,nFeat,nBox] formatı.");
        return false;
    }
    const int64_t nFeat = output0Shape[1];
    if (nFeat > 0 && nFeat != boxOnlyFeatures && nFeat != landmarkFeatures) {
        error = notAFaceModel(nFeat);
        return false;
    }
    // A dynamic feature count is accepted; the run checks the actual one.
    outputLayout = 0;
    landmarks = nFeat == landmarkFeatures;
    return true;
}

bool FaceInferencer::loadModel(const QString &path)
{
    ready = false;
    error.clear();
    // The previous model goes first, so two models never sit in memory at once.
    runtime->session.reset();
    runtime->outputNames.clear();
    try {
        std::unique_ptr<Ort::Session> session = runtime->ort.createSession(path);
        const size_t outputCount = session->GetOutputCount();
        if (session->GetInputCount() == 0) {
            error = QStringLiteral("the model has no input");
            return false;
        }
        if (!classifyOutputs(outputCount, outputCount > 0 ? sessionOutputShape(*session, 0) : std::vector<int64_t>{}))
            return false;

        int newWidth = width;
        int newHeight = height;
        error = readPictureInputSize(*session, newWidth, newHeight);
        if (!error.isEmpty())
            return false;

        runtime->inputName = sessionInputNames(*session).front();
        runtime->outputNames = sessionOutputNames(*session);
        runtime->session = std::move(session);
        width = newWidth;
        height = newHeight;
        loadedPath = path;
        ready = true;
        return true;
    } catch (const std::exception &e) {
        runtime->session.reset();
        runtime->outputNames.clear();
        return keepEngineError(error, loadOperation, QString::fromUtf8(e.what()));
    }
}

QList<FaceDetection> FaceInferencer::run(const QImage &image, float confThreshold, float iouThreshold)
{
    error = pictureRunRefusal(ready && runtime->session, image, QStringLiteral("no face model is loaded"));
    if (!error.isEmpty())
        return {};
    try {
        const PictureInference inference =
            inferOnPicture(*runtime->session, runtime->inputName, image, width, height, runtime->outputNames);
        const std::vector<Ort::Value> &outputs = inference.outputs;
        const LetterboxMapping &mapping = inference.mapping;

        QList<FaceDetection> faces;
        QString why;
        if (outputLayout == 0) {
            const std::optional<FloatTensorView> out = FloatTensorView::from(outputs.at(0), &why);
            if (!out || !out->requireRank(3, &why)) {
                keepEngineError(error, runOperation, why);
                return {};
            }
            const int64_t nFeat = out->dim(1);
            if (nFeat != boxOnlyFeatures && nFeat != landmarkFeatures) {
                keepEngineError(error, runOperation, notAFaceModel(nFeat));
                return {};
            }
            if (!out->requireElements({nFeat, out->dim(2)}, &why)) {
                keepEngineError(error, runOperation, why);
                return {};
            }
            faces = decodeFaceRows({out->data(), out->elementCount()}, nFeat, out->dim(2), mapping, confThreshold);
        } else {
            bool anyScale = false;
            for (const Ort::Value &value : outputs) {
                const std::optional<FloatTensorView> out = FloatTensorView::from(value, &why);
                if (!out) {
                    keepEngineError(error, runOperation, why);
                    return {};
                }
                // Outputs of another shape are no face scale of this head.
                if (out->rank() != 4 || out->dim(1) < gridChannels || out->dim(2) == 0 || out->dim(3) == 0)
                    continue;
                if (!out->requireElements({out->dim(1), out->dim(2), out->dim(3)}, &why)) {
                    keepEngineError(error, runOperation, why);
                    return {};
                }
                anyScale = true;
                const float strideX = float(width) / float(out->dim(3));
                const float strideY = float(height) / float(out->dim(2));
                decodeFaceGrid({out->data(), out->elementCount()}, out->dim(1), out->dim(2), out->dim(3), strideX,
                               strideY, mapping, confThreshold, faces);
            }
            if (!anyScale) {
                keepEngineError(error, runOperation,
                                QStringLiteral("no output has the multi-scale face layout [1,80,H,W]"));
                return {};
            }
        }
        return suppressOverlaps(faces, iouThreshold);
    } catch (const std::exception &e) {
        keepEngineError(error, runOperation, QString::fromUtf8(e.what()));
        return {};
    }
}

FaceInferencer &FaceInferencer::operator=(FaceInferencer &&other) noexcept = default;

} // namespace Quillmark
