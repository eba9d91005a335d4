#include "model/JsonValue.h"

#include "model/JsonNode.h"
#include "model/JsonStringPool.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace Quillmark {

using JsonDetail::Node;
namespace ondemand = JsonDetail::ondemand;

namespace {

// The body of a string, from just past its opening quote to its closing quote.
struct StringBody {
    const char *begin = nullptr;
    const char *end = nullptr;
    bool escaped = false;
};

// Finds the closing quote of the string whose body starts at `begin`. The
// parser has already checked that every string of the text is closed.
bool findStringBody(const char *begin, const char *limit, StringBody *body)
{
    const auto *quote = static_cast<const char *>(std::memchr(begin, '"', size_t(limit - begin)));
    if (!quote)
        return false;
    body->begin = begin;
    if (!std::memchr(begin, '\\', size_t(quote - begin))) {
        body->end = quote;
        return true;
    }
    body->escaped = true;
    for (const char *c = begin; c < limit; ++c) {
        if (*c == '\\') {
            ++c;
        } else if (*c == '"') {
            body->end = c;
            return true;
        }
    }
    return false;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Resolves the escapes of a string body as Qt's reader does: the escapes of
// the JSON grammar and nothing else, \u units appended as they are (so a
// pair forms one character and a lone surrogate stays alone).
bool decodeEscaped(const StringBody &body, QString *out)
{
    QString text;
    text.reserve(body.end - body.begin);
    const char *run = body.begin;
    const char *c = body.begin;
    while (c < body.end) {
        if (*c != '\\') {
            ++c;
            continue;
        }
        text += QString::fromUtf8(run, c - run);
        if (++c >= body.end)
            return false;
        switch (*c) {
        case '"':
            text += QLatin1Char('"');
            break;
        case '\\':
            text += QLatin1Char('\\');
            break;
        case '/':
            text += QLatin1Char('/');
            break;
        case 'b':
            text += QLatin1Char('\b');
            break;
        case 'f':
            text += QLatin1Char('\f');
            break;
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        case 'u': {
            if (body.end - c < 5)
                return false;
            int unit = 0;
            for (int i = 1; i <= 4; ++i) {
                const int digit = hexValue(c[i]);
                if (digit < 0)
                    return false;
                unit = unit * 16 + digit;
            }
            text += QChar(char16_t(unit));
            c += 4;
            break;
        }
        default:
            return false;
        }
        run = ++c;
    }
    text += QString::fromUtf8(run, body.end - run);
    *out = std::move(text);
    return true;
}

bool decodeString(const StringBody &body, QString *out)
{
    if (!body.escaped) {
        *out = QString::fromUtf8(body.begin, body.end - body.begin);
        return true;
    }
    return decodeEscaped(body, out);
}

// The body of the string value of `node`, consuming it; on failure the
// node is failed.
bool takeStringBody(Node &node, StringBody *body)
{
    ondemand::raw_json_string raw;
    if (node.value.get_raw_json_string().get(raw) == simdjson::SUCCESS &&
        findStringBody(raw.raw(), node.state->textEnd, body))
        return true;
    node.fail();
    return false;
}

// A key as UTF-8: straight from the text when it has no escapes.
bool decodeKey(const ondemand::raw_json_string &raw, const char *limit, std::string &scratch, std::string_view *key)
{
    StringBody body;
    if (!findStringBody(raw.raw(), limit, &body))
        return false;
    if (!body.escaped) {
        *key = std::string_view(body.begin, size_t(body.end - body.begin));
        return true;
    }
    QString text;
    if (!decodeEscaped(body, &text))
        return false;
    scratch = text.toStdString();
    *key = scratch;
    return true;
}

} // namespace

JsonValue::Type JsonValue::type() const
{
    if (!m_node->usable())
        return Type::Invalid;
    ondemand::json_type type;
    if (m_node->value.type().get(type) != simdjson::SUCCESS) {
        m_node->fail();
        return Type::Invalid;
    }
    switch (type) {
    case ondemand::json_type::array:
        return Type::Array;
    case ondemand::json_type::object:
        return Type::Object;
    case ondemand::json_type::number:
        return Type::Number;
    case ondemand::json_type::string:
        return Type::String;
    case ondemand::json_type::boolean:
        return Type::Bool;
    case ondemand::json_type::null:
        return Type::Null;
    }
    m_node->fail();
    return Type::Invalid;
}

// Consumes the value when it has the wanted type; skips it (checking it)
// when it has another. True when the caller is to read it.
bool JsonValue::takeIf(Type wanted)
{
    const Type actual = type();
    if (actual == Type::Invalid)
        return false;
    if (actual != wanted) {
        skip();
        return false;
    }
    m_node->consumed = true;
    return true;
}

// takeIf for a container that is to be entered: one nested deeper than a
// document may nest fails the document.
bool JsonValue::enters(Type container)
{
    if (!takeIf(container))
        return false;
    if (m_node->depth < JsonDetail::maxNesting)
        return true;
    m_node->fail();
    return false;
}

QString JsonValue::toString(const QString &fallback)
{
    if (!takeIf(Type::String))
        return fallback;
    StringBody body;
    QString text;
    if (!takeStringBody(*m_node, &body))
        return fallback;
    if (!decodeString(body, &text)) {
        m_node->fail();
        return fallback;
    }
    return text;
}

QString JsonValue::toString(JsonStringPool &pool, const QString &fallback)
{
    if (!takeIf(Type::String))
        return fallback;
    StringBody body;
    if (!takeStringBody(*m_node, &body))
        return fallback;
    const QByteArrayView raw(body.begin, body.end - body.begin);
    if (const QString *known = pool.find(raw))
        return *known;
    QString text;
    if (!decodeString(body, &text)) {
        m_node->fail();
        return fallback;
    }
    pool.insert(raw, text);
    return text;
}

QByteArray JsonValue::toUtf8(const QByteArray &fallback)
{
    if (!takeIf(Type::String))
        return fallback;
    StringBody body;
    if (!takeStringBody(*m_node, &body))
        return fallback;
    if (!body.escaped)
        return QByteArray(body.begin, body.end - body.begin);
    QString text;
    if (!decodeEscaped(body, &text)) {
        m_node->fail();
        return fallback;
    }
    return text.toUtf8();
}

QByteArrayView JsonValue::rawString()
{
    if (!takeIf(Type::String))
        return {};
    StringBody body;
    QString check;
    if (!takeStringBody(*m_node, &body) || (body.escaped && !decodeEscaped(body, &check))) {
        m_node->fail();
        return {};
    }
    return QByteArrayView(body.begin, body.end - body.begin);
}

double JsonValue::toDouble(double fallback)
{
    if (!takeIf(Type::Number))
        return fallback;
    double number = 0.0;
    if (m_node->value.get_double().get(number) != simdjson::SUCCESS) {
        m_node->fail();
        return fallback;
    }
    return std::isfinite(number) ? number : fallback;
}

qint64 JsonValue::toInt64(qint64 fallback, bool *ok)
{
    if (ok)
        *ok = false;
    if (!takeIf(Type::Number))
        return fallback;
    // Integers that fit are read exactly; a failed attempt consumes nothing.
    ondemand::number_type numberType;
    int64_t integer = 0;
    if (m_node->value.get_number_type().get(numberType) == simdjson::SUCCESS &&
        numberType == ondemand::number_type::signed_integer &&
        m_node->value.get_int64().get(integer) == simdjson::SUCCESS) {
        if (ok)
            *ok = true;
        return integer;
    }
    // Reals, and integers beyond the signed range, which Qt's reader keeps as
    // reals too: integral ones within the range count.
    double number = 0.0;
    if (m_node->value.get_double().get(number) != simdjson::SUCCESS) {
        m_node->fail();
        return fallback;
    }
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number != std::floor(number) || number >= limit || number < -limit)
        return fallback;
    if (ok)
        *ok = true;
    return qint64(number);
}

