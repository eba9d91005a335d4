#include "ai/AreaResampler.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <new>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QM_AREA_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define QM_AREA_AVX2 1
#endif

namespace Quillmark {

namespace {

// Weights are in 256ths along both axes. Vertical sums are kept centred, as
// the sum of (byte - 128) * weight: that fits signed 16 bits, so both passes
// run on 16-bit multiply-adds and nothing is rounded between them.
constexpr int weightTotal = 256;
constexpr int centre = 128;

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

// Sums of one output row are first written, then added to: the first source
// row (or pair of rows) of a span sets them, so they need no clearing.
enum class Accumulate { Set, Add };

// sums[i] (+)= (a[i] - 128) * weightA + (b[i] - 128) * weightB for `count`
// bytes. Two rows at a time halve the passes over the sums.
void addWeightedPair(int16_t *sums, const uchar *a, uint16_t weightA, const uchar *b, uint16_t weightB,
                     qsizetype count, Accumulate mode)
{
    qsizetype i = 0;
#ifdef QM_AREA_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i factorA = _mm_set1_epi16(short(weightA));
    const __m128i factorB = _mm_set1_epi16(short(weightB));
    const __m128i middle = _mm_set1_epi16(centre);
    const auto centred = [&](__m128i words) { return _mm_sub_epi16(words, middle); };
    for (; i + 16 <= count; i += 16) {
        const __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        __m128i low = _mm_add_epi16(_mm_mullo_epi16(centred(_mm_unpacklo_epi8(rowA, zero)), factorA),
                                    _mm_mullo_epi16(centred(_mm_unpacklo_epi8(rowB, zero)), factorB));
        __m128i high = _mm_add_epi16(_mm_mullo_epi16(centred(_mm_unpackhi_epi8(rowA, zero)), factorA),
                                     _mm_mullo_epi16(centred(_mm_unpackhi_epi8(rowB, zero)), factorB));
        __m128i *outLow = reinterpret_cast<__m128i *>(sums + i);
        __m128i *outHigh = reinterpret_cast<__m128i *>(sums + i + 8);
        if (mode == Accumulate::Add) {
            low = _mm_add_epi16(low, _mm_loadu_si128(outLow));
            high = _mm_add_epi16(high, _mm_loadu_si128(outHigh));
        }
        _mm_storeu_si128(outLow, low);
        _mm_storeu_si128(outHigh, high);
    }
#endif
    for (; i < count; ++i) {
        const int sum = (a[i] - centre) * weightA + (b[i] - centre) * weightB;
        sums[i] = int16_t(mode == Accumulate::Add ? sums[i] + sum : sum);
    }
}

#ifdef QM_AREA_AVX2
// Two source rows and their weights as the factors of a byte multiply-add:
// the first row's weight in the low byte, the second's in the high one.
struct RowPair {
    const uchar *a;
    const uchar *b;
    uint16_t factors;
};

// sums (+)= the weighted pairs, 32 bytes of every row at a time kept in
// registers until all rows are in: the sums are written once per pass.
__attribute__((target("avx2"))) void addPairsAvx2(int16_t *sums, const RowPair *pairs, int pairCount,
                                                  qsizetype count, Accumulate mode)
{
    // Bytes less 128 are signed bytes; the weights (at most 255) unsigned ones.
    const __m256i flip = _mm256_set1_epi8(char(0x80));
    qsizetype i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i low = _mm256_setzero_si256();
        __m256i high = _mm256_setzero_si256();
        for (int p = 0; p < pairCount; ++p) {
            const __m256i a = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs[p].a + i)), flip);
            const __m256i b = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs[p].b + i)), flip);
            const __m256i factors = _mm256_set1_epi16(short(pairs[p].factors));
            low = _mm256_add_epi16(low, _mm256_maddubs_epi16(factors, _mm256_unpacklo_epi8(a, b)));
            high = _mm256_add_epi16(high, _mm256_maddubs_epi16(factors, _mm256_unpackhi_epi8(a, b)));
        }
        // The unpacks work within 16-byte lanes: put the sums back in order.
        __m256i first = _mm256_permute2x128_si256(low, high, 0x20);
        __m256i second = _mm256_permute2x128_si256(low, high, 0x31);
        __m256i *outFirst = reinterpret_cast<__m256i *>(sums + i);
        __m256i *outSecond = reinterpret_cast<__m256i *>(sums + i + 16);
        if (mode == Accumulate::Add) {
            first = _mm256_add_epi16(first, _mm256_loadu_si256(outFirst));
            second = _mm256_add_epi16(second, _mm256_loadu_si256(outSecond));
        }
        _mm256_storeu_si256(outFirst, first);
        _mm256_storeu_si256(outSecond, second);
    }
    for (; i < count; ++i) {
        int sum = 0;
        for (int p = 0; p < pairCount; ++p)
            sum += (pairs[p].a[i] - centre) * (pairs[p].factors & 0xff) + (pairs[p].b[i] - centre) * (pairs[p].factors >> 8);
        sums[i] = int16_t(mode == Accumulate::Add ? sums[i] + sum : sum);
    }
}

