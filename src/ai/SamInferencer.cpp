#include "ai/SamInferencer.h"

#include "ai/FloatTensorView.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OrtRuntime.h"
#include "ai/OutlineTracing.h"

#include <QStringList>
#include <QtDebug>

#include <algorithm>
#include <array>
#include <climits>
#include <string>

namespace Quillmark {

namespace {

constexpr int samSide = 1024;
constexpr size_t samPlane = size_t(samSide) * samSide;
constexpr size_t embeddingValues = size_t(256) * 64 * 64;
constexpr size_t highResFeats0Values = size_t(32) * 256 * 256;
constexpr size_t highResFeats1Values = size_t(64) * 128 * 128;
constexpr size_t maskInputValues = size_t(256) * 256;

// ImageNet statistics on the byte scale, R, G, B.
constexpr float pixelMean[3] = {123.675f, 116.28f, 103.53f};
constexpr float pixelStd[3] = {58.395f, 57.12f, 57.375f};

const ChannelLookup &normalisation()
{
    static const ChannelLookup table = [] {
        ChannelLookup t;
        for (int c = 0; c < 3; ++c) {
            for (int b = 0; b < 256; ++b)
                t[size_t(c)][size_t(b)] = (float(b) - pixelMean[c]) / pixelStd[c];
        }
        return t;
    }();
    return table;
}

const char *kindWord(SamModelKind kind)
{
    switch (kind) {
    case SamModelKind::Combined: return "Combined";
    case SamModelKind::Sam2: return "SAM2";
    default: return "SAM1";
    }
}

// The inputs a single-file model may take; the program feeds each of them.
const QStringList &combinedInputNames()
{
    static const QStringList names{"image", "point_coords", "point_labels", "mask_input",
                                   "has_mask_input", "orig_im_size"};
    return names;
}

// Why a model with five or more inputs cannot decode on its own; empty when it
// can: it must take the image itself, and nothing the program cannot feed.
QString combinedModelProblem(Ort::Session &session, const std::vector<std::string> &inputs)
{
    const auto has = [&](const char *name) { return std::find(inputs.begin(), inputs.end(), name) != inputs.end(); };
    if (!has("image") || has("image_embeddings")) {
        return QStringLiteral("the model is a prompt decoder without an image input (%1); choose a "
                              "single-file SAM model such as segmentation_mobile_sam.onnx")
            .arg(joinedNames(inputs));
    }
    for (const std::string &name : inputs) {
        if (!combinedInputNames().contains(QString::fromStdString(name)))
            return QStringLiteral("the model needs an input '%1' that a point-prompt model does not take")
                .arg(QString::fromStdString(name));
    }
    const size_t imageIndex = size_t(std::find(inputs.begin(), inputs.end(), "image") - inputs.begin());
    const Ort::TypeInfo type = session.GetInputTypeInfo(imageIndex);
    if (type.GetONNXType() != ONNX_TYPE_TENSOR)
        return QStringLiteral("the model's image input is not a tensor");
    const auto info = type.GetTensorTypeAndShapeInfo();
    if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
        return QStringLiteral("the model's image input holds %1 values, expected float")
            .arg(FloatTensorView::elementTypeName(info.GetElementType()));
    }
    const std::vector<int64_t> shape = info.GetShape();
    const std::array<int64_t, 4> expected{1, 3, samSide, samSide};
    bool fits = shape.size() == expected.size();
    for (size_t i = 0; fits && i < shape.size(); ++i)
        fits = shape[i] <= 0 || shape[i] == expected[i];
    if (!fits) {
        QStringList dims;
        for (int64_t d : shape)
            dims << QString::number(d);
        return QStringLiteral("the model's image input is [%1], expected [1,3,1024,1024]").arg(dims.join(','));
    }
    return {};
}

// Copies the first `count` values of an encoder output; false, with the reason,
// when the output is not float or holds fewer values.
bool copyOutput(const Ort::Value &value, size_t count, std::vector<float> &target, QString *reason)
{
    const std::optional<FloatTensorView> view = FloatTensorView::from(value, reason);
    if (!view)
        return false;
    if (view->elementCount() < count) {
        *reason = QStringLiteral("output shape %1 holds %2 values, expected %3")
                      .arg(view->shapeText()).arg(view->elementCount()).arg(count);
        return false;
    }
    target.assign(view->data(), view->data() + count);
    return true;
}

int checkedInt(int64_t value)
{
    return value < 0 || value > INT_MAX ? -1 : int(value);
}

// Whether an outline in picture pixels encloses any of the picture. A mask that
// lies only in the padding of the model's square is clamped onto the picture's
// edge, a flat outline with nothing inside: that is no mask.
bool coversPicture(const QList<QPointF> &outline)
{
    constexpr double smallestArea = 0.5; // square pixels
    return enclosedArea(outline) >= smallestArea;
}

} // namespace

