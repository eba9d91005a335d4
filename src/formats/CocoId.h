#pragma once

#include <QJsonValue>
#include <QString>

namespace Quillmark {

class JsonValue;

// An image or category id of a COCO file, keyed by its JSON value: whole
// numbers by their 64-bit value, strings by their text; a missing id counts
// as 0. Any other value (a fraction, a number beyond 64 bits, null, true) is
// no id: it never falls onto a real id such as 0, an image with it matches no
// annotation, and a category with it names its class by the value as written.
struct CocoId {
    enum class Kind { None, Number, String };
    Kind kind = Kind::Number;
    qint64 number = 0;
    QString text; // a string id, or the value of one that is none

    static CocoId read(JsonValue &value);
    static CocoId fromValue(const QJsonValue &value);

    bool isId() const { return kind != Kind::None; }
    bool operator==(const CocoId &other) const;

    // The class name of an id that no category has.
    QString missingClassName() const;
};

size_t qHash(const CocoId &id, size_t seed = 0);

} // namespace Quillmark