// The pair of rows `k` and `k + 1` (or row `k` alone when it is the last).
// A weight of 256 does not fit a byte; the other weight is then 0, so the
// row goes in twice at 128.
RowPair rowPair(const uchar *row, qsizetype stride, const uint16_t *weights, int k, int count)
{
    constexpr uint16_t halves = uint16_t(weightTotal / 2 | weightTotal / 2 << 8);
    const uchar *next = k + 1 < count ? row + stride : row;
    const int nextWeight = k + 1 < count ? weights[k + 1] : 0;
    if (weights[k] == weightTotal)
        return RowPair{row, row, halves};
    if (nextWeight == weightTotal)
        return RowPair{next, next, halves};
    return RowPair{row, next, uint16_t(weights[k] | nextWeight << 8)};
}

// sums = the weighted sum of `count` rows from `first`, a few pairs a pass.
void sumRowsAvx2(int16_t *sums, const uchar *first, qsizetype stride, const uint16_t *weights, int count,
                 qsizetype rowBytes)
{
    constexpr int pairsPerPass = 8;
    Accumulate mode = Accumulate::Set;
    for (int k = 0; k < count;) {
        RowPair pairs[pairsPerPass];
        int pairCount = 0;
        for (; k < count && pairCount < pairsPerPass; k += 2) {
            if (weights[k] != 0 || (k + 1 < count && weights[k + 1] != 0))
                pairs[pairCount++] = rowPair(first + k * stride, stride, weights, k, count);
        }
        if (pairCount == 0)
            continue;
        addPairsAvx2(sums, pairs, pairCount, rowBytes, mode);
        mode = Accumulate::Add;
    }
}

bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

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

void AreaResampler::buildColumnTaps()
{
    int widest = 0;
    for (const Span &span : columns.spans)
        widest = std::max(widest, span.count);
    const int pairs = (widest + 1) / 2;
    columnTaps.pairsPerPixel = pairs;
    columnTaps.firstColumns.resize(columns.spans.size());
    columnTaps.factors.assign(columns.spans.size() * size_t(pairs), 0);
    for (size_t o = 0; o < columns.spans.size(); ++o) {
        const Span &span = columns.spans[o];
        columnTaps.firstColumns[o] = span.first;
        int32_t *factors = columnTaps.factors.data() + o * size_t(pairs);
        for (int k = 0; k < span.count; ++k) {
            const int32_t weight = columns.weights[size_t(span.weightStart + k)];
            factors[k / 2] |= k % 2 == 0 ? weight : weight << 16;
        }
    }
}

void AreaResampler::accumulateRows(const QImage &source, const Span &span, qsizetype rowBytes,
                                   std::vector<int16_t> &rowSums) const
{
    const uint16_t *weights = rows.weights.data() + span.weightStart;
#ifdef QM_AREA_AVX2
    if (hasAvx2()) {
        sumRowsAvx2(rowSums.data(), source.constScanLine(span.first), source.bytesPerLine(), weights, span.count,
                    rowBytes);
        return;
    }
#endif
    Accumulate mode = Accumulate::Set;
    int k = 0;
    for (; k + 1 < span.count; k += 2, mode = Accumulate::Add)
        addWeightedPair(rowSums.data(), source.constScanLine(span.first + k), weights[k],
                        source.constScanLine(span.first + k + 1), weights[k + 1], rowBytes, mode);
    if (k < span.count) {
        const uchar *row = source.constScanLine(span.first + k);
        addWeightedPair(rowSums.data(), row, weights[k], row, 0, rowBytes, mode);
    }
}