SamPreparedImage prepareSamImage(const QImage &image)
{
    SamPreparedImage prepared;
    if (image.isNull())
        return prepared;
    const int w = image.width();
    const int h = image.height();
    prepared.scale = float(samSide) / float(std::max(w, h));
    prepared.width = std::clamp(int(float(w) * prepared.scale + 0.5f), 1, samSide);
    prepared.height = std::clamp(int(float(h) * prepared.scale + 0.5f), 1, samSide);
    const QImage scaled = smoothScaledRgb888(image, prepared.width, prepared.height);
    prepared.tensor.assign(3 * samPlane, 0.0f);
    writePlanarTensor(scaled, normalisation(), prepared.tensor, samSide, samSide);
    return prepared;
}

QList<QPointF> samLogitsToPolygon(const float *logits, int width, int height)
{
    if (!logits || width <= 0 || height <= 0)
        return {};
    QList<QPointF> lefts;
    QList<QPointF> rights;
    for (int r = 0; r < height; ++r) {
        const float *row = logits + size_t(r) * size_t(width);
        int first = 0;
        while (first < width && !(row[first] > 0.0f))
            ++first;
        if (first == width)
            continue;
        int last = width - 1;
        while (!(row[last] > 0.0f))
            --last;
        const double y = r + 0.5;
        lefts.append(QPointF(first, y));
        rights.append(QPointF(last + 1, y));
    }
    if (lefts.isEmpty())
        return {};
    QList<QPointF> outline = std::move(lefts);
    outline.reserve(outline.size() + rights.size());
    for (auto it = rights.crbegin(); it != rights.crend(); ++it)
        outline.append(*it);
    return simplifyPolygon(outline, 1.5);
}

struct SamInferencer::Runtime {
    // Declared before the session, so the session is released first.
    OrtRuntime ort{"QuillmarkSAM"};
    std::unique_ptr<Ort::Session> session;
    std::string firstInputName;
    std::vector<std::string> outputNames;
    std::vector<std::string> inputNames;         // single-file models only
    std::vector<std::string> decoderOutputNames; // single-file models only

    std::vector<float> imageEmbeddings; // SAM1 encoder
    std::vector<float> imageEmbed;      // SAM2 encoder, outputs 0 to 2
    std::vector<float> highResFeats0;
    std::vector<float> highResFeats1;
    std::vector<float> preparedImage;   // single-file models
};

// The outputs of one decoder run, and where in them the chosen mask lies.
struct SamInferencer::DecodedMasks {
    std::vector<Ort::Value> outputs;
    const float *chosen = nullptr;
    int width = 0;
    int height = 0;
    int index = 0;
};

SamInferencer::SamInferencer()
    : runtime(std::make_unique<Runtime>())
{
}

SamInferencer::~SamInferencer() = default;

bool SamInferencer::fail(const char *operation, const QString &message)
{
    return keepEngineError(error, operation, message);
}

bool SamInferencer::loadEncoder(const QString &path)
{
    static const char operation[] = "SAM loadEncoder";
    modelKind = SamModelKind::None;
    isEncoderLoaded = false;
    isDecoderReady = false;
    isImageEncoded = false;
    error.clear();
    try {
        // The previous model goes first, so two models never sit in memory at once.
        runtime->session.reset();
        runtime->preparedImage = {};
        std::unique_ptr<Ort::Session> session = runtime->ort.createSession(path);
        const std::vector<std::string> inputs = sessionInputNames(*session);
        const std::vector<std::string> outputs = sessionOutputNames(*session);
        if (inputs.empty() || outputs.empty())
            return fail(operation, QStringLiteral("the model has no inputs or no outputs"));

        SamModelKind kind = outputs.size() < 3 ? SamModelKind::Sam1 : SamModelKind::Sam2;
        if (inputs.size() >= 5) {
            const QString problem = combinedModelProblem(*session, inputs);
            if (!problem.isEmpty())
                return fail(operation, problem);
            kind = SamModelKind::Combined;
        }

        runtime->session = std::move(session);
        runtime->firstInputName = inputs.front();
        runtime->outputNames = outputs;
        runtime->inputNames.clear();
        runtime->decoderOutputNames.clear();
        if (kind == SamModelKind::Combined) {
            runtime->inputNames = inputs;
            runtime->decoderOutputNames = outputs;
            isDecoderReady = true;
        }
        modelKind = kind;
        isEncoderLoaded = true;
        qDebug("SAM loadEncoder: %s (%s, %d inputs, %d outputs)", path.toLocal8Bit().constData(),
               kindWord(kind), int(inputs.size()), int(outputs.size()));
        return true;
    } catch (const std::exception &e) {
        runtime->session.reset();
        return fail(operation, QString::fromUtf8(e.what()));
    }
}

