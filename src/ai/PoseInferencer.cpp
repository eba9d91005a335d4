#include "ai/PoseInferencer.h"

#include "ai/FloatTensorView.h"
#include "ai/OrtRuntime.h"
#include "ai/PictureInference.h"
#include "ai/PoseDecoding.h"

#include <optional>
#include <string>
#include <vector>

namespace Quillmark {

namespace {

constexpr char runOperation[] = "PoseInferencer::run";
constexpr char loadOperation[] = "PoseInferencer::loadModel";

constexpr int64_t yoloPoseFixedRows = 5;
constexpr int64_t palmRegressionWidth = 18;
constexpr int palmKeypointCount = 7;

// Why a run's outputs cannot be decoded, or nothing when they can.
using Refusal = std::optional<QString>;

// Output 0 of a YOLO-pose model checked against the keypoint count it was
// loaded with: a row-major [5 + 3K, n] block of floats.
Refusal checkYoloPoseOutput(const Ort::Value &value, int keypointCount, std::optional<FloatTensorView> &view)
{
    QString why;
    view = FloatTensorView::from(value, &why);
    if (!view || !view->requireRank(3, &why))
        return why;
    const int64_t nFeat = yoloPoseFixedRows + 3 * int64_t(keypointCount);
    if (view->dim(1) != nFeat) {
        return QStringLiteral("output shape %1, expected [1,%2,candidates] for %3 keypoints")
            .arg(view->shapeText())
            .arg(nFeat)
            .arg(keypointCount);
    }
    if (!view->requireElements({nFeat, view->dim(2)}, &why))
        return why;
    return std::nullopt;
}

// The palm detector's outputs: 18 regression values and one score per anchor.
Refusal checkPalmOutputs(const Ort::Value &regression, const Ort::Value &scores, int64_t anchors,
                         std::optional<FloatTensorView> &regressionView, std::optional<FloatTensorView> &scoreView)
{
    QString why;
    regressionView = FloatTensorView::from(regression, &why);
    if (!regressionView || !regressionView->requireElements({anchors, palmRegressionWidth}, &why))
        return QStringLiteral("regression output: %1").arg(why);
    scoreView = FloatTensorView::from(scores, &why);
    if (!scoreView || !scoreView->requireElements({anchors, 1}, &why))
        return QStringLiteral("score output: %1").arg(why);
    return std::nullopt;
}

} // namespace

struct PoseInferencer::Runtime {
    // Declared before the session, so the session is released first.
    OrtRuntime ort{"QuillmarkPose"};
    std::unique_ptr<Ort::Session> session;
    std::string inputName;
    std::string firstOutputName;  // YOLO-pose output, or the palm regression output
    std::string secondOutputName; // palm score output
    std::vector<QPointF> anchors; // palm detector only

