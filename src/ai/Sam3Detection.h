#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>

#include <memory>
#include <vector>

namespace Quillmark {

// The mask logits of one concept query at the model's resolution, and what
// turning them into a mask of the encoded image needs.
struct Sam3MaskLogits {
    std::vector<float> logits; // height x width, row by row
    int width = 0;
    int height = 0;
    int imageWidth = 0;
    int imageHeight = 0;
    float threshold = 0.5f;
};

// The mask of a query at the image's size (Grayscale8, 255 inside, 0 outside):
// pixel (x, y) samples the logit grid at (x / imageWidth * maskWidth,
// y / imageHeight * maskHeight) without a half-pixel offset, interpolates the
// sigmoids of the four cells around that point bilinearly (the last row and
// column repeat at the far edge), and is inside when the result reaches
// `threshold`. `logits` holds maskHeight x maskWidth values.
QImage rasteriseConceptMask(const float *logits, int maskWidth, int maskHeight, int imageWidth,
                            int imageHeight, float threshold);

// One instance found by the concept segmenter.
struct Sam3Detection {
    // Grayscale8 at the encoded image's size; null when the detection holds only
    // its low-resolution logits (many large masks would not fit in memory).
    QImage mask;
    QRectF box;         // image pixels, from the model's normalised corners; not clamped
    float score = 0.0f; // sigmoid of the query's logit
    std::shared_ptr<const Sam3MaskLogits> lowResolution;

    // The mask at the image's size, rasterised from the logits when it is not
    // held; the same pixels either way.
    QImage fullMask() const;
    // The size of the image the detection was found in.
    QSize imageSize() const;
};

} // namespace Quillmark
