#include "formats/RunLengthMask.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

// The COCO API counts in 32 bits; no side of a picture comes near a million.
constexpr qint64 kMaxPixels = std::numeric_limits<quint32>::max();
constexpr int kMaxSide = 1 << 20;

// A whole number of the variant within [0, most], or -1.
qint64 wholeNumber(const QVariant &value, qint64 most)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !(number >= 0.0) || number > double(most) || number != std::floor(number))
        return -1;
    return qint64(number);
}

} // namespace

bool RunLengthMask::hasMaskMembers(const QJsonValue &value)
{
    const QJsonObject mask = value.toObject();
    return mask.contains(QStringLiteral("counts")) && mask.value(QStringLiteral("size")).toArray().size() == 2;
}

std::optional<std::vector<qint64>> RunLengthMask::decodeText(const QByteArray &text)
{
    std::vector<qint64> counts;
    qsizetype p = 0;
    while (p < text.size()) {
        qint64 x = 0;
        int k = 0;
        bool more = true;
        while (more) {
            // Seven groups hold a difference of two 32-bit counts and its sign.
            if (p >= text.size() || k >= 7)
                return std::nullopt;
            const int c = int(text.at(p)) - 48;
            if (c < 0 || c > 63)
                return std::nullopt;
            x |= qint64(c & 0x1f) << (5 * k);
            more = (c & 0x20) != 0;
            ++p;
            ++k;
            if (!more && (c & 0x10))
                x |= qint64(-1) * (qint64(1) << (5 * k));
        }
        if (counts.size() > 2)
            x += counts[counts.size() - 2];
        if (x < 0 || x > kMaxPixels)
            return std::nullopt;
        counts.push_back(x);
    }
    return counts;
}

std::optional<RunLengthMask> RunLengthMask::read(const QVariant &segmentation)
{
    const QVariantMap members = segmentation.toMap();
    const QVariantList size = members.value(QStringLiteral("size")).toList();
    if (size.size() != 2)
        return std::nullopt;
    const qint64 height = wholeNumber(size.at(0), kMaxSide);
    const qint64 width = wholeNumber(size.at(1), kMaxSide);
    if (height <= 0 || width <= 0 || height * width > kMaxPixels)
        return std::nullopt;
    const qint64 total = height * width;

    const QVariant countsValue = members.value(QStringLiteral("counts"));
    std::vector<qint64> counts;
    bool compressed = false;
    if (countsValue.typeId() == QMetaType::QString || countsValue.typeId() == QMetaType::QByteArray) {
        const std::optional<std::vector<qint64>> decoded = decodeText(countsValue.toString().toLatin1());
        if (!decoded)
            return std::nullopt;
        counts = *decoded;
        compressed = true;
    } else if (countsValue.typeId() == QMetaType::QVariantList) {
        const QVariantList list = countsValue.toList();
        counts.reserve(size_t(list.size()));
        for (const QVariant &count : list) {
            const qint64 n = wholeNumber(count, total);
            if (n < 0)
                return std::nullopt;
            counts.push_back(n);
        }
    } else {
        return std::nullopt;
    }

    RunLengthMask mask{int(width), int(height)};
    mask.compressed = compressed;
    qint64 at = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        qint64 length = counts[i];
        if (length > total - at)
            return std::nullopt;
        if (i % 2 == 0) {
            at += length;
            continue;
        }
        while (length > 0) {
            const int x = int(at / height);
            const int y = int(at % height);
            const int take = int(std::min<qint64>(length, height - y));
            mask.appendRun(x, y, y + take);
            at += take;
            length -= take;
        }
    }
    return mask;
}

void RunLengthMask::appendRun(int x, int top, int bottom)
{
    if (bottom <= top)
        return;
    if (!maskRuns.empty() && maskRuns.back().x == x && maskRuns.back().bottom >= top) {
        maskRuns.back().bottom = std::max(maskRuns.back().bottom, bottom);
        return;
    }
    maskRuns.push_back(Run{x, top, bottom});
}

std::vector<qint64> RunLengthMask::counts() const
{
    std::vector<qint64> counts;
    counts.reserve(maskRuns.size() * 2 + 1);
    qint64 end = 0;
    for (const Run &run : maskRuns) {
        const qint64 start = qint64(run.x) * height + run.top;
        const qint64 length = run.bottom - run.top;
        if (!counts.empty() && start == end) {
            counts.back() += length; // a run that goes on in the next column
        } else {
            counts.push_back(start - end);
            counts.push_back(length);
        }
        end = start + length;
    }
    const qint64 total = qint64(width) * height;
    if (end < total || counts.empty())
        counts.push_back(total - end);
    return counts;
}

