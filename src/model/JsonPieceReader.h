#pragma once

#include <QJsonValue>
#include <QString>

#include <functional>

namespace Quillmark {

// Reads a JSON text of any size a piece at a time. QJsonDocument parses at most
// 2 GiB of text in one go, and the project file of a large dataset runs past
// that. This class walks the outer levels of the text itself (objects and
// arrays, member by member) and hands each piece that the caller takes to
// QJsonDocument, so the text is never parsed, or held as a tree, as a whole.
// Every byte is checked: the walk checks the separators between members and
// elements, QJsonDocument everything inside a piece. Positions are byte
// offsets into the text, which must outlive the reader.
class JsonPieceReader {
public:
    // Visits one member: gets its key and the position of its value, and
    // returns the position just past the value, or -1 to stop the walk.
    using MemberVisitor = std::function<qsizetype(const QString &key, qsizetype valueBegin)>;
    // Visits one element in the same way.
    using ElementVisitor = std::function<qsizetype(qsizetype elementBegin)>;

    JsonPieceReader(const char *text, qsizetype size);

    // Position of the text's one value, after an optional UTF-8 byte-order mark
    // and whitespace; -1 when the text holds nothing else.
    qsizetype start() const;
    // True when nothing but whitespace follows `pos`.
    bool onlyWhitespaceFrom(qsizetype pos) const;

    bool isObjectAt(qsizetype pos) const;
    bool isArrayAt(qsizetype pos) const;

    // Walks the object or array that begins at `begin`, in text order. Returns
    // the position just past it, or -1 when it is malformed between its members
    // or elements, or a visitor returned -1.
    qsizetype walkObject(qsizetype begin, const MemberVisitor &visit) const;
    qsizetype walkArray(qsizetype begin, const ElementVisitor &visit) const;

    // Parses the value that begins at `begin` with QJsonDocument. Returns the
    // position just past it, or -1 when it is not valid JSON.
    qsizetype parseValue(qsizetype begin, QJsonValue &value) const;

private:
    qsizetype skipWhitespace(qsizetype pos) const;
    // The position just past the value or string that begins at `pos`, judged
    // by its strings and brackets only; -1 when it does not end.
    qsizetype skipValue(qsizetype pos) const;
    qsizetype skipString(qsizetype pos) const;
    qsizetype skipContainer(qsizetype pos) const;
    qsizetype skipScalar(qsizetype pos) const;
    // Reads the string that begins at `pos` into `key`; -1 when it is invalid.
    qsizetype readKey(qsizetype pos, QString &key) const;

    const char *text;
    qsizetype size;
};

} // namespace Quillmark
