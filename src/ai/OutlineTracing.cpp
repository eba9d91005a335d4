#include "ai/OutlineTracing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QM_OUTLINE_SSE2 1
#endif

namespace Quillmark {

namespace {

// Neighbour offsets, clockwise on screen (y grows downwards), starting east.
constexpr int directionX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int directionY[8] = {0, 1, 1, 1, 0, -1, -1, -1};

struct Pixel {
    int x = 0;
    int y = 0;
    bool operator==(const Pixel &) const = default;
};

#ifdef QM_OUTLINE_SSE2
// One bit per byte above 128 of the 16 at `p`: flipping the top bit turns
// the bytes 129 to 255 into the signed numbers above 0.
unsigned above128Bits(const uchar *p)
{
    const __m128i flipped =
        _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), _mm_set1_epi8(char(0x80)));
    return unsigned(_mm_movemask_epi8(_mm_cmpgt_epi8(flipped, _mm_setzero_si128())));
}
#endif

// Position of the first byte above 128 among the `count` at `bytes`, or -1.
// An empty mask, or one whose object lies near its bottom, is read at the
// speed of memory: 64 bytes per step where the processor allows it, then 16,
// 8 and single bytes.
qsizetype firstAbove128(const uchar *bytes, qsizetype count)
{
    qsizetype x = 0;
#ifdef QM_OUTLINE_SSE2
    const __m128i flip = _mm_set1_epi8(char(0x80));
    const __m128i zero = _mm_setzero_si128();
    for (; x + 64 <= count; x += 64) {
        __m128i any = zero;
        for (int part = 0; part < 64; part += 16) {
            const __m128i flipped =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + x + part)), flip);
            any = _mm_or_si128(any, _mm_cmpgt_epi8(flipped, zero));
        }
        if (_mm_movemask_epi8(any))
            break; // the steps below find which byte
    }
    for (; x + 16 <= count; x += 16) {
        if (const unsigned bits = above128Bits(bytes + x))
            return x + std::countr_zero(bits);
    }
#endif
    constexpr quint64 highBits = 0x8080808080808080ULL;
    constexpr quint64 lowBits = 0x7F7F7F7F7F7F7F7FULL;
    for (; x + 8 <= count; x += 8) {
        quint64 word;
        std::memcpy(&word, bytes + x, sizeof word);
        // A byte is above 128 when its top bit is set and any other bit too.
        if (word & highBits & ((word & lowBits) + lowBits))
            break;
    }
    for (; x < count; ++x) {
        if (bytes[x] > 128)
            return x;
    }
    return -1;
}

// Read-only access to the bytes of an 8-bit mask, through its scan lines.
class MaskBytes {
public:
    explicit MaskBytes(const QImage &mask)
        : bits(mask.constBits()), bytesPerLine(mask.bytesPerLine()), width(mask.width()),
          height(mask.height())
    {
    }

    bool isForeground(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height
            && bits[qsizetype(y) * bytesPerLine + x] > 128;
    }

    std::optional<Pixel> firstForeground() const
    {
        for (int y = 0; y < height; ++y) {
            const qsizetype x = firstAbove128(bits + qsizetype(y) * bytesPerLine, width);
            if (x >= 0)
                return Pixel{int(x), y};
        }
        return std::nullopt;
    }

    // Points to reserve for a typical outline: about the picture's perimeter.
    int typicalBoundary() const { return 4 * (width + height); }

    // A Moore trace enters each foreground pixel from at most four sides before
    // it closes, so no outline takes more steps than four per pixel of the
    // mask: a bound that cannot cut off a real outline, only stop a walk gone
    // astray.
    qint64 stepBound() const { return 4 * qint64(width) * qint64(height) + 16; }

private:
    const uchar *bits;
    qsizetype bytesPerLine;
    int width;
    int height;
};

// Moore-neighbour step: the first foreground neighbour of `current`, searching
// clockwise from one step past the direction of `previous` (from east when
// `previous` is no neighbour).
std::optional<Pixel> nextBoundaryPixel(const MaskBytes &mask, Pixel current, Pixel previous)
{
    int first = 0;
    for (int d = 0; d < 8; ++d) {
        if (current.x + directionX[d] == previous.x && current.y + directionY[d] == previous.y) {
            first = (d + 1) % 8;
            break;
        }
    }
    for (int i = 0; i < 8; ++i) {
        const int d = (first + i) % 8;
        const Pixel neighbour{current.x + directionX[d], current.y + directionY[d]};
        if (mask.isForeground(neighbour.x, neighbour.y))
            return neighbour;
    }
    return std::nullopt;
}

QList<QPointF> traceBoundary(const MaskBytes &mask, Pixel start)
{
    QList<QPointF> points;
    points.reserve(mask.typicalBoundary());
    const qint64 stepLimit = mask.stepBound();

    Pixel current = start;
    Pixel previous{start.x - 1, start.y};
    Pixel firstStep;
    qint64 steps = 0;
    for (;;) {
        points.append(QPointF(current.x, current.y));
        const std::optional<Pixel> next = nextBoundaryPixel(mask, current, previous);
        if (!next)
            break; // an isolated pixel
        if (steps == 0) {
            firstStep = *next;
        } else if (*next == start) {
            // Back at the start. The boundary is closed when leaving the start
            // again would repeat the first step; otherwise the start joins two
            // strokes and the walk goes on along the other one.
            if (nextBoundaryPixel(mask, start, current) == firstStep)
                break;
        }
        if (++steps >= stepLimit)
            break;
        previous = current;
        current = *next;
    }
    return points;
}

