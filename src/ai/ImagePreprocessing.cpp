#include "ai/ImagePreprocessing.h"

#include "ai/AreaResampler.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cstring>

namespace Quillmark {

namespace {

constexpr int letterboxGrey = 114;

// The source as an opaque 32-bit picture with the colours of an RGB888
// conversion. Premultiplied sources take the detour through RGB888, whose
// conversion differs from a direct one in the last bit.
QImage opaque32(const QImage &source)
{
    if (source.format() == QImage::Format_RGB32)
        return source;
    if (source.pixelFormat().premultiplied() == QPixelFormat::Premultiplied)
        return source.convertToFormat(QImage::Format_RGB888).convertToFormat(QImage::Format_RGB32);
    return source.convertToFormat(QImage::Format_RGB32);
}

// Qt smooth-scales an RGB888 picture by converting it to RGB32 and running its
// 32-bit scaler when the picture has 2^20 pixels or more, or shrinks to less than
// half along a side; other sizes it scales by bilinear painting in RGB888.
bool scaledThrough32Bit(QSize from, QSize to)
{
    return qint64(from.width()) * qint64(from.height()) >= (qint64(1) << 20) || to.width() * 2 < from.width()
        || to.height() * 2 < from.height();
}

// How a picture is scaled to give Qt's smooth scaling of its RGB888 conversion:
//  - Area: shrunk (or kept) through the 32-bit scaler, which averages areas:
//    the area resampler does the same from the source's own bytes, so a large
//    photo is neither copied nor converted first;
//  - Painting: shrunk by up to half through bilinear painting: painted from
//    the opaque 32-bit picture, which Qt's painter reads several times faster
//    than RGB888, to within a grey level of Qt's RGB888 result;
//  - Qt: grown along a side: Qt's own scaling, through 32 bits when it would
//    take that way (an opaque 32-bit source gives the same pixels without the
//    two conversions).
enum class Scaling { Area, Painting, Qt };

Scaling scalingFor(QSize from, QSize to)
{
    if (!AreaResampler::shrinks(from, to))
        return Scaling::Qt;
    return from == to || scaledThrough32Bit(from, to) ? Scaling::Area : Scaling::Painting;
}

// The source converted to RGB888 and smooth-scaled to `size` by Qt.
QImage scaledRgb888(const QImage &source, QSize size)
{
    const bool resize = size != source.size();
    if (resize && !scaledThrough32Bit(source.size(), size)) {
        const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull())
            return {}; // out of memory
        return rgb.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QImage scaled = opaque32(source);
    if (scaled.isNull())
        return {}; // out of memory
    if (resize)
        scaled = scaled.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled.convertToFormat(QImage::Format_RGB888);
}

// Paints `source` scaled to `size` into the RGB888 `target` at `at`, with the
// painter settings of Qt's smooth scaling. The painter draws into a view of
// the region, not through a translation, which would move the points it
// samples. False when the source cannot be converted (out of memory).
bool paintScaled(const QImage &source, QSize size, QImage &target, QPoint at)
{
    const QImage opaque = opaque32(source);
    if (opaque.isNull())
        return false;
    const qsizetype stride = target.bytesPerLine();
    QImage region(target.bits() + at.y() * stride + qsizetype(at.x()) * 3, size.width(), size.height(), stride,
                  QImage::Format_RGB888);
    QPainter painter(&region);
    if (!painter.isActive())
        return false;
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setTransform(QTransform::fromScale(qreal(size.width()) / qreal(opaque.width()),
                                               qreal(size.height()) / qreal(opaque.height())));
    painter.drawImage(QPoint(0, 0), opaque);
    return true;
}

// One resampler per thread, its buffers kept from one picture to the next.
AreaResampler &threadResampler()
{
    thread_local AreaResampler resampler;
    return resampler;
}

// Writes `source` smooth-scaled to `size` into the RGB888 `target` at `at`.
// False when memory runs out on the way.
bool scaleInto(const QImage &source, QSize size, QImage &target, QPoint at)
{
    switch (scalingFor(source.size(), size)) {
    case Scaling::Area:
        return threadResampler().shrinkInto(source, size, target, at);
    case Scaling::Painting:
        return paintScaled(source, size, target, at);
    case Scaling::Qt:
        break;
    }
    const QImage scaled = scaledRgb888(source, size);
    if (scaled.format() != QImage::Format_RGB888 || scaled.size() != size)
        return false;
    const size_t rowBytes = size_t(size.width()) * 3;
    for (int i = 0; i < size.height(); ++i)
        std::memcpy(target.scanLine(at.y() + i) + size_t(at.x()) * 3, scaled.constScanLine(i), rowBytes);
    return true;
}

// byte / 255 for every byte value, exactly as the division gives it.
struct UnitScale {
    float values[256];
    UnitScale()
    {
        for (int i = 0; i < 256; ++i)
            values[i] = float(i) / 255.0f;
    }
};

} // namespace

LetterboxResult letterboxImage(const QImage &source, int targetWidth, int targetHeight)
{
    LetterboxResult result;
    result.image = QImage(std::max(targetWidth, 0), std::max(targetHeight, 0), QImage::Format_RGB888);
    if (result.image.isNull())
        return result;
    // The grey is the same byte in every channel: one memset, where a fill
    // with a colour goes pixel by pixel.
    std::memset(result.image.bits(), letterboxGrey, size_t(result.image.sizeInBytes()));
    if (source.isNull())
        return result;

    const int w = source.width();
    const int h = source.height();
    const float scale = std::min(float(targetWidth) / float(w), float(targetHeight) / float(h));
    const int newW = std::clamp(int(scale * float(w) + 0.5f), 0, targetWidth);
    const int newH = std::clamp(int(scale * float(h) + 0.5f), 0, targetHeight);
    result.scale = scale;
    result.padX = (targetWidth - newW) / 2;
    result.padY = (targetHeight - newH) / 2;
    if (newW == 0 || newH == 0)
        return result;

    // Out of memory on the way: no picture, rather than a grey canvas a
    // model would run on as if it were the picture.
    if (!scaleInto(source, QSize(newW, newH), result.image, QPoint(result.padX, result.padY)))
        result.image = QImage();
    return result;
}

std::vector<float> imageToChwTensor(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage rgb = image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    const int height = rgb.height();
    const size_t plane = size_t(width) * size_t(height);
    std::vector<float> tensor(plane * 3);
    float *red = tensor.data();
    float *green = red + plane;
    float *blue = green + plane;
    const UnitScale unit;
    for (int y = 0; y < height; ++y) {
        const uchar *p = rgb.constScanLine(y);
        const size_t row = size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x, p += 3) {
            red[row + x] = unit.values[p[0]];
            green[row + x] = unit.values[p[1]];
            blue[row + x] = unit.values[p[2]];
        }
    }
    return tensor;
}

