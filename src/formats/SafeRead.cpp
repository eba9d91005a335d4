#include "formats/SafeRead.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace Quillmark {

bool readWholeFile(const QString &path, qint64 maxBytes, QByteArray *out)
{
    out->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size > maxBytes)
        return false;
    QByteArray bytes;
    if (file.isSequential()) {
        // No size known up front: read in pieces up to the bound.
        while (!file.atEnd() && bytes.size() <= maxBytes) {
            const QByteArray piece = file.read(std::min<qint64>(1 << 20, maxBytes + 1 - bytes.size()));
            if (piece.isEmpty())
                break;
            bytes += piece;
        }
    } else {
        bytes = file.readAll();
    }
    if (bytes.size() > maxBytes || file.error() != QFileDevice::NoError)
        return false;
    *out = std::move(bytes);
    return true;
}

QByteArray readFileHead(const QString &path, qint64 count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(count);
}

bool readFirstLine(const QString &path, qint64 maxBytes, QByteArray *line)
{
    line->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray head = file.readLine(maxBytes + 1);
    while (head.endsWith('\n') || head.endsWith('\r'))
        head.chop(1);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    *line = std::move(head);
    return true;
}

QList<QByteArrayView> splitLines(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        const bool last = end < 0;
        if (last)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = end + 1;
    }
    return lines;
}

bool parseDouble(QByteArrayView text, double *value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    if (begin == end)
        return false;
    // from_chars accepts "inf" and "nan"; the formats never mean them.
    const char first = (*begin == '-' && begin + 1 != end) ? begin[1] : *begin;
    if (!(first >= '0' && first <= '9') && first != '.')
        return false;
    double parsed = 0.0;
    const auto result = std::from_chars(begin, end, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

namespace {

// Numbers are ASCII; text with anything else is no number.
bool asciiOnly(QStringView text, QByteArray *ascii)
{
    ascii->reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
        ascii->append(char(c.unicode()));
    }
    return true;
}

} // namespace

bool parseDouble(QStringView text, double *value)
{
    QByteArray ascii;
    return asciiOnly(text, &ascii) && parseDouble(QByteArrayView(ascii), value);
}

bool parseInt(QByteArrayView text, int *value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    int parsed = 0;
    const auto result = std::from_chars(begin, end, parsed, 10);
    if (begin != end && result.ec == std::errc() && result.ptr == end) {
        *value = parsed;
        return true;
    }
    double real = 0.0;
    if (!parseDouble(text, &real) || real != std::floor(real))
        return false;
    if (real < double(std::numeric_limits<int>::min()) || real > double(std::numeric_limits<int>::max()))
        return false;
    *value = int(real);
    return true;
}

bool parseInt(QStringView text, int *value)
{
    QByteArray ascii;
    return asciiOnly(text, &ascii) && parseInt(QByteArrayView(ascii), value);
}

float floatOr(QByteArrayView text, float fallback)
{
    double v = 0.0;
    if (!parseDouble(text, &v))
        return fallback;
    const float f = float(v);
    return std::isfinite(f) ? f : fallback;
}

float floatOr(QStringView text, float fallback)
{
    QByteArray ascii;
    return asciiOnly(text, &ascii) ? floatOr(QByteArrayView(ascii), fallback) : fallback;
}

int intOr(QByteArrayView text, int fallback)
{
    int v = 0;
    return parseInt(text, &v) ? v : fallback;
}

int intOr(QStringView text, int fallback)
{
    QByteArray ascii;
    return asciiOnly(text, &ascii) ? intOr(QByteArrayView(ascii), fallback) : fallback;
}

qint64 jsonInt64(const QJsonValue &value, qint64 fallback, bool *ok)
{
    if (ok)
        *ok = false;
    if (!value.isDouble())
        return fallback;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong) {
        if (ok)
            *ok = true;
        return variant.toLongLong();
    }
    const double d = value.toDouble();
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(d) || d != std::floor(d) || d >= limit || d < -limit)
        return fallback;
    if (ok)
        *ok = true;
    return qint64(d);
}

int jsonInt(const QJsonValue &value, int fallback)
{
    bool ok = false;
    const qint64 v = jsonInt64(value, 0, &ok);
    if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return fallback;
    return int(v);
}

double jsonDouble(const QJsonValue &value, double fallback)
{
    if (!value.isDouble())
        return fallback;
    const double d = value.toDouble();
    return std::isfinite(d) ? d : fallback;
}

QString jsonString(const QJsonValue &value, const QString &fallback)
{
    return value.isString() ? value.toString() : fallback;
}

QList<QPair<int, int>> jsonKeypointEdges(const QJsonArray &pairs, int firstIndex, qsizetype count)
{
    QList<QPair<int, int>> edges;
    for (const QJsonValue &value : pairs) {
        const QJsonArray pair = value.toArray();
        if (pair.size() < 2)
            continue;
        const int from = jsonInt(pair.at(0), -1 - firstIndex) - firstIndex;
        const int to = jsonInt(pair.at(1), -1 - firstIndex) - firstIndex;
        if (from >= 0 && to >= 0 && from < count && to < count)
            edges.append({from, to});
    }
    return edges;
}

} // namespace Quillmark
