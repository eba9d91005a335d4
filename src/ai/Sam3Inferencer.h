#pragma once

#include "ai/BpeTokenizer.h"
#include "ai/Sam3Detection.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

namespace Quillmark {

// Segments every instance of a concept named in free text ("person", "red car")
// in one image, with two ONNX models and a BPE tokenizer: a vision encoder that
// turns the image into named feature tensors (encodeImage, once per image), and
// a fused text-and-mask decoder that takes the tokenised prompt and those
// features and gives a mask, a logit and a box per query (detect, once per
// prompt).
//
// Every operation catches the runtime's errors: a failure is a false or empty
// result with lastError() saying why; lastError() is cleared when an operation
// starts, so an empty detect() with an empty lastError() found nothing. Failures
// are logged at critical level with the prefix "[SAM3]". Used on one thread.
class Sam3Inferencer {
public:
    Sam3Inferencer(); // throws Ort::Exception when the runtime cannot start
    ~Sam3Inferencer();

    Sam3Inferencer(const Sam3Inferencer &) = delete;
    Sam3Inferencer &operator=(const Sam3Inferencer &) = delete;
    // Takes over an engine whose model was opened on a worker thread.
    Sam3Inferencer &operator=(Sam3Inferencer &&other) noexcept;

    // Loads the tokenizer, the vision encoder and the decoder, and the optional
    // "sam3_image_norm.json" beside the encoder ("mean", "std", "size").
    bool loadModels(const QString &visionEncoderPath, const QString &decoderPath, const QString &tokenizerPath);
    bool encodeImage(const QImage &image);
    // The instances whose score reaches presenceThreshold, highest score first;
    // mask pixels are inside where the interpolated probability reaches
    // maskThreshold.
    QList<Sam3Detection> detect(const QString &text, float presenceThreshold, float maskThreshold);

    bool modelsLoaded() const { return areModelsLoaded; }
    bool imageEncoded() const { return isImageEncoded; }
    // Drops the encoding of the last image (its memory too); the models stay.
    void forgetImage();
    QString lastError() const { return error; }
    // The three paths of the last successful load (encoder, decoder, tokenizer).
    QStringList loadedPaths() const { return paths; }

    int inputSize() const { return side; }
    int contextLength() const { return tokens; }
    std::array<float, 3> mean() const { return channelMean; }
    std::array<float, 3> standardDeviation() const { return channelStd; }
    const BpeTokenizer &tokenizer() const { return bpe; }

    // Masks at the image's size are made at once while all of a prompt's masks
    // together take at most this many bytes; beyond it each detection keeps its
    // low-resolution logits and is rasterised when asked (Sam3Detection::fullMask).
    void setMaskMemoryBudget(qint64 bytes) { maskBudget = bytes; }

private:
    struct Runtime;

    bool fail(const QString &message, const char *logPrefix, const QString &detail);
    bool createSessions(const QString &visionEncoderPath, const QString &decoderPath);
    bool readModelFacts();
    void readNormalisation(const QString &visionEncoderPath);
    bool runEncoder(const QImage &image);
    QList<Sam3Detection> runDecoder(const QString &text, float presenceThreshold, float maskThreshold);

    std::unique_ptr<Runtime> runtime;
    BpeTokenizer bpe;
    bool areModelsLoaded = false;
    bool isImageEncoded = false;
    int imageWidth = 0;
    int imageHeight = 0;
    int side = 1008;
    int tokens = 32;
    int fixedSide = 0; // the encoder's own square input size, 0 when it takes any
    QString error;
    std::array<float, 3> channelMean{0.48145467f, 0.4578275f, 0.40821072f};
    std::array<float, 3> channelStd{0.26862955f, 0.2613026f, 0.2757771f};
    QStringList paths;
    qint64 maskBudget = qint64(256) * 1024 * 1024;
};

} // namespace Quillmark
