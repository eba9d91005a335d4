#include "model/AnnotationAttributes.h"

#include "model/JsonIndentedWriter.h"

#include <QVariantList>

namespace Quillmark {

namespace {

// A value as QJsonValue::fromVariant has it: maps and lists written member
// by member, the rest through that conversion (cheap for a single value).
void writeValue(JsonIndentedWriter &w, const QVariant &value)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        writeAttributes(w, value.toMap());
        return;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        w.beginArray();
        for (const QVariant &element : list)
            writeValue(w, element);
        w.endArray();
        return;
    }
    w.value(QJsonValue::fromVariant(value));
}

} // namespace

QJsonObject attributesToJson(const QVariantMap &attributes)
{
    QJsonObject object;
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return object;
}

void writeAttributes(JsonIndentedWriter &w, const QVariantMap &attributes)
{
    w.beginObject();
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it) {
        w.rawKey(it.key());
        writeValue(w, it.value());
    }
    w.endObject();
}

QVariantMap attributesFromJson(const QJsonValue &member)
{
    return member.isObject() ? member.toObject().toVariantMap() : QVariantMap();
}

} // namespace Quillmark