#ifdef QM_AREA_SSE2
namespace {

// The weighted total of one output pixel's columns, four channels wide: two
// columns at a time through one multiply-add. With three bytes a pixel the
// fourth lane holds the next pixel's sums (or the buffer's padding) and is
// never used.
__m128i spanTotal(const int16_t *pixel, const uint16_t *weight, int count, int step)
{
    const auto load = [](const int16_t *at) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)); };
    __m128i total = _mm_setzero_si128();
    int k = 0;
    for (; k + 1 < count; k += 2) {
        // The two weights side by side in memory are the pair's factors.
        int32_t factors;
        std::memcpy(&factors, weight + k, sizeof factors);
        const __m128i pair = _mm_unpacklo_epi16(load(pixel + k * step), load(pixel + (k + 1) * step));
        total = _mm_add_epi32(total, _mm_madd_epi16(pair, _mm_set1_epi32(factors)));
    }
    if (k < count) {
        const __m128i single = _mm_unpacklo_epi16(load(pixel + k * step), _mm_setzero_si128());
        total = _mm_add_epi32(total, _mm_madd_epi16(single, _mm_set1_epi32(int(weight[k]))));
    }
    return total;
}

} // namespace
#endif

#ifdef QM_AREA_AVX2
namespace {

// Two output pixels at a time, one in each 128-bit lane. Every pixel takes
// the same number of column pairs (the widest span's, the rest weighted 0),
// so the lanes run in step: a pair's two columns are one 16-byte load, put
// side by side channel by channel for the multiply-add.
__attribute__((target("avx2"))) void writePixelPairsAvx2(uchar *out, const int16_t *sums, const int *firstColumns,
                                                          const int32_t *pairFactors, int count, int pairs,
                                                          int step, bool reversed, int32_t offset)
{
    const __m256i interleave = step == 4
        ? _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                           0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15)
        : _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, 12, 13, 14, 15,
                           0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, 12, 13, 14, 15);
    const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    const __m256i rounding = _mm256_set1_epi32(offset);
    const qsizetype pairStride = qsizetype(2) * step;
    for (int o = 0; o < count; o += 2) {
        const int other = std::min(o + 1, count - 1);
        const int16_t *a = sums + qsizetype(firstColumns[o]) * step;
        const int16_t *b = sums + qsizetype(firstColumns[other]) * step;
        const int32_t *factorsA = pairFactors + qsizetype(o) * pairs;
        const int32_t *factorsB = pairFactors + qsizetype(other) * pairs;
        __m256i total = _mm256_setzero_si256();
        for (int k = 0; k < pairs; ++k) {
            const __m256i columns = _mm256_shuffle_epi8(
                _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(b + k * pairStride),
                                    reinterpret_cast<const __m128i *>(a + k * pairStride)),
                interleave);
            const __m256i factors = _mm256_permutevar8x32_epi32(
                _mm256_castsi128_si256(_mm_unpacklo_epi32(_mm_cvtsi32_si128(factorsA[k]),
                                                          _mm_cvtsi32_si128(factorsB[k]))),
                spread);
            total = _mm256_add_epi32(total, _mm256_madd_epi16(columns, factors));
        }
        __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(total, rounding), 16);
        if (reversed)
            mean = _mm256_shuffle_epi32(mean, _MM_SHUFFLE(3, 0, 1, 2));
        const __m256i words = _mm256_packs_epi32(mean, mean);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const int32_t first = _mm256_extract_epi32(bytes, 0);
        std::memcpy(out, &first, 3);
        out += 3;
        if (other == o)
            break;
        const int32_t second = _mm256_extract_epi32(bytes, 4);
        std::memcpy(out, &second, 3);
        out += 3;
    }
}

} // namespace
#endif

// Each output pixel weighs the centred vertical sums of its columns. The total
// is 65536 * (mean - 128): the centre is added back and the mean rounded.
void AreaResampler::writeRow(uchar *out, const Job &job, const std::vector<int16_t> &rowSums) const
{
    constexpr int32_t offset = centre * weightTotal * weightTotal + weightTotal * weightTotal / 2;
    const int16_t *sums = rowSums.data();
    const uint16_t *weights = columns.weights.data();
    const int step = job.bytesPerPixel;
#ifdef QM_AREA_SSE2
    const bool inOrder = job.offsets[0] == 0 && job.offsets[1] == 1 && job.offsets[2] == 2;
    const bool reversed = job.offsets[0] == 2 && job.offsets[1] == 1 && job.offsets[2] == 0;
#ifdef QM_AREA_AVX2
    if ((inOrder || reversed) && hasAvx2()) {
        writePixelPairsAvx2(out, sums, columnTaps.firstColumns.data(), columnTaps.factors.data(),
                            int(columnTaps.firstColumns.size()), columnTaps.pairsPerPixel, step, reversed, offset);
        return;
    }
#endif
    if (inOrder || reversed) {
        const __m128i rounding = _mm_set1_epi32(offset);
        for (const Span &span : columns.spans) {
            __m128i mean = _mm_srai_epi32(
                _mm_add_epi32(spanTotal(sums + qsizetype(span.first) * step, weights + span.weightStart, span.count, step),
                              rounding),
                16);
            if (reversed)
                mean = _mm_shuffle_epi32(mean, _MM_SHUFFLE(3, 0, 1, 2));
            const __m128i words = _mm_packs_epi32(mean, mean);
            const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
            std::memcpy(out, &bytes, 3);
            out += 3;
        }
        return;
    }
#endif
    for (const Span &span : columns.spans) {
        const int16_t *pixel = sums + qsizetype(span.first) * step;
        const uint16_t *weight = weights + span.weightStart;
        int32_t lanes[4] = {0, 0, 0, 0};
        for (int k = 0; k < span.count; ++k) {
            for (int c = 0; c < step; ++c)
                lanes[c] += int32_t(pixel[k * step + c]) * weight[k];
        }
        for (int c = 0; c < 3; ++c)
            *out++ = uchar((lanes[job.offsets[c]] + offset) >> 16);
    }
}

