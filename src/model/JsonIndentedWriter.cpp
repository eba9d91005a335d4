#include "model/JsonIndentedWriter.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonObject>
#include <QVariant>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace Quillmark {

namespace {

constexpr qsizetype flushThreshold = 1 << 20;
// Doubles that are whole numbers up to 2^53 are written as integers.
constexpr double largestExactInteger = 9007199254740992.0;

char hexDigit(unsigned value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

void appendEscapedUnit(QByteArray &out, char16_t unit)
{
    out += "\\u";
    out += hexDigit((unit >> 12) & 0xf);
    out += hexDigit((unit >> 8) & 0xf);
    out += hexDigit((unit >> 4) & 0xf);
    out += hexDigit(unit & 0xf);
}

void appendAscii(QByteArray &out, char16_t unit)
{
    switch (unit) {
    case u'"': out += "\\\""; return;
    case u'\\': out += "\\\\"; return;
    case u'\b': out += "\\b"; return;
    case u'\f': out += "\\f"; return;
    case u'\n': out += "\\n"; return;
    case u'\r': out += "\\r"; return;
    case u'\t': out += "\\t"; return;
    default: break;
    }
    if (unit < 0x20) {
        out += "\\u00";
        out += hexDigit(unit >> 4);
        out += hexDigit(unit & 0xf);
        return;
    }
    out += char(unit);
}

void appendUtf8(QByteArray &out, char32_t code)
{
    if (code < 0x800) {
        out += char(0xc0 | (code >> 6));
    } else if (code < 0x10000) {
        out += char(0xe0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3f));
    } else {
        out += char(0xf0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3f));
        out += char(0x80 | ((code >> 6) & 0x3f));
    }
    out += char(0x80 | (code & 0x3f));
}

} // namespace

JsonIndentedWriter::JsonIndentedWriter(QIODevice *device) : m_device(device)
{
    m_buffer.reserve(flushThreshold + 4096);
}

void JsonIndentedWriter::appendDouble(QByteArray &out, double number)
{
    if (!std::isfinite(number)) {
        out += "null";
        return;
    }
    char text[64];
    if (number == std::floor(number) && std::fabs(number) <= largestExactInteger) {
        const auto result = std::to_chars(text, text + sizeof text, qint64(number));
        out.append(text, result.ptr - text);
        return;
    }
    // Shortest round-trip digits in the shorter of the fixed and the scientific
    // form, fixed on a tie. That is what the plain conversion gives, except that
    // it writes the exact digits of large whole numbers where the fixed form
    // must be the shortest digits padded with zeros.
    const auto plain = std::to_chars(text, text + sizeof text, number);
    const std::string_view plainText(text, plain.ptr - text);
    if (plainText.find('e') != std::string_view::npos || std::fabs(number) < largestExactInteger) {
        out.append(plainText.data(), qsizetype(plainText.size()));
        return;
    }
    appendLargeDouble(out, number);
}

void JsonIndentedWriter::appendLargeDouble(QByteArray &out, double number)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, number, std::chars_format::scientific);
    const bool negative = text[0] == '-';
    const char *begin = text + (negative ? 1 : 0);
    const QByteArray scientific(begin, result.ptr - begin);
    const qsizetype e = scientific.indexOf('e');
    QByteArray digits = scientific.left(e);
    digits.replace(".", "");
    const int decimalPoint = scientific.mid(e + 1).toInt() + 1;
    const int count = int(digits.size());

    QByteArray fixed;
    if (decimalPoint >= count)
        fixed = digits + QByteArray(decimalPoint - count, '0');
    else
        fixed = digits.left(decimalPoint) + '.' + digits.mid(decimalPoint);
    if (negative)
        out += '-';
    out += fixed.size() <= scientific.size() ? fixed : scientific;
}

void JsonIndentedWriter::appendString(QByteArray &out, const QString &text)
{
    out += '"';
    const char16_t *unit = reinterpret_cast<const char16_t *>(text.utf16());
    const char16_t *end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            appendAscii(out, u);
            continue;
        }
        if (!QChar::isSurrogate(u)) {
            appendUtf8(out, u);
            continue;
        }
        // A valid pair becomes one UTF-8 sequence; a lone surrogate is escaped.
        if (QChar::isHighSurrogate(u) && unit != end && QChar::isLowSurrogate(*unit)) {
            appendUtf8(out, QChar::surrogateToUcs4(u, *unit));
            ++unit;
            continue;
        }
        appendEscapedUnit(out, u);
    }
    out += '"';
}

