#pragma once

// The mask of a concept query computed pixel by pixel, exactly as the masks are
// defined: pixel (x, y) samples the logit grid at (x / width * gridWidth,
// y / height * gridHeight), interpolates the sigmoids of the four cells around
// it and is inside (255) when that reaches the threshold. The reference the
// rasteriser is checked and timed against.
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace QmTest {

inline QImage conceptMaskPerPixel(const float *logits, int mw, int mh, int iw, int ih, float threshold)
{
    QImage mask(iw, ih, QImage::Format_Grayscale8);
    const auto s = [&](int r, int c) { return 1.0f / (std::exp(-logits[size_t(r) * size_t(mw) + size_t(c)]) + 1.0f); };
    for (int y = 0; y < ih; ++y) {
        uchar *out = mask.scanLine(y);
        for (int x = 0; x < iw; ++x) {
            const float sy = float(y) / float(ih) * float(mh);
            const float sx = float(x) / float(iw) * float(mw);
            const int y0 = int(sy);
            const int y1 = std::min(y0 + 1, mh - 1);
            const int x0 = int(sx);
            const int x1 = std::min(x0 + 1, mw - 1);
            const float fy = sy - float(y0);
            const float fx = sx - float(x0);
            const float p = (1 - fy) * ((1 - fx) * s(y0, x0) + fx * s(y0, x1))
                + fy * ((1 - fx) * s(y1, x0) + fx * s(y1, x1));
            out[x] = p >= threshold ? 255 : 0;
        }
    }
    return mask;
}

} // namespace QmTest