QImage smoothScaledRgb888(const QImage &source, int width, int height)
{
    if (source.isNull() || width <= 0 || height <= 0)
        return {};
    const QSize size(width, height);
    if (scalingFor(source.size(), size) == Scaling::Qt)
        return scaledRgb888(source, size);
    QImage scaled(size, QImage::Format_RGB888);
    if (scaled.isNull() || !scaleInto(source, size, scaled, QPoint(0, 0)))
        return {};
    return scaled;
}

bool writePlanarTensor(const QImage &rgb888, const ChannelLookup &lookup, std::span<float> tensor,
                       int tensorWidth, int tensorHeight)
{
    if (rgb888.format() != QImage::Format_RGB888 || tensorWidth < 0 || tensorHeight < 0)
        return false;
    const int width = rgb888.width();
    const int height = rgb888.height();
    const size_t plane = size_t(tensorWidth) * size_t(tensorHeight);
    if (width > tensorWidth || height > tensorHeight || tensor.size() / 3 < plane)
        return false;
    float *planes[3] = {tensor.data(), tensor.data() + plane, tensor.data() + 2 * plane};
    for (int y = 0; y < height; ++y) {
        const uchar *p = rgb888.constScanLine(y);
        const size_t row = size_t(y) * size_t(tensorWidth);
        float *red = planes[0] + row;
        float *green = planes[1] + row;
        float *blue = planes[2] + row;
        for (int x = 0; x < width; ++x, p += 3) {
            red[x] = lookup[0][p[0]];
            green[x] = lookup[1][p[1]];
            blue[x] = lookup[2][p[2]];
        }
    }
    return true;
}

} // namespace Quillmark
