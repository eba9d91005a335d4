#include "formats/CocoId.h"

#include "formats/SafeRead.h"
#include "model/JsonValue.h"

#include <QHashFunctions>

namespace Quillmark {

CocoId CocoId::read(JsonValue &value)
{
    return fromValue(value.toQJsonValue());
}

CocoId CocoId::fromValue(const QJsonValue &value)
{
    CocoId id;
    if (value.isUndefined())
        return id;
    id.kind = Kind::None;
    bool whole = false;
    if (value.isString()) {
        id.kind = Kind::String;
        id.text = value.toString();
    } else if (const qint64 number = jsonInt64(value, 0, &whole); whole) {
        id.kind = Kind::Number;
        id.number = number;
    } else if (value.isDouble()) {
        id.text = QString::number(value.toDouble(), 'g', 17);
    }
    return id;
}

bool CocoId::operator==(const CocoId &other) const
{
    return kind == other.kind && (kind == Kind::Number ? number == other.number : text == other.text);
}

QString CocoId::missingClassName() const
{
    return QStringLiteral("class_%1").arg(kind == Kind::Number ? QString::number(number) : text);
}

size_t qHash(const CocoId &id, size_t seed)
{
    return id.kind == CocoId::Kind::Number ? ::qHash(id.number, seed) : ::qHash(id.text, seed);
}

} // namespace Quillmark