double distance(const QPointF &p, const QPointF &q)
{
    const double dx = p.x() - q.x();
    const double dy = p.y() - q.y();
    return std::sqrt(dx * dx + dy * dy);
}

// Distance of p from the line through a and b, whose length is chord.
double lineDistance(const QPointF &p, const QPointF &a, const QPointF &b, double chord)
{
    const double cross = (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
    return std::abs(cross) / chord;
}

enum class KeepRule { AtLeastEpsilon, BeyondEpsilon };

// Ramer-Douglas-Peucker with an explicit stack of segments, so long outlines
// cannot exhaust the call stack. Segments are independent, so the order in which
// they are taken does not change the result.
QList<QPointF> simplify(const QList<QPointF> &points, double epsilon, KeepRule rule)
{
    const qsizetype n = points.size();
    if (n <= 2)
        return points;
    std::vector<bool> keep(size_t(n), false);
    keep.front() = true;
    keep.back() = true;

    std::vector<std::pair<qsizetype, qsizetype>> segments;
    segments.emplace_back(0, n - 1);
    while (!segments.empty()) {
        const auto [a, b] = segments.back();
        segments.pop_back();
        if (b - a < 2)
            continue;
        const QPointF &pa = points[a];
        const QPointF &pb = points[b];
        const double chord = distance(pa, pb);
        const bool useLine = rule == KeepRule::AtLeastEpsilon ? !(chord < 1e-9) : chord > 1e-9;
        qsizetype farthest = a + 1;
        double largest = 0.0;
        for (qsizetype i = a + 1; i < b; ++i) {
            const double d = useLine ? lineDistance(points[i], pa, pb, chord) : distance(points[i], pa);
            if (d > largest) {
                largest = d;
                farthest = i;
            }
        }
        const bool split = rule == KeepRule::AtLeastEpsilon ? largest >= epsilon : largest > epsilon;
        if (!split)
            continue;
        keep[size_t(farthest)] = true;
        segments.emplace_back(farthest, b);
        segments.emplace_back(a, farthest);
    }

    QList<QPointF> result;
    for (qsizetype i = 0; i < n; ++i) {
        if (keep[size_t(i)])
            result.append(points[i]);
    }
    return result;
}

float clampTo(float value, float upper)
{
    return std::max(std::min(value, upper), 0.0f);
}

} // namespace

QList<QPointF> maskToPolygon(const QImage &mask, double epsilon)
{
    if (mask.isNull())
        return {};
    const QImage bytes = mask.depth() == 8 ? mask : mask.convertToFormat(QImage::Format_Grayscale8);
    const MaskBytes access(bytes);
    const std::optional<Pixel> start = access.firstForeground();
    if (!start)
        return {};
    const QList<QPointF> boundary = traceBoundary(access, *start);
    if (boundary.size() < 3)
        return {};
    return simplifyClosedPolygon(boundary, epsilon);
}

double enclosedArea(const QList<QPointF> &points)
{
    const qsizetype n = points.size();
    if (n < 3)
        return 0.0;
    double twice = 0.0;
    for (qsizetype i = 0, j = n - 1; i < n; j = i++)
        twice += points[j].x() * points[i].y() - points[i].x() * points[j].y();
    return std::abs(twice) / 2.0;
}

QList<QPointF> simplifyClosedPolygon(const QList<QPointF> &points, double epsilon)
{
    return simplify(points, epsilon, KeepRule::AtLeastEpsilon);
}

QList<QPointF> simplifyPolygon(const QList<QPointF> &points, double epsilon)
{
    return simplify(points, epsilon, KeepRule::BeyondEpsilon);
}

QList<QPointF> maskRowsToPolygon(std::span<const float> mask, int stride, int x0, int y0, int x1,
                                 int y1, float scale, int padX, int padY, int imageWidth,
                                 int imageHeight, float cellWidth, float cellHeight)
{
    if (stride <= 0)
        return {};
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, stride);
    if (x0 >= x1 || y0 >= y1)
        return {};

    const float width = float(imageWidth);
    const float height = float(imageHeight);
    QList<QPointF> lefts;
    QList<QPointF> rights;
    for (int r = y0; r < y1; ++r) {
        const size_t rowStart = size_t(r) * size_t(stride);
        if (rowStart + size_t(x1) > mask.size())
            break;
        const float *row = mask.data() + rowStart;
        int l = -1;
        int k = -1;
        for (int c = x0; c < x1; ++c) {
            if (row[c] > 0.5f) {
                if (l < 0)
                    l = c;
                k = c;
            }
        }
        if (l < 0)
            continue;
        const float y = clampTo((cellHeight * (float(r) + 0.5f) - float(padY)) / scale, height);
        lefts.append(QPointF(clampTo((cellWidth * float(l) - float(padX)) / scale, width), y));
        rights.append(QPointF(clampTo((cellWidth * float(k + 1) - float(padX)) / scale, width), y));
    }
    if (lefts.isEmpty())
        return {};

    QList<QPointF> outline = lefts;
    outline.reserve(lefts.size() + rights.size());
    for (auto it = rights.crbegin(); it != rights.crend(); ++it)
        outline.append(*it);
    return simplifyPolygon(outline, 2.0);
}

} // namespace Quillmark
