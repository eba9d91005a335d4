#pragma once

// Pictures made in a test, as the bytes of an image file.
#include <QBuffer>
#include <QColor>
#include <QImage>

namespace QmTest {

inline QByteArray imageFileBytes(const QImage &image, const char *format = "PNG")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QByteArray filledImageBytes(int width, int height, const QColor &colour, const char *format = "PNG")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return imageFileBytes(image, format);
}

} // namespace QmTest
