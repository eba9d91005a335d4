#pragma once

#include "model/FunctionRef.h"
#include "model/JsonText.h"
#include "model/JsonValue.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace Quillmark {

// Reads JSON documents with simdjson's On-Demand parser: the text is indexed
// in one fast pass and then walked front to back through JsonValue, without a
// document tree. One parser reads any number of documents one after another
// (the lines of a JSON Lines file, say) and reuses its memory; it is not
// shared between threads.
//
// A document is accepted exactly when Qt's JSON reader would accept it: an
// object or an array at the top (after an optional UTF-8 byte-order mark and
// blanks), nothing but blanks after it, valid UTF-8, valid syntax everywhere
// (also in members nobody reads), containers nested at most 1024 deep. A
// single document can hold at most 4 GiB - 1 bytes; larger texts are read a
// piece at a time (parse() takes any piece of a larger text).
class JsonParser {
public:
    JsonParser();
    ~JsonParser();
    JsonParser(const JsonParser &) = delete;
    JsonParser &operator=(const JsonParser &) = delete;

    // Parses the document and hands its top-level value to `visit`. False
    // when the text is not a valid document (the visitor may have been called
    // before the error was found; treat what it gathered as lost).
    bool parse(const JsonText &text, FunctionRef<void(JsonValue &root)> visit);

    // The same for a text that lies in a larger buffer, such as a piece of a
    // mapped file or a line of JsonLineReader: `readableAfterEnd` bytes past
    // its end may be read. With fewer than JsonText::padding the text is
    // copied first.
    bool parse(QByteArrayView text, qsizetype readableAfterEnd, FunctionRef<void(JsonValue &root)> visit);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Quillmark