void AreaResampler::shrinkRows(const Job &job, int firstRow, int endRow, std::vector<int16_t> &sums) const
{
    for (int y = firstRow; y < endRow; ++y) {
        accumulateRows(*job.source, rows.spans[size_t(y)], job.rowBytes, sums);
        writeRow(job.targetRows + qsizetype(y) * job.targetStride, job, sums);
    }
}

// Bands of output rows go to whichever thread is free next: the caller's own
// and the pool's idle ones. A pool thread is only taken when it can start at
// once, so the caller never waits for work another run holds up.
void AreaResampler::runBands(const Job &job, int rowCount)
{
    constexpr int rowsPerBand = 4;
    const int bands = (rowCount + rowsPerBand - 1) / rowsPerBand;
    std::atomic<int> nextBand{0};
    const auto work = [&](std::vector<int16_t> &sums) {
        for (int band = nextBand++; band < bands; band = nextBand++)
            shrinkRows(job, band * rowsPerBand, std::min(rowCount, (band + 1) * rowsPerBand), sums);
    };
    QSemaphore finished;
    int helpers = 0;
    QThreadPool *pool = QThreadPool::globalInstance();
    const int workers = std::min(int(rowSums.size()), bands);
    for (int i = 1; i < workers; ++i) {
        std::vector<int16_t> &sums = rowSums[size_t(i)];
        if (!pool->tryStart([&work, &sums, &finished] {
                work(sums);
                finished.release();
            }))
            break;
        ++helpers;
    }
    work(rowSums[0]);
    finished.acquire(helpers);
}

namespace {

// How many threads a picture is worth: small ones are shrunk on the caller's
// thread alone, where starting helpers would cost more than it saves.
int workersFor(qsizetype sourceBytes)
{
    constexpr qsizetype bytesPerWorker = qsizetype(1) << 20;
    constexpr int mostWorkers = 8;
    const qsizetype wanted = std::max<qsizetype>(1, sourceBytes / bytesPerWorker);
    return int(std::min<qsizetype>({wanted, mostWorkers, std::max(1, QThread::idealThreadCount())}));
}

} // namespace

bool AreaResampler::prepareBuffers(int workers, qsizetype rowBytes, int bytesPerPixel)
{
    // Padding for the reads past the last column: four sums at a time, or the
    // widest span's pairs of columns eight sums at a time. It stays 0.
    const qsizetype padding = qsizetype(2) * columnTaps.pairsPerPixel * bytesPerPixel + 8;
    try {
        if (rowSums.size() < size_t(workers))
            rowSums.resize(size_t(workers));
        for (int i = 0; i < workers; ++i)
            rowSums[size_t(i)].assign(size_t(rowBytes + padding), int16_t(0));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
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
    Job job;
    job.source = &pixels;
    // Rows are addressed from one pointer: the threads must not detach the
    // target, as scanLine() would try to.
    job.targetStride = target.bytesPerLine();
    job.targetRows = target.bits() + qsizetype(at.y()) * job.targetStride + qsizetype(at.x()) * 3;
    job.bytesPerPixel = layout.bytesPerPixel;
    std::copy(std::begin(layout.offsets), std::end(layout.offsets), std::begin(job.offsets));
    job.rowBytes = qsizetype(pixels.width()) * layout.bytesPerPixel;
    try {
        buildAxis(columns, pixels.width(), size.width());
        buildAxis(rows, pixels.height(), size.height());
        buildColumnTaps();
    } catch (const std::bad_alloc &) {
        return false;
    }
    const int workers = workersFor(job.rowBytes * pixels.height());
    if (!prepareBuffers(workers, job.rowBytes, job.bytesPerPixel))
        return false;
    rowSums.resize(size_t(workers));
    runBands(job, size.height());
    return true;
}

} // namespace Quillmark
