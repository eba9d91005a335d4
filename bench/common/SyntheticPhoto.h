#pragma once

// A 4000 x 3000 "photo" with smooth gradients and some texture, as a decoder
// hands it over (RGB32): the 12 MP input of the preprocessing benchmarks.
#include <QImage>

namespace QmBench {

inline const QImage &photo()
{
    static const QImage image = [] {
        QImage img(4000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                line[x] = qRgb((x / 16 + y / 32) & 255, (y * 255) / 3000, ((x ^ y) >> 3) & 255);
        }
        return img;
    }();
    return image;
}

} // namespace QmBench
