#include "model/AnnotationAttributes.h"

namespace Quillmark {

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

} // namespace Quillmark