void JsonIndentedWriter::indent(int level)
{
    m_buffer.append(qsizetype(level) * 4, ' ');
}

void JsonIndentedWriter::beginValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasMembers.empty())
        beginMember();
}

void JsonIndentedWriter::beginMember()
{
    m_buffer += m_hasMembers.back() ? ",\n" : "\n";
    m_hasMembers.back() = true;
    indent(int(m_hasMembers.size()));
}

void JsonIndentedWriter::key(const char *latin1Key)
{
    beginMember();
    m_buffer += '"';
    m_buffer += latin1Key;
    m_buffer += "\": ";
    m_afterKey = true;
}

void JsonIndentedWriter::rawKey(const QString &text)
{
    beginMember();
    appendString(m_buffer, text);
    m_buffer += ": ";
    m_afterKey = true;
}

void JsonIndentedWriter::open(char bracket)
{
    beginValue();
    m_buffer += bracket;
    m_hasMembers.push_back(false);
}

void JsonIndentedWriter::close(char bracket)
{
    m_hasMembers.pop_back();
    m_buffer += '\n';
    indent(int(m_hasMembers.size()));
    m_buffer += bracket;
    if (m_hasMembers.empty())
        m_buffer += '\n';
    flushIfLarge();
}

void JsonIndentedWriter::continueInside(int depth)
{
    m_hasMembers.assign(size_t(std::max(depth, 0)), true);
    m_afterKey = false;
}

void JsonIndentedWriter::beginObject() { open('{'); }
void JsonIndentedWriter::endObject() { close('}'); }
void JsonIndentedWriter::beginArray() { open('['); }
void JsonIndentedWriter::endArray() { close(']'); }

void JsonIndentedWriter::value(const QString &text)
{
    beginValue();
    appendString(m_buffer, text);
}

void JsonIndentedWriter::value(QByteArrayView utf8)
{
    const bool plain = std::all_of(utf8.begin(), utf8.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
    });
    if (!plain) {
        value(QString::fromUtf8(utf8));
        return;
    }
    beginValue();
    m_buffer += '"';
    m_buffer += utf8;
    m_buffer += '"';
    flushIfLarge();
}

void JsonIndentedWriter::nullValue()
{
    beginValue();
    m_buffer += "null";
}

void JsonIndentedWriter::value(double number)
{
    beginValue();
    appendDouble(m_buffer, number);
}

void JsonIndentedWriter::value(int number)
{
    beginValue();
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, number);
    m_buffer.append(text, result.ptr - text);
}

void JsonIndentedWriter::value(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::Object: {
        beginObject();
        const QJsonObject object = json.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            rawKey(it.key());
            value(it.value());
        }
        endObject();
        return;
    }
    case QJsonValue::Array: {
        beginArray();
        const QJsonArray array = json.toArray();
        for (const QJsonValue &element : array)
            value(element);
        endArray();
        return;
    }
    case QJsonValue::String:
        value(json.toString());
        return;
    case QJsonValue::Bool:
        beginValue();
        m_buffer += json.toBool() ? "true" : "false";
        return;
    case QJsonValue::Double: {
        // A whole number read or made as one is written with all its digits.
        const QVariant number = json.toVariant();
        if (number.typeId() != QMetaType::LongLong) {
            value(json.toDouble());
            return;
        }
        beginValue();
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, number.toLongLong());
        m_buffer.append(text, result.ptr - text);
        return;
    }
    default:
        nullValue();
        return;
    }
}

void JsonIndentedWriter::flushIfLarge()
{
    if (m_buffer.size() >= flushThreshold)
        finish();
}

bool JsonIndentedWriter::finish()
{
    if (m_ok && !m_buffer.isEmpty())
        m_ok = m_device->write(m_buffer) == m_buffer.size();
    m_buffer.resize(0);
    return m_ok;
}

} // namespace Quillmark
