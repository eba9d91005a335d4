#pragma once

// "Photos" with smooth gradients and some texture, as a decoder hands them over
// (RGB32): a 4000 x 3000 one, the 12 MP input of the preprocessing benchmarks,
// and smaller ones of any size drawn the same way.
#include <QImage>

namespace QmBench {

inline QImage syntheticPhoto(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            line[x] = qRgb((x / 16 + y / 32) & 255, (y * 255) / height, ((x ^ y) >> 3) & 255);
    }
    return img;
}

inline const QImage &photo()
{
    static const QImage image = syntheticPhoto(4000, 3000);
    return image;
}

// A picture under one megapixel that shrinks by less than half into a
// 640 x 640 input (1.5625 times): a phone's reduced export or a web picture.
inline const QImage &smallPhoto()
{
    static const QImage image = syntheticPhoto(1000, 750);
    return image;
}

// A 1280 x 720 video frame (0.92 MP), 1.25 times larger than a 1024 input.
inline const QImage &framePhoto()
{
    static const QImage image = syntheticPhoto(1280, 720);
    return image;
}

} // namespace QmBench
