#include "model/JsonPieceReader.h"

#include "model/JsonParser.h"
#include "model/JsonText.h"
#include "model/JsonValue.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QM_JSON_PIECES_SSE2 1
#endif

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
bool parseWithQt(const char *begin, qsizetype length, QJsonValue &value)
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

#ifdef QM_JSON_PIECES_SSE2
// One bit per byte of the 16 at `p` that a container walk must look at:
// quotes, backslashes and brackets.
unsigned specialBytes16(const char *p)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i quotes =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
    const __m128i braces =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('{')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('}')));
    const __m128i brackets =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('[')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(']')));
    return unsigned(_mm_movemask_epi8(_mm_or_si128(quotes, _mm_or_si128(braces, brackets))));
}

quint64 specialBytes64(const char *p)
{
    return quint64(specialBytes16(p)) | quint64(specialBytes16(p + 16)) << 16 | quint64(specialBytes16(p + 32)) << 32 |
           quint64(specialBytes16(p + 48)) << 48;
}
#endif

// The walk through a container: how deep in brackets, and whether inside a
// string. Takes the bytes that matter one by one.
struct ContainerWalk {
    qsizetype depth = 0;
    bool inString = false;

    // Takes `c`; true when it closes the container. Backslashes are the
    // caller's: inside a string the byte after one is skipped.
    bool take(char c)
    {
        if (inString) {
            inString = c != '"';
            return false;
        }
        if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            return --depth == 0;
        return false;
    }
};

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
        bool closed = false;
        pos = afterItem(visit(key, pos), '}', &closed);
        if (pos < 0 || closed)
            return pos;
    }
    return -1;
}

qsizetype JsonPieceReader::afterItem(qsizetype pos, char closer, bool *closed) const
{
    if (pos < 0)
        return -1;
    pos = skipWhitespace(pos);
    if (pos >= size)
        return -1;
    const char c = byteAt(pos);
    *closed = c == closer;
    if (*closed)
        return pos + 1;
    if (c != ',')
        return -1;
    return skipWhitespace(pos + 1);
}

qsizetype JsonPieceReader::parseValue(qsizetype begin, QJsonValue &value) const
{
    const qsizetype end = skipValue(begin);
    if (end < 0)
        return -1;
    if (parseWithQt(text + begin, end - begin, value))
        return end;
    // JSON that Qt's reader refuses: a number too small for a double, which
    // is read as 0.
    JsonParser parser;
    return readPiece(parser, begin, end, [&](JsonValue &piece) { value = piece.toQJsonValue(); }) ? end : -1;
}