int JsonValue::toInt(int fallback)
{
    bool ok = false;
    const qint64 value = toInt64(0, &ok);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return fallback;
    return int(value);
}

bool JsonValue::toBool(bool fallback)
{
    if (!takeIf(Type::Bool))
        return fallback;
    bool value = false;
    if (m_node->value.get_bool().get(value) != simdjson::SUCCESS) {
        m_node->fail();
        return fallback;
    }
    return value;
}

namespace {

// Hands each element of the array that `parent` holds to `take` as a node of
// its own, up to the first failure.
template <typename Take> void walkElements(Node &parent, Take &&take)
{
    ondemand::array array;
    if (parent.value.get_array().get(array) != simdjson::SUCCESS) {
        parent.fail();
        return;
    }
    for (auto element : array) {
        Node child{ondemand::value(), parent.state, parent.depth + 1};
        if (std::move(element).get(child.value) != simdjson::SUCCESS) {
            parent.fail();
            return;
        }
        take(child);
        if (parent.state->failed)
            return;
    }
}

} // namespace

void JsonValue::forEachElement(FunctionRef<void(JsonValue &)> visit)
{
    if (!enters(Type::Array))
        return;
    walkElements(*m_node, [&](Node &child) { child.visit(visit); });
}

void JsonValue::forEachMember(FunctionRef<void(std::string_view, JsonValue &)> visit)
{
    if (!enters(Type::Object))
        return;
    ondemand::object object;
    if (m_node->value.get_object().get(object) != simdjson::SUCCESS) {
        m_node->fail();
        return;
    }
    std::string scratch;
    for (auto member : object) {
        ondemand::field field;
        std::string_view key;
        if (std::move(member).get(field) != simdjson::SUCCESS ||
            !decodeKey(field.key(), m_node->state->textEnd, scratch, &key)) {
            m_node->fail();
            return;
        }
        Node child{field.value(), m_node->state, m_node->depth + 1};
        child.visit([&](JsonValue &value) { visit(key, value); });
        if (m_node->state->failed)
            return;
    }
}

