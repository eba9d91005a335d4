#pragma once

#include "model/FunctionRef.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include <functional>

namespace Quillmark {

class JsonParser;
class JsonValue;

// Reads a JSON text of any size a piece at a time. A single document is
// limited in size (2 GiB for Qt's reader, 4 GiB for simdjson), and the
// project file of a large dataset runs past that. This class walks the outer
// levels of the text itself (objects and arrays, member by member) and hands
// each piece that the caller takes to a parser, so the text is never parsed,
// or held as a tree, as a whole. Every byte is checked: the walk checks the
// separators between members and elements, the parser everything inside a
// piece. Positions are byte offsets into the text, which must outlive the
// reader.
//
// Which pieces are taken: JSON, and the few forms beyond the grammar that
// Qt's reader lets through (a number ending in its point, unknown escapes,
// control characters inside strings), which earlier versions of the program
// read project files with. A piece that is neither is refused.
class JsonPieceReader {
public:
    // Visits one member: gets its key and the position of its value, and
    // returns the position just past the value, or -1 to stop the walk.
    using MemberVisitor = std::function<qsizetype(const QString &key, qsizetype valueBegin)>;

    // Copies the bytes [offset, offset + length) of the text into `out`;
    // false when it cannot.
    using ByteSource = std::function<bool(qsizetype offset, char *out, qsizetype length)>;

    JsonPieceReader(const char *text, qsizetype size);

    // Where the text is a mapped file, batches are better read from the file
    // itself: copying out of the mapping touches every page of it for the
    // first time, which costs several times a read of the same bytes on a
    // virtual machine. The bytes must be those of the text; where the source
    // fails, the text is copied.
    void setByteSource(ByteSource source) { byteSource = std::move(source); }

    // Position of the text's one value, after an optional UTF-8 byte-order mark
    // and whitespace; -1 when the text holds nothing else.
    qsizetype start() const;
    // True when nothing but whitespace follows `pos`.
    bool onlyWhitespaceFrom(qsizetype pos) const;

    bool isObjectAt(qsizetype pos) const;
    bool isArrayAt(qsizetype pos) const;

    // Walks the object that begins at `begin`, in text order. Returns the
    // position just past it, or -1 when it is malformed between its members,
    // or the visitor returned -1.
    qsizetype walkObject(qsizetype begin, const MemberVisitor &visit) const;

    // Reads the value that begins at `begin` as a Qt value, for small pieces
    // whose readers work on Qt's JSON types. Returns the position just past
    // it, or -1 when the piece is refused.
    qsizetype parseValue(qsizetype begin, QJsonValue &value) const;

    // Reads the value that begins at `begin` with `parser`, without a tree,
    // and hands it to `visit`; a value the visitor leaves unread is checked
    // all the same. For a piece beyond the grammar the visitor may have been
    // called once before it is called again with the piece as Qt's reader
    // has it, so it must start afresh on every call. Returns the position
    // just past the value, or -1 when the piece is refused.
    qsizetype readValue(qsizetype begin, JsonParser &parser, FunctionRef<void(JsonValue &)> visit) const;

    // Reads the elements of the array that begins at `begin` with `parser`
    // and hands each to `visit` with its index. Elements are read in batches
    // of about `batchBytes`, each parsed in one pass, where the text is laid
    // out one element to a block of lines (as the project file is written);
    // otherwise, or where a batch is refused, one by one as readValue() reads
    // them. An element may be visited more than once: a later visit of the
    // same index replaces what the earlier ones gave, and the visits of all
    // later indices. Returns the position just past the array, or -1 when it
    // is refused.
    qsizetype readElements(qsizetype begin, JsonParser &parser, FunctionRef<void(qsizetype, JsonValue &)> visit);

