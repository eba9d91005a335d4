#include "ai/Sam3Inferencer.h"

#include "ai/FloatTensorView.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OrtRuntime.h"
#include "model/RegularFile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <string>

namespace Quillmark {

namespace {

constexpr int defaultInputSize = 1008;
constexpr int largestInputSize = 4096;
constexpr qint64 largestNormalisationFile = 1024 * 1024;

const char pixelValuesName[] = "pixel_values";
const char masksName[] = "pred_masks";
const char logitsName[] = "pred_logits";
const char boxesName[] = "pred_boxes";

int64_t indexOf(const std::vector<std::string> &names, const std::string &name)
{
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : int64_t(it - names.begin());
}

bool finiteBox(const float *corners)
{
    return std::all_of(corners, corners + 4, [](float v) { return std::isfinite(v); });
}

// Every value the encoder's input can take is a lookup entry (or the 0 of the
// padding), so the tensor is finite exactly when the lookup is.
bool finiteLookup(const ChannelLookup &lookup)
{
    for (const auto &channel : lookup) {
        if (!std::all_of(channel.begin(), channel.end(), [](float v) { return std::isfinite(v); }))
            return false;
    }
    return true;
}

int checkedInt(int64_t value)
{
    return value < 0 || value > INT_MAX ? -1 : int(value);
}

// The first up to three numbers of a JSON array into `target`; a value that is
// not a number counts as 0. With `positiveOnly`, values that are not above 0
// leave their channel as it was (a zero standard deviation would divide by 0).
void readChannels(const QJsonValue &value, std::array<float, 3> &target, bool positiveOnly)
{
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < std::min<qsizetype>(array.size(), 3); ++i) {
        const float v = float(array.at(i).toDouble(0.0));
        if (positiveOnly && !(v > 0.0f)) {
            qWarning("[SAM3] ignoring the standard deviation %g of channel %d", double(v), int(i));
            continue;
        }
        target[size_t(i)] = v;
    }
}

} // namespace

// One output of the vision encoder for the last encoded image.
struct EncoderOutput {
    std::vector<float> data;
    std::vector<int64_t> shape;
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
};

struct Sam3Inferencer::Runtime {
    // Declared before the sessions, so the sessions are released first.
    OrtRuntime ort{"QuillmarkSAM3", ORT_PROJECTION_CPLUSPLUS};
    std::unique_ptr<Ort::Session> visionEncoder;
    std::unique_ptr<Ort::Session> decoder;
    std::vector<std::string> encoderOutputNames;
    std::vector<EncoderOutput> encoderOutputs;
    std::vector<std::string> decoderInputNames;
    std::vector<std::string> decoderOutputNames;
};

Sam3Inferencer::Sam3Inferencer() : runtime(std::make_unique<Runtime>()) {}

Sam3Inferencer::~Sam3Inferencer() = default;

bool Sam3Inferencer::fail(const QString &message, const char *logPrefix, const QString &detail)
{
    error = message;
    qCritical() << logPrefix << detail;
    return false;
}

bool Sam3Inferencer::loadModels(const QString &visionEncoderPath, const QString &decoderPath,
                                const QString &tokenizerPath)
{
    areModelsLoaded = false;
    isImageEncoded = false;
    error.clear();
    try {
        if (!bpe.load(tokenizerPath)) {
            error = QStringLiteral("Tokenizer: ") + bpe.lastError();
            return false;
        }
        if (!createSessions(visionEncoderPath, decoderPath) || !readModelFacts())
            return false;
        readNormalisation(visionEncoderPath);
        paths = QStringList{visionEncoderPath, decoderPath, tokenizerPath};
        areModelsLoaded = true;
        return true;
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        return fail(QStringLiteral("ONNX load failed (%1): %2").arg(visionEncoderPath, message),
                    "[SAM3] std::exception loading:", message);
    }
}

bool Sam3Inferencer::createSessions(const QString &visionEncoderPath, const QString &decoderPath)
{
    const auto create = [this](const QString &path, std::unique_ptr<Ort::Session> &slot) {
        // The previous model goes first: these models are large, and two of a
        // kind should not sit in memory at once.
        slot.reset();
        try {
            slot = runtime->ort.createSession(path);
            return true;
        } catch (const Ort::Exception &e) {
            error = QStringLiteral("ORT load failed (%1): %2").arg(path, QString::fromUtf8(e.what()));
            qCritical() << "[SAM3] Ort::Exception loading" << path << ":" << e.what();
        } catch (const std::exception &e) {
            error = QStringLiteral("ONNX load failed (%1): %2").arg(path, QString::fromUtf8(e.what()));
            qCritical() << "[SAM3] std::exception loading" << path << ":" << e.what();
        }
        return false;
    };
    qDebug() << "[SAM3] Loading vision encoder...";
    if (!create(visionEncoderPath, runtime->visionEncoder))
        return false;
    qDebug() << "[SAM3] Loading decoder (fused text+decoder)...";
    if (!create(decoderPath, runtime->decoder))
        return false;
    qDebug() << "[SAM3] All sessions loaded.";
    return true;
}