void JsonValue::appendNumbers(std::vector<double> &out, double fallback)
{
    // Coordinates run to millions in a large project, so the loop reads
    // numbers straight from the parser; anything else, valid or not, goes
    // through toDouble, which checks it.
    if (!enters(Type::Array))
        return;
    walkElements(*m_node, [&](Node &child) {
        double number = 0.0;
        if (child.value.get_double().get(number) == simdjson::SUCCESS) {
            out.push_back(std::isfinite(number) ? number : fallback);
            return;
        }
        child.visit([&](JsonValue &value) { out.push_back(value.toDouble(fallback)); });
    });
}

void JsonValue::skip()
{
    switch (type()) {
    case Type::Invalid:
        return;
    case Type::Array:
        forEachElement([](JsonValue &) {});
        return;
    case Type::Object:
        forEachMember([](std::string_view, JsonValue &) {});
        return;
    case Type::String:
        rawString();
        return;
    case Type::Number:
        toDouble(0.0);
        return;
    case Type::Bool:
        toBool(false);
        return;
    case Type::Null: {
        m_node->consumed = true;
        bool isNull = false;
        if (m_node->value.is_null().get(isNull) != simdjson::SUCCESS || !isNull)
            m_node->fail();
        return;
    }
    }
}

QJsonValue JsonValue::toQJsonValue()
{
    switch (type()) {
    case Type::Null:
        skip();
        return QJsonValue(QJsonValue::Null);
    case Type::Bool:
        return toBool(false);
    case Type::Number: {
        ondemand::number_type numberType;
        if (m_node->value.get_number_type().get(numberType) == simdjson::SUCCESS &&
            numberType == ondemand::number_type::signed_integer) {
            bool ok = false;
            const qint64 integer = toInt64(0, &ok);
            if (ok)
                return integer;
            return QJsonValue(QJsonValue::Undefined);
        }
        return toDouble(0.0);
    }
    case Type::String:
        return toString();
    case Type::Array: {
        QJsonArray array;
        forEachElement([&](JsonValue &element) { array.append(element.toQJsonValue()); });
        return array;
    }
    case Type::Object: {
        QJsonObject object;
        forEachMember([&](std::string_view key, JsonValue &member) {
            object.insert(QString::fromUtf8(key.data(), qsizetype(key.size())), member.toQJsonValue());
        });
        return object;
    }
    case Type::Invalid:
        break;
    }
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace Quillmark
