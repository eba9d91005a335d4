#pragma once

#include "model/JsonStringPool.h"

#include <QVariantMap>

#include <array>

namespace Quillmark {

class JsonValue;

// Reads the "attributes" member of annotations (AnnotationAttributes.h)
// straight from the parser, every value as attributesFromJson gives it from
// a parsed document. A dataset's annotations mostly carry the same few
// attributes with the same values (a difficult flag, an occluded flag): a map
// equal, kind for kind, to one read shortly before is that one, shared, so
// that a million flagged objects do not hold a million copies. One reader to
// a thread.
class AttributeReader {
public:
    QVariantMap read(JsonValue &member);

private:
    QVariant variantOf(JsonValue &value);
    QString key(std::string_view text);

    JsonStringPool keys; // the same names on every annotation
    std::array<QVariantMap, 8> recent;
    size_t nextRecent = 0;
};

} // namespace Quillmark
