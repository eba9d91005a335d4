#include "model/JsonPieceReader.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Quillmark {

namespace {

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool endsScalar(char c)
{
    return isWhitespace(c) || c == ',' || c == ':' || c == ']' || c == '}' || c == '[' || c == '{' || c == '"';
}

// QJsonDocument takes only an object or an array as a whole document, so a
// lone string, number or literal is parsed as the one element of an array.
bool parsePiece(const char *begin, qsizetype length, QJsonValue &value)
{
    const bool container = *begin == '{' || *begin == '[';
    QByteArray piece = container ? QByteArray::fromRawData(begin, length)
                                 : QByteArray("[", 1) + QByteArray::fromRawData(begin, length) + ']';
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(piece, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return false;
    if (!container) {
        const QJsonArray wrapper = document.array();
        if (wrapper.size() != 1)
            return false;
        value = wrapper.at(0);
        return true;
    }
    value = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    return true;
}

} // namespace

JsonPieceReader::JsonPieceReader(const char *text, qsizetype size) : text(text), size(size) {}

qsizetype JsonPieceReader::start() const
{
    qsizetype pos = 0;
    if (size >= 3 && text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF')
        pos = 3;
    pos = skipWhitespace(pos);
    return pos < size ? pos : -1;
}

bool JsonPieceReader::onlyWhitespaceFrom(qsizetype pos) const
{
    return pos >= 0 && skipWhitespace(pos) == size;
}

bool JsonPieceReader::isObjectAt(qsizetype pos) const
{
    return pos >= 0 && pos < size && text[pos] == '{';
}

bool JsonPieceReader::isArrayAt(qsizetype pos) const
{
    return pos >= 0 && pos < size && text[pos] == '[';
}

qsizetype JsonPieceReader::walkObject(qsizetype begin, const MemberVisitor &visit) const
{
    if (!isObjectAt(begin))
        return -1;
    qsizetype pos = skipWhitespace(begin + 1);
    if (pos < size && text[pos] == '}')
        return pos + 1;
    while (pos < size) {
        QString key;
        pos = readKey(pos, key);
        if (pos < 0)
            return -1;
        pos = skipWhitespace(pos);
        if (pos >= size || text[pos] != ':')
            return -1;
        pos = skipWhitespace(pos + 1);
        if (pos >= size)
            return -1;
        pos = visit(key, pos);
        if (pos < 0)
            return -1;
        pos = skipWhitespace(pos);
        if (pos >= size)
            return -1;
        if (text[pos] == '}')
            return pos + 1;
        if (text[pos] != ',')
            return -1;
        pos = skipWhitespace(pos + 1);
    }
    return -1;
}

qsizetype JsonPieceReader::walkArray(qsizetype begin, const ElementVisitor &visit) const
{
    if (!isArrayAt(begin))
        return -1;
    qsizetype pos = skipWhitespace(begin + 1);
    if (pos < size && text[pos] == ']')
        return pos + 1;
    while (pos < size) {
        pos = visit(pos);
        if (pos < 0)
            return -1;
        pos = skipWhitespace(pos);
        if (pos >= size)
            return -1;
        if (text[pos] == ']')
            return pos + 1;
        if (text[pos] != ',')
            return -1;
        pos = skipWhitespace(pos + 1);
    }
    return -1;
}

qsizetype JsonPieceReader::parseValue(qsizetype begin, QJsonValue &value) const
{
    const qsizetype end = skipValue(begin);
    if (end < 0 || !parsePiece(text + begin, end - begin, value))
        return -1;
    return end;
}

qsizetype JsonPieceReader::skipWhitespace(qsizetype pos) const
{
    while (pos < size && isWhitespace(text[pos]))
        ++pos;
    return pos;
}

qsizetype JsonPieceReader::skipValue(qsizetype pos) const
{
    if (pos < 0 || pos >= size)
        return -1;
    switch (text[pos]) {
    case '"': return skipString(pos);
    case '{':
    case '[': return skipContainer(pos);
    default: return skipScalar(pos);
    }
}

qsizetype JsonPieceReader::skipString(qsizetype pos) const
{
    for (++pos; pos < size; ++pos) {
        if (text[pos] == '\\')
            ++pos;
        else if (text[pos] == '"')
            return pos + 1;
    }
    return -1;
}

qsizetype JsonPieceReader::skipContainer(qsizetype pos) const
{
    qsizetype depth = 0;
    while (pos < size) {
        const char c = text[pos];
        if (c == '"') {
            pos = skipString(pos);
            if (pos < 0)
                return -1;
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                return pos + 1;
        }
        ++pos;
    }
    return -1;
}

qsizetype JsonPieceReader::skipScalar(qsizetype pos) const
{
    const qsizetype begin = pos;
    while (pos < size && !endsScalar(text[pos]))
        ++pos;
    return pos > begin ? pos : -1;
}

qsizetype JsonPieceReader::readKey(qsizetype pos, QString &key) const
{
    if (pos >= size || text[pos] != '"')
        return -1;
    QJsonValue value;
    const qsizetype end = parseValue(pos, value);
    if (end < 0)
        return -1;
    key = value.toString();
    return end;
}

} // namespace Quillmark