bool SamInferencer::encodeImage(const QImage &image)
{
    static const char operation[] = "SAM encodeImage";
    error.clear();
    if (!isEncoderLoaded) {
        error = QStringLiteral("Encoder not loaded");
        return false;
    }
    // The encoding of an earlier picture is no longer the current one, whether
    // or not this one succeeds.
    isImageEncoded = false;
    if (image.isNull()) {
        error = QStringLiteral("No image to encode");
        return false;
    }
    try {
        SamPreparedImage prepared = prepareSamImage(image);
        if (modelKind == SamModelKind::Combined)
            runtime->preparedImage = std::move(prepared.tensor);
        else if (!storeEncoderOutputs(prepared.tensor))
            return false;
        originalWidth = image.width();
        originalHeight = image.height();
        imageScale = prepared.scale;
        isImageEncoded = true;
        return true;
    } catch (const std::exception &e) {
        return fail(operation, QString::fromUtf8(e.what()));
    }
}

bool SamInferencer::storeEncoderOutputs(std::vector<float> &tensor)
{
    static const char operation[] = "SAM encodeImage";
    const std::array<int64_t, 4> shape{1, 3, samSide, samSide};
    Ort::Value input = OrtRuntime::wrapFloatTensor(tensor, shape);
    const char *inputName = runtime->firstInputName.c_str();
    const std::vector<const char *> outputNames = namePointers(runtime->outputNames);
    std::vector<Ort::Value> outputs = runtime->session->Run(Ort::RunOptions{nullptr}, &inputName, &input, 1,
                                                            outputNames.data(), outputNames.size());
    QString why;
    if (modelKind == SamModelKind::Sam2) {
        std::vector<float> embed, feats0, feats1;
        if (outputs.size() < 3 || !copyOutput(outputs[0], embeddingValues, embed, &why)
            || !copyOutput(outputs[1], highResFeats0Values, feats0, &why)
            || !copyOutput(outputs[2], highResFeats1Values, feats1, &why)) {
            return fail(operation, QStringLiteral("encoder output: %1").arg(why));
        }
        runtime->imageEmbed = std::move(embed);
        runtime->highResFeats0 = std::move(feats0);
        runtime->highResFeats1 = std::move(feats1);
        return true;
    }
    std::vector<float> embeddings;
    if (outputs.empty() || !copyOutput(outputs[0], embeddingValues, embeddings, &why))
        return fail(operation, QStringLiteral("encoder output: %1").arg(why));
    runtime->imageEmbeddings = std::move(embeddings);
    return true;
}

