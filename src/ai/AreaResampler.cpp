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

// Weights are in 2^14ths of the whole along both axes. Rows are summed into
// centred 16-bit sums, (mean - 128) * 256; the horizontal pass weighs those
// into 32 bits (at most 2^15 * 2^14), (mean - 128) * 2^22.
constexpr int totalShift = 8 + 14;
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

// A span's rows are summed in 16 bits: each byte, times 256, is multiplied by
// the row's weight times 4 and only the upper 16 bits of the product are kept,
// floor(byte * weight / 64). That drops under one unit (1/256 of a grey
// level) a row. The last pass adds back the number of rows n less one: a sum
// is then no less than the true one, rounded down, and at most n - 1 units
// above it, so a flat colour comes out exact. A span of more rows than one
// pass takes adds to the first pass's sums. The last pass also centres them,
// less 128 * 256 (flipping the top bit), for the horizontal pass.
constexpr int rowsPerPass = 16;
constexpr uint16_t centring = 0x8000;

// A source row and its weight times 4 (below 2^16: a weight of the whole
// 2^14 goes in as two halves).
struct WeightedRow {
    const uchar *row;
    uint16_t factor;
};

struct Pass {
    const WeightedRow *rows = nullptr;
    int rowCount = 0;
    bool first = true; // the sums start from 0, not from the buffer
    bool last = true;  // the sums are made up and centred
    uint16_t makeUp = 0;
};

// The pass over bytes [from, count), one at a time.
void addRows(const Pass &pass, uint16_t *sums, qsizetype from, qsizetype count)
{
    for (qsizetype i = from; i < count; ++i) {
        uint32_t total = pass.first ? 0 : sums[i];
        for (int r = 0; r < pass.rowCount; ++r)
            total += (uint32_t(pass.rows[r].row[i]) << 8) * pass.rows[r].factor >> 16;
        sums[i] = uint16_t(pass.last ? (total + pass.makeUp) ^ centring : total);
    }
}

#ifdef QM_AREA_SSE2
// The pass, 16 bytes at a time; returns where it stopped. The bytes at even
// and at odd positions are summed apart, each as the upper byte of a 16-bit
// word (a shift and a mask, no shuffles for every row); a pass that is not
// the last keeps the sums in that order, the last puts them back in line.
qsizetype addRowsSse2(const Pass &pass, uint16_t *sums, qsizetype count)
{
    const __m128i upper = _mm_set1_epi16(short(0xff00));
    const __m128i flip = _mm_set1_epi16(short(centring));
    const __m128i makeUp = _mm_set1_epi16(short(pass.makeUp));
    qsizetype i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i *outFirst = reinterpret_cast<__m128i *>(sums + i);
        __m128i *outSecond = reinterpret_cast<__m128i *>(sums + i + 8);
        __m128i even = pass.first ? _mm_setzero_si128() : _mm_loadu_si128(outFirst);
        __m128i odd = pass.first ? _mm_setzero_si128() : _mm_loadu_si128(outSecond);
        for (int r = 0; r < pass.rowCount; ++r) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pass.rows[r].row + i));
            const __m128i factor = _mm_set1_epi16(short(pass.rows[r].factor));
            even = _mm_add_epi16(even, _mm_mulhi_epu16(_mm_slli_epi16(bytes, 8), factor));
            odd = _mm_add_epi16(odd, _mm_mulhi_epu16(_mm_and_si128(bytes, upper), factor));
        }
        if (!pass.last) {
            _mm_storeu_si128(outFirst, even);
            _mm_storeu_si128(outSecond, odd);
            continue;
        }
        even = _mm_xor_si128(_mm_add_epi16(even, makeUp), flip);
        odd = _mm_xor_si128(_mm_add_epi16(odd, makeUp), flip);
        _mm_storeu_si128(outFirst, _mm_unpacklo_epi16(even, odd));
        _mm_storeu_si128(outSecond, _mm_unpackhi_epi16(even, odd));
    }
    return i;
}
#endif

