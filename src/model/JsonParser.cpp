#include "model/JsonParser.h"

#include "model/JsonNode.h"

#include <algorithm>
#include <cstring>

namespace Quillmark {

using JsonDetail::Node;
namespace ondemand = JsonDetail::ondemand;

struct JsonParser::Private {
    ondemand::parser parser;
    QByteArray copy; // padded copy of a text that came without padding
};

JsonParser::JsonParser() : d(std::make_unique<Private>()) {}

JsonParser::~JsonParser() = default;

bool JsonParser::parse(const JsonText &text, FunctionRef<void(JsonValue &)> visit)
{
    return parse(text.bytes(), JsonText::padding, visit);
}

bool JsonParser::parse(QByteArrayView text, qsizetype readableAfterEnd, FunctionRef<void(JsonValue &)> visit)
{
    // Qt's reader skips a byte-order mark; the parser does not.
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    if (quint64(text.size()) > simdjson::SIMDJSON_MAXSIZE_BYTES)
        return false;
    if (readableAfterEnd < JsonText::padding) {
        d->copy.resize(text.size() + JsonText::padding);
        if (!text.isEmpty())
            std::memcpy(d->copy.data(), text.data(), size_t(text.size()));
        std::memset(d->copy.data() + text.size(), 0, size_t(JsonText::padding));
        text = QByteArrayView(d->copy.constData(), text.size());
        readableAfterEnd = JsonText::padding;
    }
    const simdjson::padded_string_view padded(text.data(), size_t(text.size()), size_t(text.size() + readableAfterEnd));
    if (d->parser.capacity() < padded.length()) {
        // Grow in steps, so that the lines of a file do not each cost a new
        // allocation; leave room for nesting a little deeper than accepted,
        // so that our own limit is the one that decides.
        const size_t grown = std::max({padded.length(), 2 * d->parser.capacity(), size_t(1) << 16});
        const size_t capacity = std::min<size_t>(grown, simdjson::SIMDJSON_MAXSIZE_BYTES);
        if (d->parser.allocate(capacity, JsonDetail::maxNesting + 8) != simdjson::SUCCESS)
            return false;
    }
    ondemand::document document;
    if (d->parser.iterate(padded).get(document) != simdjson::SUCCESS)
        return false;
    ondemand::json_type type;
    if (document.type().get(type) != simdjson::SUCCESS)
        return false;
    if (type != ondemand::json_type::object && type != ondemand::json_type::array)
        return false;

    JsonDetail::ReadState state;
    state.textEnd = text.data() + text.size();
    Node root{ondemand::value(), &state, 0};
    if (document.get_value().get(root.value) != simdjson::SUCCESS)
        return false;
    root.visit(visit);
    if (state.failed)
        return false;
    // Nothing but blanks may follow the document.
    return document.current_location().error() == simdjson::OUT_OF_BOUNDS;
}

} // namespace Quillmark