qsizetype JsonPieceReader::readValue(qsizetype begin, JsonParser &parser, FunctionRef<void(JsonValue &)> visit) const
{
    const qsizetype end = skipValue(begin);
    if (end < 0)
        return -1;
    if (readPiece(parser, begin, end, visit))
        return end;
    // Not JSON, but perhaps one of the forms Qt's reader lets through: read
    // as it has them, written out again as JSON.
    QJsonValue value;
    if (!parseWithQt(text + begin, end - begin, value))
        return -1;
    const JsonText normalized(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    const bool ok = parser.parse(normalized, [&](JsonValue &wrapper) { wrapper.forEachElement(visit); });
    return ok ? end : -1;
}

bool JsonPieceReader::readPiece(JsonParser &parser, qsizetype begin, qsizetype end,
                                FunctionRef<void(JsonValue &)> visit) const
{
    const QByteArrayView piece(text + begin, end - begin);
    if (isObjectAt(begin) || isArrayAt(begin))
        return parser.parse(piece, size - end, visit);
    // The parser takes only an object or an array as a document.
    const JsonText wrapped(QByteArray("[", 1) + piece.toByteArray() + ']');
    return parser.parse(wrapped, [&](JsonValue &wrapper) { wrapper.forEachElement(visit); });
}

qsizetype JsonPieceReader::readElements(qsizetype begin, JsonParser &parser,
                                        FunctionRef<void(qsizetype, JsonValue &)> visit)
{
    // Batches refused one after another before the rest is read one by one:
    // a text whose layout only looks like ours costs little more than that.
    constexpr int refusalsTolerated = 4;
    bool empty = false;
    qsizetype pos = firstElement(begin, &empty);
    if (pos < 0 || empty)
        return pos;
    const QByteArrayView indent = elementIndent(pos);
    qsizetype singlyUntil = indent.isEmpty() ? size : 0; // elements before this are read one by one
    int refusals = 0;
    qsizetype index = 0;
    while (pos < size) {
        qsizetype end = -1;
        if (pos >= singlyUntil) {
            const Cut cut = cutAt(pos, indent);
            const qsizetype candidate = cut.end;
            if (candidate > pos && readBatch(parser, pos, candidate, index, visit)) {
                refusals = 0;
                if (cut.next < 0 || cut.closed)
                    return cut.next;
                pos = cut.next;
                continue;
            }
            if (const qsizetype last = arrayEndBefore(pos, candidate, indent);
                last > pos && readBatch(parser, pos, last, index, visit)) {
                end = last; // the batch ran past the end of the array
            } else {
                singlyUntil = candidate > pos && ++refusals < refusalsTolerated ? candidate : size;
            }
        }
        if (end < 0) {
            end = readValue(pos, parser, [&](JsonValue &element) { visit(index, element); });
            if (end >= 0)
                ++index;
        }
        bool closed = false;
        pos = afterItem(end, ']', &closed);
        if (pos < 0 || closed)
            return pos;
    }
    return -1;
}

qsizetype JsonPieceReader::cutBatches(qsizetype begin, FunctionRef<bool(QByteArray &&)> take)
{
    bool empty = false;
    qsizetype pos = firstElement(begin, &empty);
    if (pos < 0 || empty)
        return pos;
    const QByteArrayView indent = elementIndent(pos);
    if (indent.isEmpty())
        return -1;
    while (pos < size) {
        const auto [end, next, closed] = cutAt(pos, indent);
        if (next < 0)
            return -1;
        const qsizetype length = end - pos;
        QByteArray piece(length + 2 + JsonText::padding, Qt::Uninitialized);
        char *bytes = piece.data();
        bytes[0] = '[';
        if (end <= windowEnd)
            std::memcpy(bytes + 1, batch.constData() + 1, size_t(length));
        else if (!byteSource || !byteSource(pos, bytes + 1, length))
            std::memcpy(bytes + 1, text + pos, size_t(length));
        bytes[length + 1] = ']';
        std::memset(bytes + length + 2, 0, size_t(JsonText::padding));
        if (!take(std::move(piece)))
            return -1;
        if (closed)
            return next;
        pos = next;
    }
    return -1;
}

qsizetype JsonPieceReader::firstElement(qsizetype arrayBegin, bool *empty) const
{
    *empty = false;
    if (!isArrayAt(arrayBegin))
        return -1;
    const qsizetype pos = skipWhitespace(arrayBegin + 1);
    *empty = pos < size && text[pos] == ']';
    return *empty ? pos + 1 : pos;
}

JsonPieceReader::Cut JsonPieceReader::cutAt(qsizetype pos, QByteArrayView indent)
{
    loadWindow(pos, std::min(size, pos + batchBytes));
    Cut cut;
    cut.end = batchEnd(pos, pos + batchBytes, indent);
    // What follows the batch, read while the window still holds it.
    if (cut.end > pos)
        cut.next = afterItem(cut.end, ']', &cut.closed);
    return cut;
}

QByteArrayView JsonPieceReader::elementIndent(qsizetype elementBegin) const
{
    if (!isObjectAt(elementBegin))
        return {};
    qsizetype lineStart = elementBegin;
    while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t'))
        --lineStart;
    if (lineStart == 0 || text[lineStart - 1] != '\n')
        return {};
    return QByteArrayView(text + lineStart - 1, elementBegin - lineStart + 1);
}

bool JsonPieceReader::closesAt(qsizetype brace, QByteArrayView indent) const
{
    return brace >= indent.size() && std::memcmp(text + brace - indent.size(), indent.data(), size_t(indent.size())) == 0;
}

// A brace so indented closes an element when the text is laid out as its
// first element suggests; whether it really does is the parser's to decide.
// Looking back from the end of a batch finds the last such brace after a few
// lines; only an element larger than a batch makes the search go forward.
qsizetype JsonPieceReader::batchEnd(qsizetype from, qsizetype to, QByteArrayView indent) const
{
    constexpr qsizetype searchedBatches = 64;
    to = std::min(to, size);
    // bytes[i] is the text's byte from + i.
    const bool inWindow = windowBegin >= 0 && from >= windowBegin && to <= windowEnd;
    const char *bytes = inWindow ? batch.constData() + 1 + (from - windowBegin) : text + from;
    for (qsizetype end = to - from; end > 0;) {
        const auto *brace = static_cast<const char *>(memrchr(bytes, '}', size_t(end)));
        if (!brace)
            break;
        const qsizetype at = brace - bytes;
        const bool closes = at >= indent.size()
            ? std::memcmp(brace - indent.size(), indent.data(), size_t(indent.size())) == 0
            : closesAt(from + at, indent);
        if (closes)
            return from + at + 1;
        end = at;
    }
    const qsizetype limit = std::min(size, from + searchedBatches * batchBytes);
    for (qsizetype pos = to; pos < limit;) {
        const auto *brace = static_cast<const char *>(std::memchr(text + pos, '}', size_t(limit - pos)));
        if (!brace)
            break;
        if (closesAt(brace - text, indent))
            return brace - text + 1;
        pos = brace - text + 1;
    }
    return -1;
}

qsizetype JsonPieceReader::arrayEndBefore(qsizetype from, qsizetype to, QByteArrayView indent) const
{
    for (qsizetype pos = from; pos < to;) {
        const auto *brace = static_cast<const char *>(std::memchr(text + pos, '}', size_t(to - pos)));
        if (!brace)
            break;
        pos = brace - text + 1;
        if (!closesAt(brace - text, indent))
            continue;
        const qsizetype next = skipWhitespace(pos);
        if (next < size && text[next] == ']')
            return pos;
    }
    return -1;
}

bool JsonPieceReader::readBatch(JsonParser &parser, qsizetype begin, qsizetype end, qsizetype &index,
                                FunctionRef<void(qsizetype, JsonValue &)> visit)
{
    // The stretch is read as the elements of an array of its own. Parsing
    // starts at an element, outside any string, so the parser sees the text
    // as the whole file has it: the batch is taken only when it holds nothing
    // but whole elements with their separators.
    const qsizetype length = end - begin;
    const bool loaded = begin == windowBegin && end <= windowEnd;
    windowBegin = windowEnd = -1; // the bytes past the batch are overwritten
    batch.resize(std::max(batch.size(), length + 2 + JsonText::padding));
    char *bytes = batch.data();
    bytes[0] = '[';
    if (!loaded && (!byteSource || !byteSource(begin, bytes + 1, length)))
        std::memcpy(bytes + 1, text + begin, size_t(length));
    bytes[length + 1] = ']';
    std::memset(bytes + length + 2, 0, size_t(JsonText::padding));
    qsizetype next = index;
    const bool ok = parser.parse(QByteArrayView(bytes, length + 2), JsonText::padding, [&](JsonValue &array) {
        array.forEachElement([&](JsonValue &element) { visit(next++, element); });
    });
    if (ok)
        index = next;
    return ok;
}

void JsonPieceReader::loadWindow(qsizetype from, qsizetype to)
{
    windowBegin = windowEnd = -1;
    if (!byteSource || to <= from)
        return;
    batch.resize(std::max(batch.size(), to - from + 2 + JsonText::padding));
    if (byteSource(from, batch.data() + 1, to - from)) {
        windowBegin = from;
        windowEnd = to;
    }
}

qsizetype JsonPieceReader::skipWhitespace(qsizetype pos) const
{
    while (pos < size && isWhitespace(byteAt(pos)))
        ++pos;
    return pos;
}

char JsonPieceReader::byteAt(qsizetype pos) const
{
    if (pos >= windowBegin && pos < windowEnd)
        return batch.constData()[1 + pos - windowBegin];
    return text[pos];
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

// The objects of a large project file run to many kilobytes each; the walk
// looks at 64 bytes at a time and stops only at the bytes that matter.
qsizetype JsonPieceReader::skipContainer(qsizetype pos) const
{
    ContainerWalk walk;
#ifdef QM_JSON_PIECES_SSE2
    while (pos + 64 <= size) {
        quint64 special = specialBytes64(text + pos);
        qsizetype next = pos + 64;
        while (special) {
            const int i = std::countr_zero(special);
            special &= special - 1;
            const char c = text[pos + i];
            if (walk.inString && c == '\\') {
                if (i == 63)
                    next = pos + 65; // the escaped byte opens the next block
                else
                    special &= ~(quint64(1) << (i + 1));
                continue;
            }
            if (walk.take(c))
                return pos + i + 1;
        }
        pos = next;
    }
#endif
    for (; pos < size; ++pos) {
        const char c = text[pos];
        if (walk.inString && c == '\\')
            ++pos;
        else if (walk.take(c))
            return pos + 1;
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
