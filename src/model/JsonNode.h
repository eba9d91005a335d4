#pragma once

// The state behind JsonValue while a document is read; shared by the JSON
// reading layer only (JsonValue.cpp, JsonParser.cpp).

#include "model/JsonValue.h"

#include <simdjson.h>

namespace Quillmark::JsonDetail {

namespace ondemand = simdjson::ondemand;

// Containers may nest as deep as Qt's JSON reader allows.
inline constexpr int maxNesting = 1024;

struct ReadState {
    const char *textEnd = nullptr; // end of the text being read
    bool failed = false;
};

struct Node {
    ondemand::value value;
    ReadState *state;
    int depth; // nesting of containers around the value
    bool consumed = false;

    bool usable() const { return !consumed && !state->failed; }
    void fail() { state->failed = true; }
    // Hands the node to a visitor, then checks and skips what it left unread.
    template <typename Visit> void visit(Visit &&visitor)
    {
        JsonValue handle(this);
        visitor(handle);
        if (!consumed && !state->failed)
            handle.skip();
    }
};

} // namespace Quillmark::JsonDetail
