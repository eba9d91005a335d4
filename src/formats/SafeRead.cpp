#include "formats/SafeRead.h"

#include "formats/ImportFailure.h"
#include "model/FiniteNumber.h"
#include "model/RegularFile.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

void noteTooLarge(const QString &path, qint64 maxBytes)
{
    ImportFailure::note(path, QStringLiteral("the file is larger than %1 MiB, more than this reader takes.")
                                  .arg(maxBytes / (1024 * 1024)));
}

} // namespace

bool readWholeFile(const QString &path, qint64 maxBytes, QByteArray *out)
{
    switch (readRegularFileWhole(path, maxBytes, out)) {
    case WholeFileRead::Ok:
        return true;
    case WholeFileRead::CannotOpen:
        ImportFailure::noteCannotOpen(path);
        return false;
    case WholeFileRead::TooLarge:
        noteTooLarge(path, maxBytes);
        return false;
    case WholeFileRead::ReadError:
        ImportFailure::note(path, QStringLiteral("the file could not be read."));
        return false;
    }
    return false;
}

bool readFirstLine(const QString &path, qint64 maxBytes, QByteArray *line)
{
    line->clear();
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    QByteArray head = file.readLine(maxBytes + 1);
    while (head.endsWith('\n') || head.endsWith('\r'))
        head.chop(1);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    *line = std::move(head);
    return true;
}

void forEachLine(QByteArrayView text, FunctionRef<void(QByteArrayView)> onLine)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        onLine(line);
        start = end + 1;
    }
}

namespace {

// For a number that from_chars found out of range: whether it is too large,
// rather than too small. Its size is told by where its first significant digit
// stands, moved by the exponent.
bool tooLarge(const char *begin, const char *end)
{
    if (begin != end && (*begin == '-' || *begin == '+'))
        ++begin;
    qint64 magnitude = 0; // digits before the point, from the first non-zero one
    bool significant = false;
    bool afterPoint = false;
    const char *at = begin;
    for (; at != end && *at != 'e' && *at != 'E'; ++at) {
        if (*at == '.') {
            afterPoint = true;
        } else if (!significant && *at == '0') {
            if (afterPoint)
                --magnitude;
        } else if (!significant) {
            significant = true;
            if (!afterPoint)
                magnitude = 1;
        } else if (!afterPoint) {
            ++magnitude;
        }
    }
    if (!significant)
        return false;
    qint64 exponent = 0;
    if (at != end) {
        ++at;
        const bool negative = at != end && *at == '-';
        if (at != end && (*at == '-' || *at == '+'))
            ++at;
        for (; at != end; ++at)
            exponent = std::min<qint64>(exponent * 10 + (*at - '0'), qint64(1) << 40);
        if (negative)
            exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

} // namespace

NumberText readDecimal(QByteArrayView text, double *value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    if (begin == end)
        return NumberText::Invalid;
    // from_chars accepts "inf" and "nan"; the formats never mean them.
    const char first = (*begin == '-' && begin + 1 != end) ? begin[1] : *begin;
    if (!(first >= '0' && first <= '9') && first != '.')
        return NumberText::Invalid;
    double parsed = 0.0;
    const auto result = std::from_chars(begin, end, parsed, std::chars_format::general);
    if (result.ptr != end)
        return NumberText::Invalid;
    if (result.ec == std::errc::result_out_of_range) {
        if (tooLarge(begin, end))
            return NumberText::OutOfRange;
        *value = *begin == '-' ? -0.0 : 0.0;
        return NumberText::Valid;
    }
    if (result.ec != std::errc() || !std::isfinite(parsed))
        return NumberText::Invalid;
    *value = parsed;
    return NumberText::Valid;
}

bool parseDouble(QByteArrayView text, double *value)
{
    return readDecimal(text, value) == NumberText::Valid;
}

bool floatField(QByteArrayView text, float *value)
{
    double number = 0.0;
    switch (readDecimal(text, &number)) {
    case NumberText::Invalid:
        *value = 0.0f;
        return true;
    case NumberText::OutOfRange:
        return false;
    case NumberText::Valid:
        break;
    }
    if (!fitsFloat(number))
        return false;
    *value = float(number);
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

float coordinateField(QByteArrayView text)
{
    float value = 0.0f;
    return floatField(text, &value) ? value : std::numeric_limits<float>::infinity();
}

float coordinateField(QStringView text)
{
    float value = 0.0f;
    return floatField(text, &value) ? value : std::numeric_limits<float>::infinity();
}

bool floatField(QStringView text, float *value)
{
    QByteArray ascii;
    if (asciiOnly(text, &ascii))
        return floatField(QByteArrayView(ascii), value);
    *value = 0.0f;
    return true;
}

bool parseInt64(QByteArrayView text, qint64 *value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    long long parsed = 0;
    const auto result = std::from_chars(begin, end, parsed, 10);
    if (begin != end && result.ec == std::errc() && result.ptr == end) {
        *value = parsed;
        return true;
    }
    double real = 0.0;
    constexpr double limit = 9223372036854775808.0;
    if (!parseDouble(text, &real) || real != std::floor(real) || real < -limit || real >= limit)
        return false;
    *value = qint64(real);
    return true;
}

bool parseInt(QByteArrayView text, int *value)
{
    qint64 wide = 0;
    if (!parseInt64(text, &wide) || wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        return false;
    *value = int(wide);
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