    // For readers that parse batches elsewhere, on other threads: cuts the
    // elements of the array that begins at `begin` into the batches that
    // readElements() would take, and hands each to `take` as a text of its own
    // (the elements bracketed as an array, followed by JsonText::padding zero
    // bytes), in order. Nothing is parsed here: the cuts hold only where each
    // batch then parses whole. Returns the position just past the array, or
    // -1 when the array is not laid out one element to a block of lines, a cut
    // cannot be made, or `take` returned false; the caller then reads the
    // array with readElements().
    qsizetype cutBatches(qsizetype begin, FunctionRef<bool(QByteArray &&batch)> take);

    static constexpr qsizetype batchBytes = qsizetype(1) << 20;

private:
    qsizetype skipWhitespace(qsizetype pos) const;
    // The text's byte at `pos`, from the window where it holds it.
    char byteAt(qsizetype pos) const;
    // After an item of an object or array that ends at `pos` (-1 when the item
    // was refused): the position just past `closer` when it follows, with
    // `closed` set, else the start of the next item after a comma; -1 for
    // anything else.
    qsizetype afterItem(qsizetype pos, char closer, bool *closed) const;
    // The position just past the value or string that begins at `pos`, judged
    // by its strings and brackets only; -1 when it does not end.
    qsizetype skipValue(qsizetype pos) const;
    qsizetype skipString(qsizetype pos) const;
    qsizetype skipContainer(qsizetype pos) const;
    qsizetype skipScalar(qsizetype pos) const;
    // Reads the string that begins at `pos` into `key`; -1 when it is invalid.
    qsizetype readKey(qsizetype pos, QString &key) const;
    // Parses the piece [begin, end) with `parser`.
    bool readPiece(JsonParser &parser, qsizetype begin, qsizetype end, FunctionRef<void(JsonValue &)> visit) const;
    // The position of the first element of the array that begins at
    // `arrayBegin`, or just past the array when it is `empty`; -1 when no
    // array begins there.
    qsizetype firstElement(qsizetype arrayBegin, bool *empty) const;
    // The batch that begins at `pos`, cut as readElements() cuts it: where it
    // ends (-1 when no cut is found) and where the next element begins, or,
    // with `closed`, just past the array; `next` is -1 when anything else
    // follows the batch.
    struct Cut {
        qsizetype end = -1;
        qsizetype next = -1;
        bool closed = false;
    };
    Cut cutAt(qsizetype pos, QByteArrayView indent);
    // The line start that a closing bracket of an element has in an array
    // written one element to a block of lines: the line break and the
    // indentation before the element at `elementBegin`. Empty when the
    // elements are not laid out so.
    QByteArrayView elementIndent(qsizetype elementBegin) const;
    // The position just past the last closing brace in [from, to) that
    // stands at the start of a line indented by `indent`, or past the first
    // one at or after `to` when there is none before; -1 when there is none.
    qsizetype batchEnd(qsizetype from, qsizetype to, QByteArrayView indent) const;
    bool closesAt(qsizetype brace, QByteArrayView indent) const;
    // The position just past the first such brace in [from, to) that a
    // closing bracket follows: where the array ends when a batch ran past it.
    qsizetype arrayEndBefore(qsizetype from, qsizetype to, QByteArrayView indent) const;
    // Parses the elements in [begin, end) as one array; on success `index`
    // is advanced past them.
    bool readBatch(JsonParser &parser, qsizetype begin, qsizetype end, qsizetype &index,
                   FunctionRef<void(qsizetype, JsonValue &)> visit);
    // With a byte source: reads the text's bytes [from, to) into the batch
    // buffer, where the search for a batch's end and the batch itself take
    // them, so that the mapped text is touched only around batch ends.
    void loadWindow(qsizetype from, qsizetype to);

    const char *text;
    qsizetype size;
    QByteArray batch; // a batch of elements, bracketed and padded for the parser
    ByteSource byteSource;
    // The text's bytes that the batch buffer holds from its second byte on,
    // when it does: [windowBegin, windowEnd), else -1.
    qsizetype windowBegin = -1;
    qsizetype windowEnd = -1;
};

} // namespace Quillmark
