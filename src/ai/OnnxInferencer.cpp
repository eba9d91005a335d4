#include "ai/OnnxInferencer.h"

#include "ai/CocoClassNames.h"
#include "ai/DetectionDecoding.h"
#include "ai/FloatTensorView.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OrtRuntime.h"

#include <array>
#include <string>
#include <vector>

namespace Quillmark {

namespace {

// Rows of output 0 before the class scores (box), and after them in a
// segmentation model (mask coefficients).
constexpr int64_t boxRows = 4;
constexpr int64_t segmentationExtraRows = boxRows + maskCoefficientCount;

// Prototype planes [1, 32, height, width], all of them present.
bool prototypeShapeFits(const FloatTensorView &prototypes, QString *why)
{
    const bool shaped = prototypes.rank() == 4 && prototypes.dim(0) >= 1 && prototypes.dim(1) == maskCoefficientCount &&
                        prototypes.dim(2) >= 1 && prototypes.dim(3) >= 1 &&
                        prototypes.dim(2) <= largestPictureInputSide && prototypes.dim(3) <= largestPictureInputSide;
    if (!shaped) {
        *why = QStringLiteral("output shape %1, expected [1,%2,height,width]")
                   .arg(prototypes.shapeText())
                   .arg(maskCoefficientCount);
        return false;
    }
    return prototypes.requireElements({maskCoefficientCount, prototypes.dim(2), prototypes.dim(3)}, why);
}

// Why the class names a model gives itself cannot be those of its class rows,
// or nothing when they can. A model of another kind has rows of other values
// where the scores would be (a pose model's keypoints, a face model's
// landmarks); read as class scores they would label nonsense with made-up
// classes.
QString classRowMismatch(qsizetype nameCount, int64_t classRows)
{
    if (classRows == nameCount)
        return {};
    return QStringLiteral("the model names %1 class(es) but its output holds %2 class score rows; it is not a "
                          "YOLO detection or segmentation model (a pose or face model?)")
        .arg(nameCount)
        .arg(classRows);
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

OnnxInferencer::OnnxInferencer() : runtime(std::make_unique<Runtime>()) {}

OnnxInferencer::~OnnxInferencer() = default;

bool OnnxInferencer::fail(const char *operation, const QString &message, bool log)
{
    return keepEngineError(error, operation, message, log);
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
            const QString problem = pictureInputProblem(shape);
            if (!problem.isEmpty())
                return fail(operation, problem);
            if (shape.size() == 4) {
                if (shape[2] > 0)
                    newHeight = int(shape[2]);
                if (shape[3] > 0)
                    newWidth = int(shape[3]);
            }
        }
        const QStringList modelNames = modelMetadataClassNames(*session);
        const bool checkNames = classNames.isEmpty() && !modelNames.isEmpty();
        const std::vector<int64_t> output0 = sessionOutputShape(*session, 0);
        // Stated class rows only; a candidate-per-row layout is refused by run().
        if (checkNames && output0.size() == 3 && output0[1] > 0 && (output0[2] < 0 || output0[1] <= output0[2])) {
            const int64_t extraRows = outputCount > 1 ? segmentationExtraRows : boxRows;
            const QString problem = classRowMismatch(modelNames.size(), output0[1] - extraRows);
            if (!problem.isEmpty())
                return fail(operation, problem);
        }

        runtime->session = std::move(session);
        runtime->inputName = std::move(inputName);
        runtime->output0Name = std::move(output0Name);
        runtime->output1Name = std::move(output1Name);
        segmentation = outputCount > 1;
        width = newWidth;
        height = newHeight;
        loadedPath = path;
        names = !classNames.isEmpty() ? classNames : !modelNames.isEmpty() ? modelNames : cocoClassNames;
        namesFromModel = checkNames;
        loaded = true;
        return true;
    } catch (const std::exception &e) {
        runtime->session.reset();
        return fail(operation, QString::fromUtf8(e.what()));
    }
}

// What one run of the model gives: its outputs (1, or 2 with the prototypes),
// output 0 checked to hold a row-major [nFeat, n] block whose first classRow
// rows are the box and the class scores, and the letterbox mapping.
struct OnnxInferencer::ModelOutput {
    std::vector<Ort::Value> values;
    std::span<const float> rows; // output 0, borrowed from values
    int64_t nFeat = 0;
    int64_t n = 0;
    int64_t classCount = 0;
    LetterboxMapping mapping;
};

bool OnnxInferencer::runModel(const char *operation, const QImage &image, bool withPrototypes, ModelOutput &output)
{
    error.clear();
    if (!loaded || !runtime->session)
        return fail(operation, QStringLiteral("no model is loaded"), false);
    if (withPrototypes && !segmentation)
        return fail(operation, QStringLiteral("the model is not a segmentation model"), false);
    if (image.isNull())
        return fail(operation, QStringLiteral("no picture to run on"), false);

    const LetterboxResult letterbox = letterboxImage(image, width, height);
    std::vector<float> tensor = imageToChwTensor(letterbox.image);
    if (letterbox.image.isNull() || tensor.size() != size_t(width) * size_t(height) * 3) {
        return fail(operation, QStringLiteral("the %1 x %2 picture could not be prepared for the model (out of memory)")
                                   .arg(image.width())
                                   .arg(image.height()));
    }
    output.values = runtime->infer(tensor, width, height, withPrototypes ? 2 : 1);

    QString why;
    const std::optional<FloatTensorView> out = FloatTensorView::from(output.values.at(0), &why);
    if (!out)
        return fail(operation, why);
    const int64_t extraRows = withPrototypes ? segmentationExtraRows : boxRows;
    if (out->rank() < 3 || out->dim(1) < extraRows + 1) {
        return fail(
            operation,
            QStringLiteral("output shape %1 is not [1, %2 + classes, candidates]").arg(out->shapeText()).arg(extraRows),
            false);
    }
    output.nFeat = out->dim(1);
    output.n = out->dim(2);
    if (!out->requireElements({output.nFeat, output.n}, &why))
        return fail(operation, why);
    // Detectors give far more candidates than values per candidate. More values
    // than candidates is the other common export, one candidate per row
    // ([1, candidates, 4 + classes]); read as columns it would give nonsense.
    if (output.nFeat > output.n) {
        return fail(operation,
                    QStringLiteral("output shape %1 holds one candidate per row; expected "
                                   "[1, %2 + classes, candidates] with a candidate per column")
                        .arg(out->shapeText())
                        .arg(extraRows),
                    false);
    }
    output.rows = std::span<const float>(out->data(), out->elementCount());
    output.classCount = output.nFeat - extraRows;
    if (namesFromModel) {
        const int64_t classRows = output.nFeat - (segmentation ? segmentationExtraRows : boxRows);
        const QString problem = classRowMismatch(names.size(), classRows);
        if (!problem.isEmpty())
            return fail(operation, problem);
    }
    output.mapping = letterboxMapping(letterbox, image.size());
    return true;
}

QList<Detection> OnnxInferencer::run(const QImage &image, float confThreshold, float iouThreshold)
{
    static const char operation[] = "OnnxInferencer::run";
    try {
        ModelOutput output;
        if (!runModel(operation, image, false, output))
            return {};
        const DecodedCandidates candidates = decodeCandidates(output.rows, output.nFeat, output.n, output.classCount,
                                                              output.mapping, confThreshold, names);
        return nmsPerClass(candidates.detections, iouThreshold);
    } catch (const std::exception &e) {
        fail(operation, QString::fromUtf8(e.what()));
        return {};
    }
}

QList<SegDetection> OnnxInferencer::runSeg(const QImage &image, float confThreshold, float iouThreshold)
{
    static const char operation[] = "OnnxInferencer::runSeg";
    try {
        ModelOutput output;
        if (!runModel(operation, image, true, output))
            return {};
        QString why;
        const std::optional<FloatTensorView> prototypes = FloatTensorView::from(output.values.at(1), &why);
        if (!prototypes || !prototypeShapeFits(*prototypes, &why)) {
            fail(operation, QStringLiteral("mask prototypes: %1").arg(why));
            return {};
        }
        // The planes' size follows the model's input (a quarter of it as a rule).
        const PrototypeGrid grid = prototypeGridFor(int(prototypes->dim(3)), int(prototypes->dim(2)), width, height);

        const DecodedCandidates candidates = decodeCandidates(output.rows, output.nFeat, output.n, output.classCount,
                                                              output.mapping, confThreshold, names);
        const std::span<const float> protoValues(prototypes->data(), grid.valueCount());
        const int64_t firstCoefficientRow = output.nFeat - maskCoefficientCount;

        QList<SegDetection> result;
        for (int index : nmsSurvivors(candidates.detections, iouThreshold)) {
            const Detection &detection = candidates.detections[index];
            const int64_t column = candidates.columns[size_t(index)];
            std::array<float, maskCoefficientCount> coefficients;
            for (int k = 0; k < maskCoefficientCount; ++k)
                coefficients[size_t(k)] = output.rows[size_t((firstCoefficientRow + k) * output.n + column)];

            SegDetection instance;
            instance.classId = detection.classId;
            instance.className = detection.className;
            instance.score = detection.score;
            instance.box = detection.box;
            instance.polygon = instanceOutline(protoValues, coefficients, candidates.letterboxBoxes[size_t(index)],
                                               output.mapping, grid);
            result.append(instance);
        }
        return result;
    } catch (const std::exception &e) {
        fail(operation, QString::fromUtf8(e.what()));
        return {};
    }
}

OnnxInferencer &OnnxInferencer::operator=(OnnxInferencer &&other) noexcept = default;

} // namespace Quillmark