bool SamInferencer::runDecoder(const QList<QPointF> &positive, const QList<QPointF> &negative,
                               DecodedMasks &out)
{
    static const char operation[] = "SAM1 decode";
    error.clear();
    if (!isDecoderReady || !isImageEncoded || (positive.isEmpty() && negative.isEmpty())) {
        error = QStringLiteral("Decoder not ready or no prompts");
        return false;
    }
    try {
        // The points in the 1024 frame of the prepared image, then the padding
        // point (0, 0) labelled -1.
        const int64_t n = positive.size() + negative.size() + 1;
        std::vector<float> coords;
        std::vector<float> labels;
        coords.reserve(size_t(n) * 2);
        labels.reserve(size_t(n));
        for (const QPointF &p : positive) {
            coords.insert(coords.end(), {float(p.x()) * imageScale, float(p.y()) * imageScale});
            labels.push_back(1.0f);
        }
        for (const QPointF &p : negative) {
            coords.insert(coords.end(), {float(p.x()) * imageScale, float(p.y()) * imageScale});
            labels.push_back(0.0f);
        }
        coords.insert(coords.end(), {0.0f, 0.0f});
        labels.push_back(-1.0f);
        std::vector<float> maskInput(maskInputValues, 0.0f);
        std::vector<float> hasMaskInput{0.0f};
        std::vector<float> origSize{float(originalHeight), float(originalWidth)};

        std::vector<const char *> inputNames;
        std::vector<Ort::Value> inputs;
        for (const std::string &name : runtime->inputNames) {
            const auto add = [&](std::vector<float> &buffer, std::initializer_list<int64_t> shape) {
                inputNames.push_back(name.c_str());
                inputs.push_back(OrtRuntime::wrapFloatTensor(buffer, std::span<const int64_t>(shape.begin(), shape.size())));
            };
            if (name == "image")
                add(runtime->preparedImage, {1, 3, samSide, samSide});
            else if (name == "point_coords")
                add(coords, {1, n, 2});
            else if (name == "point_labels")
                add(labels, {1, n});
            else if (name == "mask_input")
                add(maskInput, {1, 1, 256, 256});
            else if (name == "has_mask_input")
                add(hasMaskInput, {1});
            else if (name == "orig_im_size")
                add(origSize, {2});
        }
        const std::vector<const char *> outputNames = namePointers(runtime->decoderOutputNames);
        out.outputs = runtime->session->Run(Ort::RunOptions{nullptr}, inputNames.data(), inputs.data(),
                                            inputs.size(), outputNames.data(), outputNames.size());

        QString why;
        const std::optional<FloatTensorView> masks =
            out.outputs.empty() ? std::nullopt : FloatTensorView::from(out.outputs[0], &why);
        if (!masks)
            return fail(operation, QStringLiteral("mask output: %1").arg(why.isEmpty() ? QStringLiteral("missing") : why));
        if (!masks->requireRank(4, &why))
            return fail(operation, QStringLiteral("mask output: %1").arg(why));
        const int count = checkedInt(masks->dim(1));
        out.height = checkedInt(masks->dim(2));
        out.width = checkedInt(masks->dim(3));
        if (masks->dim(0) < 1 || count < 1 || out.height < 1 || out.width < 1)
            return fail(operation, QStringLiteral("mask output %1 holds no mask").arg(masks->shapeText()));
        if (!masks->requireElements({count, out.height, out.width}, &why))
            return fail(operation, QStringLiteral("mask output: %1").arg(why));

        out.index = 0;
        if (out.outputs.size() >= 2 && count >= 2) {
            const std::optional<FloatTensorView> scores = FloatTensorView::from(out.outputs[1], &why);
            if (!scores || !scores->requireElements({count}, &why))
                return fail(operation, QStringLiteral("score output: %1").arg(why));
            const float *values = scores->data();
            out.index = int(std::max_element(values, values + count) - values);
        }
        out.chosen = masks->data() + size_t(out.index) * size_t(out.height) * size_t(out.width);
        return true;
    } catch (const std::exception &e) {
        return fail(operation, QString::fromUtf8(e.what()));
    }
}

QList<QPointF> SamInferencer::decode(const QList<QPointF> &positive, const QList<QPointF> &negative)
{
    DecodedMasks masks;
    if (!runDecoder(positive, negative, masks))
        return {};
    try {
        QList<QPointF> outline = samLogitsToPolygon(masks.chosen, masks.width, masks.height);
        if (masks.width == originalWidth && masks.height == originalHeight)
            return coversPicture(outline) ? outline : QList<QPointF>();
        float rx = float(originalWidth) / float(masks.width);
        float ry = float(originalHeight) / float(masks.height);
        if (masks.width == masks.height && originalWidth != originalHeight) {
            // A square mask of a picture that is not square covers the padded
            // 1024 square the picture was encoded in (the low-resolution masks
            // of a model that does not crop to the picture), not the picture:
            // stretched onto the picture it would land off along the short
            // side. That square is the picture's longest side wide.
            rx = ry = float(std::max(originalWidth, originalHeight)) / float(masks.width);
        }
        for (QPointF &p : outline) {
            p.setX(std::clamp(float(p.x()) * rx, 0.0f, float(originalWidth)));
            p.setY(std::clamp(float(p.y()) * ry, 0.0f, float(originalHeight)));
        }
        return coversPicture(outline) ? outline : QList<QPointF>();
    } catch (const std::exception &e) {
        fail("SAM1 decode", QString::fromUtf8(e.what()));
        return {};
    }
}

void SamInferencer::forgetImage()
{
    isImageEncoded = false;
    runtime->imageEmbeddings = {};
    runtime->imageEmbed = {};
    runtime->highResFeats0 = {};
    runtime->highResFeats1 = {};
    runtime->preparedImage = {};
}

std::optional<SamMask> SamInferencer::decodeMask(const QList<QPointF> &positive, const QList<QPointF> &negative)
{
    DecodedMasks masks;
    if (!runDecoder(positive, negative, masks))
        return std::nullopt;
    try {
        SamMask mask;
        mask.width = masks.width;
        mask.height = masks.height;
        mask.index = masks.index;
        mask.logits.assign(masks.chosen, masks.chosen + size_t(masks.width) * size_t(masks.height));
        return mask;
    } catch (const std::exception &e) {
        fail("SAM1 decode", QString::fromUtf8(e.what()));
        return std::nullopt;
    }
}

SamInferencer &SamInferencer::operator=(SamInferencer &&other) noexcept = default;

} // namespace Quillmark
