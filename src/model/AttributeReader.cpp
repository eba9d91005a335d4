#include "model/AttributeReader.h"

#include "model/JsonValue.h"

#include <QVariantList>

namespace Quillmark {

namespace {

// Equal kind for kind: 1 and 1.0 differ, as the file tells them apart.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.size() != y.size())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j) {
            if (i.key() != j.key() || !sameValue(i.value(), j.value()))
                return false;
        }
        return true;
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    return a == b;
}

} // namespace

QVariantMap AttributeReader::read(JsonValue &member)
{
    if (!member.isObject())
        return {};
    const QVariantMap read = variantOf(member).toMap();
    if (read.isEmpty())
        return {};
    const QVariant asVariant(read);
    for (const QVariantMap &earlier : recent) {
        if (sameValue(QVariant(earlier), asVariant))
            return earlier;
    }
    recent[nextRecent] = read;
    nextRecent = (nextRecent + 1) % recent.size();
    return read;
}

QString AttributeReader::key(std::string_view text)
{
    const QByteArrayView raw(text.data(), qsizetype(text.size()));
    if (const QString *known = keys.find(raw))
        return *known;
    const QString name = QString::fromUtf8(raw);
    keys.insert(raw, name);
    return name;
}

// Maps and lists built here; scalars through the parser's own reading of
// them, so that numbers keep the integer or real kind a document gives them.
QVariant AttributeReader::variantOf(JsonValue &value)
{
    if (value.isObject()) {
        QVariantMap map;
        value.forEachMember(
            [&](std::string_view name, JsonValue &member) { map.insert(key(name), variantOf(member)); });
        return map;
    }
    if (value.isArray()) {
        QVariantList list;
        value.forEachElement([&](JsonValue &element) { list.append(variantOf(element)); });
        return list;
    }
    return value.toQJsonValue().toVariant();
}

} // namespace Quillmark