    void drop()
    {
        session.reset();
        firstOutputName.clear();
        secondOutputName.clear();
        anchors.clear();
    }
};

PoseInferencer::PoseInferencer() : runtime(std::make_unique<Runtime>())
{
    registerPosePersonType();
}

PoseInferencer::~PoseInferencer() = default;

// Tells the kind of the model in runtime->session from its outputs and sets the
// output names (and the anchors of a palm detector). False, with the reason in
// `error`, for a model of neither kind.
bool PoseInferencer::classifyOutputs(int newWidth)
{
    Ort::Session &session = *runtime->session;
    const std::vector<std::string> outputNames = sessionOutputNames(session);
    const size_t outputCount = outputNames.size();
    if (outputCount >= 2) {
        std::optional<size_t> regressionOutput;
        std::optional<size_t> scoreOutput;
        int64_t expectedAnchors = 0;
        for (size_t i = 0; i < outputCount; ++i) {
            const std::vector<int64_t> shape = sessionOutputShape(session, i);
            if (shape.size() != 3)
                continue;
            if (shape[2] == palmRegressionWidth) {
                regressionOutput = i;
                expectedAnchors = shape[1];
            } else if (shape[2] == 1) {
                scoreOutput = i;
            }
        }
        if (regressionOutput && scoreOutput) {
            runtime->firstOutputName = outputNames[*regressionOutput];
            runtime->secondOutputName = outputNames[*scoreOutput];
            runtime->anchors = palmAnchors(newWidth);
            if (int64_t(runtime->anchors.size()) != expectedAnchors) {
                error = QStringLiteral("MediaPipe model anchor mismatch — model expects %1, generated %2.")
                            .arg(expectedAnchors)
                            .arg(runtime->anchors.size());
                return false;
            }
            modelKind = PalmDetectorModel;
            keypoints = palmKeypointCount;
            return true;
        }
    }

    const std::vector<int64_t> shape = outputCount > 0 ? sessionOutputShape(session, 0) : std::vector<int64_t>{};
    const int64_t nFeat = shape.size() >= 3 ? shape[1] : -1;
    if (nFeat < yoloPoseFixedRows + 3 || (nFeat - yoloPoseFixedRows) % 3 != 0) {
        error = QStringLiteral("Not a supported pose model — nFeat=%1 (expected 5 + K×3 YOLO-pose, or a MediaPipe "
                               "palm detector with coords+scores outputs).")
                    .arg(nFeat);
        return false;
    }
    // One class, then the keypoints: a model that names several classes is of
    // another kind whose rows happen to fit (an 80-class segmentation model
    // reads as 37 keypoints).
    const qsizetype classCount = modelMetadataClassNames(session).size();
    if (classCount > 1) {
        error = QStringLiteral("Not a supported pose model — the model names %1 classes; a pose model finds one (a "
                               "person or a hand).")
                    .arg(classCount);
        return false;
    }
    runtime->firstOutputName = outputNames.front();
    keypoints = int((nFeat - yoloPoseFixedRows) / 3);
    return true;
}

bool PoseInferencer::loadModel(const QString &path)
{
    ready = false;
    error.clear();
    modelKind = YoloPoseModel;
    // The previous model goes first, so two models never sit in memory at once.
    runtime->drop();
    try {
        runtime->session = runtime->ort.createSession(path);
        Ort::Session &session = *runtime->session;
        if (session.GetInputCount() == 0) {
            error = QStringLiteral("the model has no input");
            runtime->drop();
            return false;
        }
        int newWidth = width;
        int newHeight = height;
        error = readPictureInputSize(session, newWidth, newHeight);
        if (!error.isEmpty()) {
            runtime->drop();
            return false;
        }
        runtime->inputName = sessionInputNames(session).front();
        if (!classifyOutputs(newWidth)) {
            modelKind = YoloPoseModel;
            runtime->drop();
            return false;
        }
        width = newWidth;
        height = newHeight;
        loadedPath = path;
        ready = true;
        return true;
    } catch (const std::exception &e) {
        runtime->drop();
        modelKind = YoloPoseModel;
        return keepEngineError(error, loadOperation, QString::fromUtf8(e.what()));
    }
}

QList<PosePerson> PoseInferencer::run(const QImage &image, float confThreshold, float iouThreshold,
                                      float keypointThreshold)
{
    error = pictureRunRefusal(ready && runtime->session, image, QStringLiteral("no pose model is loaded"));
    if (!error.isEmpty())
        return {};
    try {
        std::vector<std::string> outputNames{runtime->firstOutputName};
        if (modelKind == PalmDetectorModel)
            outputNames.push_back(runtime->secondOutputName);
        const PictureInference inference =
            inferOnPicture(*runtime->session, runtime->inputName, image, width, height, outputNames);
        const std::vector<Ort::Value> &outputs = inference.outputs;
        const LetterboxMapping &mapping = inference.mapping;

        QList<PosePerson> persons;
        if (modelKind == PalmDetectorModel) {
            const int64_t anchorCount = int64_t(runtime->anchors.size());
            std::optional<FloatTensorView> regression;
            std::optional<FloatTensorView> scores;
            if (const Refusal why = checkPalmOutputs(outputs.at(0), outputs.at(1), anchorCount, regression, scores)) {
                keepEngineError(error, runOperation, *why);
                return {};
            }
            persons =
                decodePalms({regression->data(), regression->elementCount()}, {scores->data(), scores->elementCount()},
                            runtime->anchors, width, height, mapping, confThreshold);
        } else {
            std::optional<FloatTensorView> rows;
            if (const Refusal why = checkYoloPoseOutput(outputs.at(0), keypoints, rows)) {
                keepEngineError(error, runOperation, *why);
                return {};
            }
            persons = decodePoseRows({rows->data(), rows->elementCount()}, keypoints, rows->dim(2), mapping,
                                     confThreshold, keypointThreshold);
        }
        return suppressOverlaps(persons, iouThreshold);
    } catch (const std::exception &e) {
        keepEngineError(error, runOperation, QString::fromUtf8(e.what()));
        return {};
    }
}

PoseInferencer &PoseInferencer::operator=(PoseInferencer &&other) noexcept = default;

} // namespace Quillmark
