#include "model/GeometryAttributes.h"

#include <QJsonValue>

namespace Quillmark {

bool isGeometryAttribute(const QString &key)
{
    return key == GeometryAttribute::Parts || key == GeometryAttribute::Mask || key == GeometryAttribute::Area ||
           key == GeometryAttribute::Crowd;
}

QJsonObject geometryAttributesToJson(const QVariantMap &attributes)
{
    QJsonObject object;
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it) {
        if (isGeometryAttribute(it.key()))
            object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return object;
}

QVariantMap geometryAttributesFromJson(const QJsonObject &object)
{
    QVariantMap attributes;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (isGeometryAttribute(it.key()))
            attributes.insert(it.key(), it.value().toVariant());
    }
    return attributes;
}

} // namespace Quillmark
