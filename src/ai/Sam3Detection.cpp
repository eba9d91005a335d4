#include "ai/Sam3Detection.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace Quillmark {

namespace {

// Where an output pixel samples the grid along one axis: the two cells and the
// weight of the second.
struct Sample {
    int first = 0;
    int second = 0;
    float weight = 0.0f;
};

std::vector<Sample> samples(int outputSize, int gridSize)
{
    std::vector<Sample> result(static_cast<size_t>(outputSize));
    for (int i = 0; i < outputSize; ++i) {
        const float s = float(i) / float(outputSize) * float(gridSize);
        Sample &sample = result[size_t(i)];
        sample.first = int(s);
        sample.second = std::min(sample.first + 1, gridSize - 1);
        sample.weight = s - float(sample.first);
    }
    return result;
}

} // namespace

QImage rasteriseConceptMask(const float *logits, int maskWidth, int maskHeight, int imageWidth,
                            int imageHeight, float threshold)
{
    if (!logits || maskWidth <= 0 || maskHeight <= 0 || imageWidth <= 0 || imageHeight <= 0)
        return {};
    QImage mask(imageWidth, imageHeight, QImage::Format_Grayscale8);
    if (mask.isNull())
        return {};

    // The sigmoid of every cell once, rather than four per output pixel.
    std::vector<float> probability(size_t(maskWidth) * size_t(maskHeight));
    for (size_t i = 0; i < probability.size(); ++i)
        probability[i] = 1.0f / (std::exp(-logits[i]) + 1.0f);

    const std::vector<Sample> columns = samples(imageWidth, maskWidth);
    const std::vector<Sample> rows = samples(imageHeight, maskHeight);

    // Each grid row interpolated along x once; output rows that sample the same
    // pair of grid rows reuse them. The arithmetic per pixel is exactly that of
    // sampling each pixel on its own.
    std::vector<float> upper(static_cast<size_t>(imageWidth));
    std::vector<float> lower(static_cast<size_t>(imageWidth));
    int upperRow = -1;
    int lowerRow = -1;
    const auto interpolateRow = [&](int gridRow, std::vector<float> &target) {
        const float *cells = probability.data() + size_t(gridRow) * size_t(maskWidth);
        for (int x = 0; x < imageWidth; ++x) {
            const Sample &c = columns[size_t(x)];
            target[size_t(x)] = (1.0f - c.weight) * cells[c.first] + c.weight * cells[c.second];
        }
    };

    for (int y = 0; y < imageHeight; ++y) {
        const Sample &r = rows[size_t(y)];
        if (r.first != upperRow && r.first == lowerRow) {
            // One grid row further down: the lower row becomes the upper one.
            upper.swap(lower);
            std::swap(upperRow, lowerRow);
        } else if (r.first != upperRow) {
            interpolateRow(r.first, upper);
            upperRow = r.first;
        }
        if (r.second != lowerRow) {
            if (r.second == upperRow)
                lower = upper;
            else
                interpolateRow(r.second, lower);
            lowerRow = r.second;
        }
        uchar *out = mask.scanLine(y);
        const float wy = r.weight;
        for (int x = 0; x < imageWidth; ++x) {
            const float p = (1.0f - wy) * upper[size_t(x)] + wy * lower[size_t(x)];
            out[x] = p >= threshold ? 255 : 0;
        }
    }
    return mask;
}

QImage Sam3Detection::fullMask() const
{
    if (!mask.isNull() || !lowResolution)
        return mask;
    const Sam3MaskLogits &low = *lowResolution;
    if (low.logits.size() < size_t(low.width) * size_t(low.height))
        return {};
    return rasteriseConceptMask(low.logits.data(), low.width, low.height, low.imageWidth,
                                low.imageHeight, low.threshold);
}

QSize Sam3Detection::imageSize() const
{
    if (!mask.isNull() || !lowResolution)
        return mask.size();
    return QSize(lowResolution->imageWidth, lowResolution->imageHeight);
}

} // namespace Quillmark