bool Sam3Inferencer::readModelFacts()
{
    Ort::Session &encoder = *runtime->visionEncoder;
    const std::vector<std::string> encoderInputs = sessionInputNames(encoder);
    const int64_t pixelIndex = indexOf(encoderInputs, pixelValuesName);
    if (pixelIndex < 0) {
        const QString text = QStringLiteral("The vision encoder has no input 'pixel_values' (inputs: %1).")
                                 .arg(joinedNames(encoderInputs));
        return fail(text, "[SAM3]", text);
    }
    const Ort::TypeInfo pixelType = encoder.GetInputTypeInfo(size_t(pixelIndex));
    const std::vector<int64_t> pixelShape = pixelType.GetTensorTypeAndShapeInfo().GetShape();
    fixedSide = 0;
    if (pixelShape.size() == 4 && (pixelShape[2] > 0 || pixelShape[3] > 0)) {
        if (pixelShape[2] != pixelShape[3] || pixelShape[2] > largestInputSize) {
            const QString text = QStringLiteral("The vision encoder's input of %1 x %2 pixels is not supported.")
                                     .arg(pixelShape[3]).arg(pixelShape[2]);
            return fail(text, "[SAM3]", text);
        }
        fixedSide = int(pixelShape[2]);
    }

    runtime->encoderOutputNames = sessionOutputNames(encoder);
    runtime->encoderOutputs.assign(runtime->encoderOutputNames.size(), EncoderOutput());

    Ort::Session &decoder = *runtime->decoder;
    runtime->decoderInputNames = sessionInputNames(decoder);
    runtime->decoderOutputNames = sessionOutputNames(decoder);
    if (runtime->decoderInputNames.size() < 2) {
        const QString text = QStringLiteral("The decoder takes %1 input(s); it needs the token ids and the "
                                            "attention mask as its first two.")
                                 .arg(runtime->decoderInputNames.size());
        return fail(text, "[SAM3]", text);
    }
    for (const char *name : {masksName, logitsName, boxesName}) {
        if (indexOf(runtime->decoderOutputNames, name) < 0) {
            const QString text = QStringLiteral("The decoder has no output '%1' (outputs: %2).")
                                     .arg(QLatin1String(name), joinedNames(runtime->decoderOutputNames));
            return fail(text, "[SAM3]", text);
        }
    }
    return true;
}

void Sam3Inferencer::readNormalisation(const QString &visionEncoderPath)
{
    // Only a regular file: a pipe of that name would hold the load, and the
    // program's exit behind it, for good.
    QFile file;
    if (openRegularFile(file, QFileInfo(visionEncoderPath).absolutePath() + QStringLiteral("/sam3_image_norm.json"))
        && file.size() <= largestNormalisationFile) {
        const QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
        readChannels(settings.value(QStringLiteral("mean")), channelMean, false);
        readChannels(settings.value(QStringLiteral("std")), channelStd, true);
        const int size = settings.value(QStringLiteral("size")).toInt(defaultInputSize);
        side = size >= 1 && size <= largestInputSize ? size : defaultInputSize;
    }
    if (fixedSide > 0 && side != fixedSide) {
        qWarning("[SAM3] the vision encoder takes %d x %d pixels; using that size instead of %d",
                 fixedSide, fixedSide, side);
        side = fixedSide;
    }
}

bool Sam3Inferencer::encodeImage(const QImage &image)
{
    isImageEncoded = false;
    error.clear();
    if (!areModelsLoaded) {
        error = QStringLiteral("Models not loaded.");
        return false;
    }
    if (image.isNull()) {
        error = QStringLiteral("Null image.");
        return false;
    }
    try {
        if (!runEncoder(image))
            return false;
        qDebug() << "[SAM3] Vision encoder done.";
        isImageEncoded = true;
        return true;
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        return fail(QStringLiteral("Vision encoder failed: %1").arg(message), "[SAM3] Vision encoder Run failed:",
                    message);
    }
}