#ifdef QM_AREA_AVX2
// The pass, 32 bytes at a time, as the one of 16 above; the unpacks that put
// the sums back in line work within 16-byte lanes, the permutes join them.
__attribute__((target("avx2"))) qsizetype addRowsAvx2(const Pass &pass, uint16_t *sums, qsizetype count)
{
    const __m256i upper = _mm256_set1_epi16(short(0xff00));
    const __m256i flip = _mm256_set1_epi16(short(centring));
    const __m256i makeUp = _mm256_set1_epi16(short(pass.makeUp));
    qsizetype i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i *outFirst = reinterpret_cast<__m256i *>(sums + i);
        __m256i *outSecond = reinterpret_cast<__m256i *>(sums + i + 16);
        __m256i even = pass.first ? _mm256_setzero_si256() : _mm256_loadu_si256(outFirst);
        __m256i odd = pass.first ? _mm256_setzero_si256() : _mm256_loadu_si256(outSecond);
        for (int r = 0; r < pass.rowCount; ++r) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pass.rows[r].row + i));
            const __m256i factor = _mm256_set1_epi16(short(pass.rows[r].factor));
            even = _mm256_add_epi16(even, _mm256_mulhi_epu16(_mm256_slli_epi16(bytes, 8), factor));
            odd = _mm256_add_epi16(odd, _mm256_mulhi_epu16(_mm256_and_si256(bytes, upper), factor));
        }
        if (!pass.last) {
            _mm256_storeu_si256(outFirst, even);
            _mm256_storeu_si256(outSecond, odd);
            continue;
        }
        even = _mm256_xor_si256(_mm256_add_epi16(even, makeUp), flip);
        odd = _mm256_xor_si256(_mm256_add_epi16(odd, makeUp), flip);
        const __m256i low = _mm256_unpacklo_epi16(even, odd);  // bytes 0 to 7 of each lane
        const __m256i high = _mm256_unpackhi_epi16(even, odd); // bytes 8 to 15
        _mm256_storeu_si256(outFirst, _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(outSecond, _mm256_permute2x128_si256(low, high, 0x31));
    }
    return i;
}

bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

void runPass(const Pass &pass, uint16_t *sums, qsizetype count)
{
    qsizetype done = 0;
#ifdef QM_AREA_AVX2
    if (hasAvx2())
        done = addRowsAvx2(pass, sums, count);
    else
#endif
#ifdef QM_AREA_SSE2
        done = addRowsSse2(pass, sums, count);
#endif
    addRows(pass, sums, done, count);
}

// The rows of a span summed exactly, in 32 bits. The 16-bit sums are within
// a unit a row: over more than 256 rows that could reach a grey level, and
// the make-up would not fit 16 bits, so a span that long (a picture shrunk
// more than 256-fold) is summed here, more slowly.
constexpr int longestFastSpan = 256;

void sumRowsExactly(uint16_t *sums, const uchar *first, qsizetype stride, const uint16_t *weights, int count,
                    qsizetype rowBytes)
{
    std::vector<uint32_t> totals(size_t(rowBytes), 0);
    for (int k = 0; k < count; ++k) {
        const uchar *row = first + k * stride;
        for (qsizetype i = 0; i < rowBytes; ++i)
            totals[size_t(i)] += uint32_t(row[i]) * weights[k];
    }
    for (qsizetype i = 0; i < rowBytes; ++i)
        sums[i] = uint16_t((totals[size_t(i)] >> 6) ^ centring);
}

