#include "ai/OnnxInferencer.h"

#include "ai/CocoClassNames.h"
#include "ai/DetectionDecoding.h"
#include "ai/FloatTensorView.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OrtRuntime.h"

#include <QRegularExpression>
#include <QtDebug>

#include <array>
#include <string>
#include <vector>

namespace Quillmark {

namespace {

// Inputs larger than this on a side are refused: their tensor alone would take
// gigabytes, and no detector is trained at such sizes.
constexpr int64_t largestInputSide = 8192;

// Rows of output 0 before the class scores (box), and after them in a
// segmentation model (mask coefficients).
constexpr int64_t boxRows = 4;
constexpr int64_t segmentationExtraRows = boxRows + maskCoefficientCount;

// Class names of the model's "names" metadata, e.g. "{0: 'person', 1: 'car'}";
// none when the entry is missing or unreadable.
QStringList metadataClassNames(Ort::Session &session)
{
    static const QRegularExpression quoted(QStringLiteral("['\"]([^'\"]+)['\"]"));
    QStringList result;
    try {
        Ort::AllocatorWithDefaultOptions allocator;
        const Ort::ModelMetadata metadata = session.GetModelMetadata();
        const auto keys = metadata.GetCustomMetadataMapKeysAllocated(allocator);
        for (const auto &key : keys) {
            if (std::string(key.get()) != "names")
                continue;
            const auto value = metadata.LookupCustomMetadataMapAllocated("names", allocator);
            if (!value)
                break;
            auto matches = quoted.globalMatch(QString::fromUtf8(value.get()));
            while (matches.hasNext())
                result.append(matches.next().captured(1));
            break;
        }
    } catch (const std::exception &) {
        // Unreadable metadata leaves the names read so far.
    }
    return result;
}

LetterboxMapping mappingOf(const LetterboxResult &letterbox, const QImage &image)
{
    LetterboxMapping mapping;
    mapping.scale = letterbox.scale;
    mapping.padX = letterbox.padX;
    mapping.padY = letterbox.padY;
    mapping.imageWidth = image.width();
    mapping.imageHeight = image.height();
    return mapping;
}

} // namespace

struct OnnxInferencer::Runtime {
    // Declared before the session, so the session is released first.
    OrtRuntime ort{"Quillmark"};
    std::unique_ptr<Ort::Session> session;
    std::string inputName;
    std::string output0Name;
    std::string output1Name;

