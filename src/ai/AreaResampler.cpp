#include "ai/AreaResampler.h"

#include <algorithm>
#include <new>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QM_AREA_SSE2 1
#endif

namespace Quillmark {

namespace {

constexpr int weightTotal = 256;

// Where R, G and B lie within a pixel of a format read as it is, and the
// bytes per pixel; 0 bytes for a format that needs converting first.
struct Layout {
    int bytesPerPixel = 0;
    int offsets[3] = {0, 1, 2};
};

Layout layoutOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        // 0xAARRGGBB words: B, G, R, A in memory on little-endian machines.
        Layout layout{4, {2, 1, 0}};
        if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
            layout = Layout{4, {1, 2, 3}};
        return layout;
    }
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        return Layout{4, {0, 1, 2}};
    case QImage::Format_RGB888:
        return Layout{3, {0, 1, 2}};
    default:
        return Layout{};
    }
}

// rowSums[i] += bytes[i] * weight for `count` bytes; the sums stay below 2^16
// because the weights of one output row add up to 256.
void addWeighted(uint16_t *sums, const uchar *bytes, qsizetype count, uint16_t weight)
{
    qsizetype i = 0;
#ifdef QM_AREA_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(short(weight));
    for (; i + 16 <= count; i += 16) {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        __m128i *low = reinterpret_cast<__m128i *>(sums + i);
        __m128i *high = reinterpret_cast<__m128i *>(sums + i + 8);
        _mm_storeu_si128(low, _mm_add_epi16(_mm_loadu_si128(low),
                                            _mm_mullo_epi16(_mm_unpacklo_epi8(source, zero), factor)));
        _mm_storeu_si128(high, _mm_add_epi16(_mm_loadu_si128(high),
                                             _mm_mullo_epi16(_mm_unpackhi_epi8(source, zero), factor)));
    }
#endif
    for (; i < count; ++i)
        sums[i] = uint16_t(sums[i] + bytes[i] * weight);
}

} // namespace

bool AreaResampler::shrinks(QSize from, QSize to)
{
    return to.width() > 0 && to.height() > 0 && to.width() <= from.width() && to.height() <= from.height();
}

// Output pixel o covers [o * s, (o + 1) * s) of the source with s = sourceLength
// / targetLength; in units of 1 / targetLength source pixels that is
// [o * sourceLength, (o + 1) * sourceLength). The weight of a source position is
// the rounded share of the span up to its end minus that up to its start, so
// each span's weights add up to exactly 256.
void AreaResampler::buildAxis(Axis &axis, int sourceLength, int targetLength)
{
    axis.spans.resize(size_t(targetLength));
    axis.weights.clear();
    axis.weights.reserve(size_t(sourceLength) + size_t(targetLength));
    const qint64 span = sourceLength;
    for (int o = 0; o < targetLength; ++o) {
        const qint64 start = qint64(o) * sourceLength;
        const qint64 end = start + span;
        Span &out = axis.spans[size_t(o)];
        out.first = int(start / targetLength);
        const int last = int((end - 1) / targetLength);
        out.count = last - out.first + 1;
        out.weightStart = int(axis.weights.size());
        const auto share = [&](qint64 position) {
            const qint64 covered = std::clamp(position, start, end) - start;
            return int((covered * weightTotal + span / 2) / span);
        };
        for (int i = out.first; i <= last; ++i) {
            const int weight = share(qint64(i + 1) * targetLength) - share(qint64(i) * targetLength);
            axis.weights.push_back(uint16_t(weight));
        }
    }
}

void AreaResampler::accumulateRows(const QImage &source, const Span &span, qsizetype rowBytes)
{
    std::fill(rowSums.begin(), rowSums.end(), uint16_t(0));
    for (int k = 0; k < span.count; ++k) {
        const uint16_t weight = rows.weights[size_t(span.weightStart + k)];
        if (weight != 0)
            addWeighted(rowSums.data(), source.constScanLine(span.first + k), rowBytes, weight);
    }
}

void AreaResampler::writeRow(uchar *out, int bytesPerPixel, const int channelOffsets[3]) const
{
    const uint16_t *sums = rowSums.data();
    const uint16_t *weights = columns.weights.data();
    for (const Span &span : columns.spans) {
        uint32_t r = 0;
        uint32_t g = 0;
        uint32_t b = 0;
        const uint16_t *pixel = sums + qsizetype(span.first) * bytesPerPixel;
        const uint16_t *weight = weights + span.weightStart;
        for (int k = 0; k < span.count; ++k, pixel += bytesPerPixel) {
            r += uint32_t(pixel[channelOffsets[0]]) * weight[k];
            g += uint32_t(pixel[channelOffsets[1]]) * weight[k];
            b += uint32_t(pixel[channelOffsets[2]]) * weight[k];
        }
        // Both axes weigh in 256ths: the mean is the sum / 65536, rounded.
        *out++ = uchar((r + 32768) >> 16);
        *out++ = uchar((g + 32768) >> 16);
        *out++ = uchar((b + 32768) >> 16);
    }
}

bool AreaResampler::shrinkInto(const QImage &source, QSize size, QImage &target, QPoint at)
{
    if (source.isNull() || !shrinks(source.size(), size) || target.format() != QImage::Format_RGB888
        || !target.rect().contains(QRect(at, size)))
        return false;
    Layout layout = layoutOf(source.format());
    QImage converted;
    if (layout.bytesPerPixel == 0) {
        converted = source.convertToFormat(QImage::Format_RGB888);
        if (converted.isNull())
            return false;
        layout = layoutOf(converted.format());
    }
    const QImage &pixels = converted.isNull() ? source : converted;
    const qsizetype rowBytes = qsizetype(pixels.width()) * layout.bytesPerPixel;
    try {
        buildAxis(columns, pixels.width(), size.width());
        buildAxis(rows, pixels.height(), size.height());
        rowSums.resize(size_t(rowBytes));
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int y = 0; y < size.height(); ++y) {
        accumulateRows(pixels, rows.spans[size_t(y)], rowBytes);
        writeRow(target.scanLine(at.y() + y) + qsizetype(at.x()) * 3, layout.bytesPerPixel, layout.offsets);
    }
    return true;
}

} // namespace Quillmark