bool Sam3Inferencer::runEncoder(const QImage &image)
{
    imageWidth = image.width();
    imageHeight = image.height();

    ChannelLookup lookup;
    for (size_t c = 0; c < 3; ++c) {
        for (int b = 0; b < 256; ++b)
            lookup[c][size_t(b)] = (float(b) / 255.0f - channelMean[c]) / channelStd[c];
    }
    if (!finiteLookup(lookup)) {
        const QString text = QStringLiteral("The picture's values for the vision encoder are not finite numbers: "
                                            "check \"mean\" and \"std\" in sam3_image_norm.json.");
        return fail(text, "[SAM3]", text);
    }
    std::vector<float> tensor(size_t(3) * size_t(side) * size_t(side), 0.0f);
    writePlanarTensor(smoothScaledRgb888(image, side, side), lookup, tensor, side, side);
    const std::array<int64_t, 4> shape{1, 3, side, side};
    Ort::Value input = OrtRuntime::wrapFloatTensor(tensor, shape);

    qDebug() << "[SAM3] Running vision encoder (" << side << "x" << side << ")...";
    const char *inputName = pixelValuesName;
    const std::vector<const char *> outputNames = namePointers(runtime->encoderOutputNames);
    std::vector<Ort::Value> outputs = runtime->visionEncoder->Run(Ort::RunOptions{nullptr}, &inputName, &input, 1,
                                                                  outputNames.data(), outputNames.size());
    std::vector<EncoderOutput> stored(outputs.size());
    for (size_t i = 0; i < outputs.size(); ++i) {
        const Ort::TensorTypeAndShapeInfo info = outputs[i].GetTensorTypeAndShapeInfo();
        stored[i].shape = info.GetShape();
        stored[i].type = info.GetElementType();
        if (stored[i].type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
            const float *data = outputs[i].GetTensorData<float>();
            stored[i].data.assign(data, data + info.GetElementCount());
        }
        outputs[i] = Ort::Value(nullptr); // each copy replaces its source at once
    }
    runtime->encoderOutputs = std::move(stored);
    return true;
}

void Sam3Inferencer::forgetImage()
{
    isImageEncoded = false;
    runtime->encoderOutputs.assign(runtime->encoderOutputNames.size(), EncoderOutput());
}

QList<Sam3Detection> Sam3Inferencer::detect(const QString &text, float presenceThreshold, float maskThreshold)
{
    error.clear();
    if (!areModelsLoaded || !isImageEncoded) {
        error = QStringLiteral("Encode image first.");
        return {};
    }
    try {
        return runDecoder(text, presenceThreshold, maskThreshold);
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        fail(QStringLiteral("Decoder failed: %1").arg(message), "[SAM3] Decoder Run failed:", message);
        return {};
    }
}

