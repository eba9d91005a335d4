#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Quillmark {

// What a point-prompt model file is, told by its inputs and outputs: an image
// encoder of the first (one embedding output) or second generation (three
// outputs), or a single-file model that takes the image and the prompts together.
enum class SamModelKind : int {
    None = 0,
    Sam1 = 1,
    Sam2 = 2,
    Combined = 3,
};

// The image prepared for a point-prompt model: the picture scaled so that its
// longer side is 1024 pixels, normalised per channel ((byte - mean) / std with
// the ImageNet statistics) into three planes of 1024 x 1024 floats, the picture
// at the top-left corner and zeros beyond it.
struct SamPreparedImage {
    std::vector<float> tensor; // 3 x 1024 x 1024
    int width = 0;             // the scaled picture's size
    int height = 0;
    float scale = 1.0f;        // 1024 / the longer side of the source
};
SamPreparedImage prepareSamImage(const QImage &image);

// The mask a decode chose, as the model gave it: width x height logits, row by
// row, and its index among the model's masks.
struct SamMask {
    std::vector<float> logits;
    int width = 0;
    int height = 0;
    int index = 0;
};

// Outline of the positive logits (> 0) of a mask: the left edge of each row's
// first positive cell going down, then one past its last positive cell coming
// back up, at the row's middle (y + 0.5); simplified with tolerance 1.5. Empty
// when no logit is positive.
QList<QPointF> samLogitsToPolygon(const float *logits, int width, int height);

// Segments one object of an image from clicked points with a SAM-family ONNX
// model. loadEncoder opens and classifies a model file; encodeImage prepares the
// current picture once (and runs a separate encoder on it); decode turns the
// positive and negative points of each click into one outline in image pixels.
// Only a single-file model (kind Combined) can decode; separate encoders load
// and encode, but decode refuses. A prompt decoder on its own (no image input)
// is refused at load.
//
// Every operation catches the runtime's errors: a failure is a false or empty
// result with lastError() saying why (cleared at the start of each operation),
// logged as a warning ("SAM loadEncoder: ..."). Used on one thread.
class SamInferencer {
public:
    SamInferencer(); // throws Ort::Exception when the runtime cannot start
    ~SamInferencer();

    SamInferencer(const SamInferencer &) = delete;
    SamInferencer &operator=(const SamInferencer &) = delete;
    // Takes over an engine whose model was opened on a worker thread.
    SamInferencer &operator=(SamInferencer &&other) noexcept;

    bool loadEncoder(const QString &path);
    bool encodeImage(const QImage &image);
    // The outline of the object the points mark, in image pixels; empty when the
    // decode failed (lastError() set) or found no mask (lastError() empty).
    QList<QPointF> decode(const QList<QPointF> &positive, const QList<QPointF> &negative);
    // The chosen mask of a decode, before it is traced; none on failure.
    std::optional<SamMask> decodeMask(const QList<QPointF> &positive, const QList<QPointF> &negative);

    SamModelKind kind() const { return modelKind; }
    bool encoderLoaded() const { return isEncoderLoaded; }
    bool decoderReady() const { return isDecoderReady; }
    bool imageEncoded() const { return isImageEncoded; }
    // Drops the encoding of the last picture (its memory too); the model stays.
    void forgetImage();
    int origWidth() const { return originalWidth; }
    int origHeight() const { return originalHeight; }
    float scale() const { return imageScale; }
    QString lastError() const { return error; }

private:
    struct Runtime;
    struct DecodedMasks;

    bool fail(const char *operation, const QString &message);
    bool runDecoder(const QList<QPointF> &positive, const QList<QPointF> &negative, DecodedMasks &out);
    bool storeEncoderOutputs(std::vector<float> &tensor);

    std::unique_ptr<Runtime> runtime;
    SamModelKind modelKind = SamModelKind::None;
    bool isEncoderLoaded = false;
    bool isDecoderReady = false;
    bool isImageEncoded = false;
    int originalWidth = 0;
    int originalHeight = 0;
    float imageScale = 1.0f;
    QString error;
};

} // namespace Quillmark
