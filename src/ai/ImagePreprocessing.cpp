#include "ai/ImagePreprocessing.h"

#include "ai/AreaResampler.h"

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
// half along a side; other sizes it scales by bilinear painting in RGB888. In the
// first case an opaque 32-bit source gives the same pixels without the two
// conversions (decoded photos usually arrive as RGB32 already, so a large photo is
// neither copied nor converted before it is scaled down); in the second the
// 32-bit scaler would give other pixels, so the picture is scaled as RGB888.
bool scaledThrough32Bit(int w, int h, int newW, int newH)
{
    return qint64(w) * qint64(h) >= (qint64(1) << 20) || newW * 2 < w || newH * 2 < h;
}

// The source converted to RGB888 and smooth-scaled to newW x newH.
QImage scaledRgb888(const QImage &source, int newW, int newH)
{
    const bool resize = newW != source.width() || newH != source.height();
    if (resize && !scaledThrough32Bit(source.width(), source.height(), newW, newH)) {
        const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull())
            return {}; // out of memory
        return rgb.scaled(newW, newH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QImage scaled = opaque32(source);
    if (scaled.isNull())
        return {}; // out of memory
    if (resize)
        scaled = scaled.scaled(newW, newH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return scaled.convertToFormat(QImage::Format_RGB888);
}

// One resampler per thread, its buffers kept from one picture to the next.
AreaResampler &threadResampler()
{
    thread_local AreaResampler resampler;
    return resampler;
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

    // Shrinking, the common case (photos and frames into a model's input), is
    // done by area averaging straight from the source's own bytes into the
    // canvas: no converted copy of the whole picture, and buffers kept per
    // thread from one picture to the next.
    if (AreaResampler::shrinks(source.size(), QSize(newW, newH))) {
        if (!threadResampler().shrinkInto(source, QSize(newW, newH), result.image, QPoint(result.padX, result.padY)))
            result.image = QImage(); // out of memory: no picture rather than a grey one
        return result;
    }

    const QImage scaled = scaledRgb888(source, newW, newH);
    if (scaled.format() != QImage::Format_RGB888 || scaled.size() != QSize(newW, newH)) {
        // Out of memory on the way: no picture, rather than a grey canvas a
        // model would run on as if it were the picture.
        result.image = QImage();
        return result;
    }

    const size_t rowBytes = size_t(newW) * 3;
    for (int i = 0; i < newH; ++i) {
        uchar *target = result.image.scanLine(result.padY + i) + size_t(result.padX) * 3;
        std::memcpy(target, scaled.constScanLine(i), rowBytes);
    }
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
    if (AreaResampler::shrinks(source.size(), QSize(width, height))) {
        QImage shrunk(width, height, QImage::Format_RGB888);
        if (shrunk.isNull() || !threadResampler().shrinkInto(source, shrunk.size(), shrunk, QPoint(0, 0)))
            return {};
        return shrunk;
    }
    return scaledRgb888(source, width, height);
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
