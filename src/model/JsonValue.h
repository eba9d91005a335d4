#pragma once

#include "model/FunctionRef.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include <string_view>
#include <vector>

namespace Quillmark {

class JsonStringPool;

namespace JsonDetail {
struct Node;
}

// One value of a JSON document while JsonParser reads it. The document is
// read front to back without building a tree: each value can be read once,
// in document order, and only inside the visitor that was handed it.
//
// The accessors are lenient about types, as the dataset readers need: a value
// of another type than asked for gives the fallback. They are strict about
// syntax: every value is checked, also those that no visitor reads, and a
// syntax error anywhere makes JsonParser::parse fail. After an error every
// accessor gives its fallback and no visitor is called again.
//
// Reading a value consumes it (a second read gives the fallback); a value the
// visitor leaves unread is checked and skipped when the visitor returns.
class JsonValue {
public:
    enum class Type { Invalid, Null, Bool, Number, String, Array, Object };

    JsonValue(const JsonValue &) = delete;
    JsonValue &operator=(const JsonValue &) = delete;

    // The type, without consuming the value. Invalid once it has been read or
    // after a syntax error.
    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isString() const { return type() == Type::String; }
    bool isNumber() const { return type() == Type::Number; }
    bool isArray() const { return type() == Type::Array; }
    bool isObject() const { return type() == Type::Object; }

    // A string, escapes resolved, as Qt's JSON reader gives it (an escaped
    // lone surrogate is kept as it is).
    QString toString(const QString &fallback = QString());
    // The same, through `pool`: a string whose text was read through the pool
    // before is not decoded again but shares the copy kept there. For values
    // that repeat throughout a document, such as class names.
    QString toString(JsonStringPool &pool, const QString &fallback = QString());
    // A string as UTF-8 bytes, escapes resolved.
    QByteArray toUtf8(const QByteArray &fallback = QByteArray());
    // A string as it is written in the text, between its quotes and with its
    // escapes; points into the text, so it is only valid while that lives.
    // Cheap for long strings whose content is not needed.
    QByteArrayView rawString();

    // A finite number.
    double toDouble(double fallback);
    // An integral number (3.0 counts) within the range of the result type.
    qint64 toInt64(qint64 fallback, bool *ok = nullptr);
    int toInt(int fallback);
    bool toBool(bool fallback);

    // Visits the elements of an array, or the members of an object (keys as
    // UTF-8 with escapes resolved, valid during the call) in text order. A
    // value of another type visits nothing.
    void forEachElement(FunctionRef<void(JsonValue &element)> visit);
    void forEachMember(FunctionRef<void(std::string_view key, JsonValue &value)> visit);

    // The elements of an array read at once, for arrays of coordinates:
    // each number as toDouble() gives it, any other element as `fallback`
    // (checked all the same), appended to `out`. A value that is not an
    // array appends nothing.
    void appendNumbers(std::vector<double> &out, double fallback);

    // Checks and consumes the value without reading it.
    void skip();

    // The value as Qt's JSON reader would have it, for the few members a
    // reader keeps whole: numbers written as integers that fit 64 bits stay
    // integers, other numbers are doubles. Undefined after an error.
    QJsonValue toQJsonValue();

private:
    friend class JsonParser;
    friend struct JsonDetail::Node;
    explicit JsonValue(JsonDetail::Node *node) : m_node(node) {}
    bool takeIf(Type wanted);
    bool enters(Type container);

    JsonDetail::Node *m_node;
};

} // namespace Quillmark