QString RunLengthMask::countsText() const
{
    const std::vector<qint64> counts = this->counts();
    QByteArray text;
    text.reserve(qsizetype(counts.size()) * 2);
    for (size_t i = 0; i < counts.size(); ++i) {
        qint64 x = counts[i];
        if (i > 2)
            x -= counts[i - 2];
        bool more = true;
        while (more) {
            int c = int(x & 0x1f);
            x >>= 5; // arithmetic: a negative difference keeps its sign
            more = (c & 0x10) ? x != -1 : x != 0;
            if (more)
                c |= 0x20;
            text.append(char(c + 48));
        }
    }
    return QString::fromLatin1(text);
}

QVariant RunLengthMask::toVariant() const
{
    QVariantMap mask;
    if (compressed) {
        mask.insert(QStringLiteral("counts"), countsText());
    } else {
        QVariantList list;
        for (const qint64 count : counts())
            list.append(count);
        mask.insert(QStringLiteral("counts"), list);
    }
    mask.insert(QStringLiteral("size"), QVariantList{height, width});
    return mask;
}

qint64 RunLengthMask::area() const
{
    qint64 pixels = 0;
    for (const Run &run : maskRuns)
        pixels += run.bottom - run.top;
    return pixels;
}

QRect RunLengthMask::bounds() const
{
    if (maskRuns.empty())
        return {};
    int top = maskRuns.front().top;
    int bottom = maskRuns.front().bottom;
    for (const Run &run : maskRuns) {
        top = std::min(top, run.top);
        bottom = std::max(bottom, run.bottom);
    }
    return QRect(QPoint(maskRuns.front().x, top), QPoint(maskRuns.back().x, bottom - 1));
}

namespace {

// The rows [first, end) of `rows` output rows whose centres come from source
// rows [top, bottom) under y -> (y - from) * scale + to.
std::pair<int, int> mappedRows(int top, int bottom, double from, double scale, double to, int rows)
{
    const double a = (top - from) * scale + to - 0.5;
    const double b = (bottom - from) * scale + to - 0.5;
    double first = 0.0;
    double end = 0.0;
    if (scale > 0.0) {
        first = std::ceil(a);
        end = std::ceil(b);
    } else {
        first = std::floor(b) + 1.0;
        end = std::floor(a) + 1.0;
    }
    first = std::clamp(first, 0.0, double(rows));
    end = std::clamp(end, 0.0, double(rows));
    return {int(first), int(end)};
}

} // namespace

RunLengthMask RunLengthMask::mapped(const AxisMap &map, QSize size) const
{
    RunLengthMask out{std::clamp(size.width(), 0, kMaxSide), std::clamp(size.height(), 0, kMaxSide)};
    out.compressed = compressed;
    if (out.width == 0 || out.height == 0 || map.sx == 0.0 || map.sy == 0.0 || maskRuns.empty())
        return out;
    // Where each column's runs begin.
    std::vector<size_t> columnStart(size_t(width) + 1);
    size_t next = 0;
    for (int x = 0; x <= width; ++x) {
        while (next < maskRuns.size() && maskRuns[next].x < x)
            ++next;
        columnStart[size_t(x)] = next;
    }

    std::vector<Run> column;
    for (int x = 0; x < out.width; ++x) {
        const double source = std::floor((x + 0.5 - map.to.x()) / map.sx + map.from.x());
        if (!(source >= 0.0) || source >= width)
            continue;
        const size_t sourceColumn = size_t(source);
        column.clear();
        for (size_t i = columnStart[sourceColumn]; i < columnStart[sourceColumn + 1]; ++i) {
            const auto [first, end] =
                mappedRows(maskRuns[i].top, maskRuns[i].bottom, map.from.y(), map.sy, map.to.y(), out.height);
            if (first < end)
                column.push_back(Run{x, first, end});
        }
        // A mirrored column comes out bottom first.
        if (map.sy < 0.0)
            std::reverse(column.begin(), column.end());
        for (const Run &run : column)
            out.appendRun(run.x, run.top, run.bottom);
    }
    return out;
}

} // namespace Quillmark