    // Runs the model on a [1, 3, height, width] tensor over `tensor` and returns
    // the first outputCount outputs (1 or 2).
    std::vector<Ort::Value> infer(std::vector<float> &tensor, int width, int height, size_t outputCount)
    {
        const std::array<int64_t, 4> shape{1, 3, height, width};
        Ort::Value input = OrtRuntime::wrapFloatTensor(tensor, shape);
        const char *inputNames[] = {inputName.c_str()};
        const char *outputNames[] = {output0Name.c_str(), output1Name.c_str()};
        return session->Run(Ort::RunOptions{nullptr}, inputNames, &input, 1, outputNames, outputCount);
    }
};

OnnxInferencer::OnnxInferencer()
    : runtime(std::make_unique<Runtime>())
{
}

OnnxInferencer::~OnnxInferencer() = default;

bool OnnxInferencer::fail(const char *operation, const QString &message, bool log)
{
    error = message;
    if (log)
        qWarning("%s: %s", operation, qUtf8Printable(message));
    return false;
}

bool OnnxInferencer::loadModel(const QString &path, const QStringList &classNames)
{
    static const char operation[] = "OnnxInferencer::loadModel";
    loaded = false;
    error.clear();
    // The previous model goes first, so two models never sit in memory at once.
    runtime->session.reset();
    try {
        std::unique_ptr<Ort::Session> session = runtime->ort.createSession(path);
        const size_t inputCount = session->GetInputCount();
        const size_t outputCount = session->GetOutputCount();
        if (inputCount == 0 || outputCount == 0)
            return fail(operation, QStringLiteral("the model has no inputs or no outputs"));

        Ort::AllocatorWithDefaultOptions allocator;
        std::string inputName = session->GetInputNameAllocated(0, allocator).get();
        std::string output0Name = session->GetOutputNameAllocated(0, allocator).get();
        std::string output1Name;
        if (outputCount > 1)
            output1Name = session->GetOutputNameAllocated(1, allocator).get();

        int newWidth = width;
        int newHeight = height;
        const Ort::TypeInfo inputType = session->GetInputTypeInfo(0);
        if (inputType.GetONNXType() == ONNX_TYPE_TENSOR) {
            const std::vector<int64_t> shape = inputType.GetTensorTypeAndShapeInfo().GetShape();
            if (shape.size() == 4) {
                if (shape[2] > largestInputSide || shape[3] > largestInputSide) {
                    return fail(operation, QStringLiteral("the model's input of %1 x %2 pixels is too large")
                                               .arg(shape[3]).arg(shape[2]));
                }
                if (shape[2] > 0)
                    newHeight = int(shape[2]);
                if (shape[3] > 0)
                    newWidth = int(shape[3]);
            }
        }
        const QStringList modelNames = metadataClassNames(*session);

        runtime->session = std::move(session);
        runtime->inputName = std::move(inputName);
        runtime->output0Name = std::move(output0Name);
        runtime->output1Name = std::move(output1Name);
        segmentation = outputCount > 1;
        width = newWidth;
        height = newHeight;
        loadedPath = path;
        names = !classNames.isEmpty() ? classNames : !modelNames.isEmpty() ? modelNames : cocoClassNames;
        loaded = true;
        return true;
    } catch (const std::exception &e) {
        runtime->session.reset();
        return fail(operation, QString::fromUtf8(e.what()));
    }
}

QList<Detection> OnnxInferencer::run(const QImage &image, float confThreshold, float iouThreshold)
{
    static const char operation[] = "OnnxInferencer::run";
    error.clear();
    if (!loaded || !runtime->session) {
        fail(operation, QStringLiteral("no model is loaded"), false);
        return {};
    }
    if (image.isNull()) {
        fail(operation, QStringLiteral("no picture to run on"), false);
        return {};
    }
    try {
        const LetterboxResult letterbox = letterboxImage(image, width, height);
        std::vector<float> tensor = imageToChwTensor(letterbox.image);
        const std::vector<Ort::Value> outputs = runtime->infer(tensor, width, height, 1);

        QString why;
        const std::optional<FloatTensorView> out = FloatTensorView::from(outputs.at(0), &why);
        if (!out) {
            fail(operation, why);
            return {};
        }
        if (out->rank() < 3 || out->dim(1) < boxRows + 1) {
            fail(operation, QStringLiteral("output shape %1 is not [1, 4 + classes, candidates]")
                                .arg(out->shapeText()), false);
            return {};
        }
        const int64_t nFeat = out->dim(1);
        const int64_t n = out->dim(2);
        if (!out->requireElements({nFeat, n}, &why)) {
            fail(operation, why);
            return {};
        }
        const DecodedCandidates candidates =
            decodeCandidates({out->data(), out->elementCount()}, nFeat, n, nFeat - boxRows,
                             mappingOf(letterbox, image), confThreshold, names);
        return nmsPerClass(candidates.detections, iouThreshold);
    } catch (const std::exception &e) {
        fail(operation, QString::fromUtf8(e.what()));
        return {};
    }
}

QList<SegDetection> OnnxInferencer::runSeg(const QImage &image, float confThreshold, float iouThreshold)
{
    static const char operation[] = "OnnxInferencer::runSeg";
    error.clear();
    if (!loaded || !runtime->session) {
        fail(operation, QStringLiteral("no model is loaded"), false);
        return {};
    }
    if (!segmentation) {
        fail(operation, QStringLiteral("the model is not a segmentation model"), false);
        return {};
    }
    if (image.isNull()) {
        fail(operation, QStringLiteral("no picture to run on"), false);
        return {};
    }
    try {
        const LetterboxResult letterbox = letterboxImage(image, width, height);
        std::vector<float> tensor = imageToChwTensor(letterbox.image);
        const std::vector<Ort::Value> outputs = runtime->infer(tensor, width, height, 2);

        QString why;
        const std::optional<FloatTensorView> out = FloatTensorView::from(outputs.at(0), &why);
        if (!out) {
            fail(operation, why);
            return {};
        }
        if (out->rank() < 3 || out->dim(1) < segmentationExtraRows + 1) {
            fail(operation, QStringLiteral("output shape %1 is not [1, 36 + classes, candidates]")
                                .arg(out->shapeText()), false);
            return {};
        }
        const int64_t nFeat = out->dim(1);
        const int64_t n = out->dim(2);
        if (!out->requireElements({nFeat, n}, &why)) {
            fail(operation, why);
            return {};
        }
        const std::optional<FloatTensorView> prototypes = FloatTensorView::from(outputs.at(1), &why);
        if (!prototypes
            || !prototypes->requireShape({1, maskCoefficientCount, maskSize, maskSize}, &why)) {
            fail(operation, QStringLiteral("mask prototypes: %1").arg(why));
            return {};
        }

        const LetterboxMapping mapping = mappingOf(letterbox, image);
        const std::span<const float> rows(out->data(), out->elementCount());
        const DecodedCandidates candidates = decodeCandidates(
            rows, nFeat, n, nFeat - segmentationExtraRows, mapping, confThreshold, names);
        const std::span<const float> protoValues(prototypes->data(), prototypes->elementCount());
        const int64_t firstCoefficientRow = nFeat - maskCoefficientCount;

        QList<SegDetection> result;
        for (int index : nmsSurvivors(candidates.detections, iouThreshold)) {
            const Detection &detection = candidates.detections[index];
            const int64_t column = candidates.columns[size_t(index)];
            std::array<float, maskCoefficientCount> coefficients;
            for (int k = 0; k < maskCoefficientCount; ++k)
                coefficients[size_t(k)] = rows[size_t((firstCoefficientRow + k) * n + column)];

            SegDetection instance;
            instance.classId = detection.classId;
            instance.className = detection.className;
            instance.score = detection.score;
            instance.box = detection.box;
            instance.polygon = instanceOutline(protoValues, coefficients,
                                               candidates.letterboxBoxes[size_t(index)], mapping);
            result.append(instance);
        }
        return result;
    } catch (const std::exception &e) {
        fail(operation, QString::fromUtf8(e.what()));
        return {};
    }
}

} // namespace Quillmark