QList<Sam3Detection> Sam3Inferencer::runDecoder(const QString &text, float presenceThreshold,
                                                float maskThreshold)
{
    BpeTokenizer::Encoding encoding = bpe.encode(text, tokens);
    const std::array<int64_t, 2> tokenShape{1, tokens};
    const Ort::MemoryInfo memoryInfo = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);

    const std::vector<std::string> &inputNames = runtime->decoderInputNames;
    std::vector<Ort::Value> inputs;
    inputs.push_back(Ort::Value::CreateTensor<int64_t>(memoryInfo, encoding.ids.data(), encoding.ids.size(),
                                                       tokenShape.data(), tokenShape.size()));
    inputs.push_back(Ort::Value::CreateTensor<int64_t>(memoryInfo, encoding.mask.data(), encoding.mask.size(),
                                                       tokenShape.data(), tokenShape.size()));
    for (size_t i = 2; i < inputNames.size(); ++i) {
        const int64_t source = indexOf(runtime->encoderOutputNames, inputNames[i]);
        const QString name = QString::fromStdString(inputNames[i]);
        if (source < 0) {
            const QString message = QStringLiteral("Decoder input '%1' not found in vision encoder outputs.").arg(name);
            fail(message, "[SAM3]", message);
            return {};
        }
        EncoderOutput &feature = runtime->encoderOutputs[size_t(source)];
        if (feature.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
            const QString message = QStringLiteral("Decoder input '%1': the vision encoder gives %2 values, not float.")
                                        .arg(name, FloatTensorView::elementTypeName(feature.type));
            fail(message, "[SAM3]", message);
            return {};
        }
        inputs.push_back(OrtRuntime::wrapFloatTensor(feature.data, feature.shape));
    }

    qDebug() << "[SAM3] Running decoder (" << inputNames.size() << "inputs /"
             << runtime->decoderOutputNames.size() << "outputs)...";
    const std::vector<const char *> inputPointers = namePointers(inputNames);
    const std::vector<const char *> outputPointers = namePointers(runtime->decoderOutputNames);
    std::vector<Ort::Value> outputs;
    try {
        outputs = runtime->decoder->Run(Ort::RunOptions{nullptr}, inputPointers.data(), inputs.data(), inputs.size(),
                                        outputPointers.data(), outputPointers.size());
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        fail(QStringLiteral("Decoder failed: %1").arg(message), "[SAM3] Decoder Run failed:", message);
        return {};
    }
    qDebug() << "[SAM3] Decoder done.";

    // The three outputs by name, checked against their actual shapes.
    QString why;
    const auto output = [&](const char *name) -> std::optional<FloatTensorView> {
        const int64_t index = indexOf(runtime->decoderOutputNames, name);
        if (index < 0 || size_t(index) >= outputs.size())
            return std::nullopt;
        return FloatTensorView::from(outputs[size_t(index)], &why);
    };
    const auto unusable = [&](const char *name) {
        const QString text = why.isEmpty() ? QStringLiteral("Missing decoder outputs.")
                                           : QStringLiteral("Decoder output '%1': %2").arg(QLatin1String(name), why);
        fail(text, "[SAM3]", text);
        return QList<Sam3Detection>();
    };
    const std::optional<FloatTensorView> masks = output(masksName);
    if (!masks || !masks->requireRank(4, &why))
        return unusable(masksName);
    const int queries = masks->dim(0) < 1 ? 0 : checkedInt(masks->dim(1));
    const int maskHeight = checkedInt(masks->dim(2));
    const int maskWidth = checkedInt(masks->dim(3));
    if (queries < 0 || maskHeight < 1 || maskWidth < 1 || !masks->requireElements({queries, maskHeight, maskWidth}, &why)) {
        if (why.isEmpty())
            why = QStringLiteral("output shape %1 holds no masks").arg(masks->shapeText());
        return unusable(masksName);
    }
    const std::optional<FloatTensorView> logits = output(logitsName);
    int64_t logitStride = 1;
    if (logits) {
        for (size_t d = 2; d < logits->rank(); ++d)
            logitStride *= logits->dim(d);
    }
    if (!logits || !logits->requireRank(2, &why) || logitStride < 1 || logits->dim(1) < queries
        || !logits->requireElements({queries, logitStride}, &why)) {
        if (logits && why.isEmpty())
            why = QStringLiteral("output shape %1 does not give a logit per query").arg(logits->shapeText());
        return unusable(logitsName);
    }
    const std::optional<FloatTensorView> boxes = output(boxesName);
    if (!boxes || !boxes->requireRank(3, &why) || boxes->dim(boxes->rank() - 1) != 4 || boxes->dim(1) < queries
        || !boxes->requireElements({queries, 4}, &why)) {
        if (boxes && why.isEmpty())
            why = QStringLiteral("output shape %1 does not give a box per query").arg(boxes->shapeText());
        return unusable(boxesName);
    }

    // The queries that pass, then their masks: at full size at once when all of
    // them fit the budget, else from their logits when asked.
    std::vector<int> kept;
    std::vector<float> scores;
    for (int q = 0; q < queries; ++q) {
        const float l = logits->data()[size_t(q) * size_t(logitStride)];
        const float score = 1.0f / (std::exp(-l) + 1.0f);
        // NaN passes no comparison: a query whose score or box is not a number
        // is dropped, never kept as if it had passed.
        if (!std::isfinite(score) || !(score >= presenceThreshold) || !finiteBox(boxes->data() + size_t(q) * 4))
            continue;
        kept.push_back(q);
        scores.push_back(score);
    }
    const qint64 fullMaskBytes = qint64(kept.size()) * imageWidth * imageHeight;
    const bool fullMasksNow = fullMaskBytes <= maskBudget;
    const size_t cells = size_t(maskWidth) * size_t(maskHeight);

    QList<Sam3Detection> result;
    result.reserve(qsizetype(kept.size()));
    for (size_t k = 0; k < kept.size(); ++k) {
        const int q = kept[k];
        const float *maskLogits = masks->data() + size_t(q) * cells;
        Sam3Detection detection;
        detection.score = scores[k];
        if (fullMasksNow) {
            detection.mask = rasteriseConceptMask(maskLogits, maskWidth, maskHeight, imageWidth, imageHeight,
                                                  maskThreshold);
        } else {
            auto low = std::make_shared<Sam3MaskLogits>();
            low->logits.assign(maskLogits, maskLogits + cells);
            low->width = maskWidth;
            low->height = maskHeight;
            low->imageWidth = imageWidth;
            low->imageHeight = imageHeight;
            low->threshold = maskThreshold;
            detection.lowResolution = std::move(low);
        }
        const float *corners = boxes->data() + size_t(q) * 4;
        const float w = float(imageWidth);
        const float h = float(imageHeight);
        detection.box = QRectF(QPointF(corners[0] * w, corners[1] * h), QPointF(corners[2] * w, corners[3] * h));
        result.append(detection);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Sam3Detection &a, const Sam3Detection &b) { return a.score > b.score; });
    return result;
}

Sam3Inferencer &Sam3Inferencer::operator=(Sam3Inferencer &&other) noexcept = default;

} // namespace Quillmark