// sums = the centred weighted sum of `count` rows from `first`.
void sumRows(int16_t *centredSums, const uchar *first, qsizetype stride, const uint16_t *weights, int count,
             qsizetype rowBytes)
{
    constexpr int whole = 1 << 14;
    uint16_t *sums = reinterpret_cast<uint16_t *>(centredSums);
    if (count > longestFastSpan) {
        sumRowsExactly(sums, first, stride, weights, count, rowBytes);
        return;
    }
    Pass pass;
    WeightedRow rows[rowsPerPass + 1];
    pass.rows = rows;
    int terms = 0;
    for (int k = 0; k < count; ++k)
        terms += weights[k] == whole ? 2 : weights[k] != 0 ? 1 : 0;
    pass.makeUp = uint16_t(std::max(terms - 1, 0));
    for (int k = 0; k < count;) {
        pass.rowCount = 0;
        for (; k < count && pass.rowCount < rowsPerPass; ++k) {
            const uchar *row = first + k * stride;
            if (weights[k] == whole) {
                rows[pass.rowCount++] = WeightedRow{row, uint16_t(whole * 2)};
                rows[pass.rowCount++] = WeightedRow{row, uint16_t(whole * 2)};
            } else if (weights[k] != 0) {
                rows[pass.rowCount++] = WeightedRow{row, uint16_t(weights[k] * 4)};
            }
        }
        pass.last = k >= count;
        if (pass.rowCount == 0 && !pass.last)
            continue;
        runPass(pass, sums, rowBytes);
        pass.first = false;
    }
}

} // namespace

bool AreaResampler::shrinks(QSize from, QSize to)
{
    return to.width() > 0 && to.height() > 0 && to.width() <= from.width() && to.height() <= from.height();
}

// The spans and weights are those of Qt's smooth scaler, so that a picture
// comes out as Qt's smooth scaling gives it: output pixel o starts at source
// position o * step (16.16 fixed point, step = source / target truncated), and
// every source pixel weighs `perPixel` = target / source in 2^14ths, rounded
// up; the first weighs the part of it the span covers, the last what is left
// of the 2^14. An axis that keeps its length copies its pixels.
void AreaResampler::buildAxis(Axis &axis, int sourceLength, int targetLength)
{
    constexpr int whole = 1 << 14;
    axis.spans.resize(size_t(targetLength));
    axis.weights.clear();
    axis.weights.reserve(size_t(sourceLength) + size_t(targetLength));
    if (targetLength == sourceLength) {
        for (int o = 0; o < targetLength; ++o) {
            axis.spans[size_t(o)] = Span{o, 1, o};
            axis.weights.push_back(uint16_t(whole));
        }
        return;
    }
    const qint64 step = (qint64(sourceLength) << 16) / targetLength;
    const int perPixel = int(((qint64(targetLength) << 14) + sourceLength - 1) / sourceLength);
    for (int o = 0; o < targetLength; ++o) {
        const qint64 position = qint64(o) * step;
        Span &out = axis.spans[size_t(o)];
        out.first = int(position >> 16);
        out.count = 0;
        out.weightStart = int(axis.weights.size());
        const auto add = [&](int weight) {
            // The spans end inside the source (perPixel is rounded up); should
            // one reach past it, its last pixel takes the rest.
            if (out.first + out.count < sourceLength) {
                axis.weights.push_back(uint16_t(weight));
                ++out.count;
            } else {
                axis.weights.back() = uint16_t(axis.weights.back() + weight);
            }
        };
        const int first = int(((0x10000 - (position & 0xffff)) * perPixel) >> 16);
        add(first);
        int rest = whole - first;
        for (; rest > perPixel; rest -= perPixel)
            add(perPixel);
        add(rest);
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
    sumRows(rowSums.data(), source.constScanLine(span.first), source.bytesPerLine(),
            rows.weights.data() + span.weightStart, span.count, rowBytes);
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
        __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(total, rounding), totalShift);
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
// is 2^22 * (mean - 128): the centre is added back and the mean truncated, as
// Qt's smooth scaler truncates it.
void AreaResampler::writeRow(uchar *out, const Job &job, const std::vector<int16_t> &rowSums) const
{
    constexpr int32_t offset = centre << totalShift;
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
                totalShift);
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
            *out++ = uchar((lanes[job.offsets[c]] + offset) >> totalShift);
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
