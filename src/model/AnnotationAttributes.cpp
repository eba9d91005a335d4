#include "model/AnnotationAttributes.h"

#include "model/JsonStringPool.h"
#include "model/JsonValue.h"

#include <QVariantList>

namespace Quillmark {

namespace {

QString pooledKey(std::string_view key, JsonStringPool &pool)
{
    const QByteArrayView raw(key.data(), qsizetype(key.size()));
    if (const QString *known = pool.find(raw))
        return *known;
    const QString name = QString::fromUtf8(raw);
    pool.insert(raw, name);
    return name;
}

// One value as QJsonValue::toVariant gives it from a parsed document: maps
// and lists built here, scalars through the parser's own reading of them (so
// that numbers keep the integer or real kind a document gives them).
QVariant variantOf(JsonValue &value, JsonStringPool &keys)
{
    if (value.isObject()) {
        QVariantMap map;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            map.insert(pooledKey(key, keys), variantOf(member, keys));
        });
        return map;
    }
    if (value.isArray()) {
        QVariantList list;
        value.forEachElement([&](JsonValue &element) { list.append(variantOf(element, keys)); });
        return list;
    }
    return value.toQJsonValue().toVariant();
}

} // namespace

QJsonObject attributesToJson(const QVariantMap &attributes)
{
    QJsonObject object;
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return object;
}

QVariantMap attributesFromJson(const QJsonValue &member)
{
    return member.isObject() ? member.toObject().toVariantMap() : QVariantMap();
}

QVariantMap attributesFromJson(JsonValue &member, JsonStringPool &keys)
{
    if (!member.isObject()) {
        member.skip();
        return {};
    }
    return variantOf(member, keys).toMap();
}

} // namespace Quillmark
