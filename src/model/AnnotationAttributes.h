#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QVariantMap>

namespace Quillmark {

class JsonIndentedWriter;

// An annotation's attributes as the project file keeps them, in the optional
// "attributes" member of the annotation: every attribute the annotation
// carries (the flags a dataset came with, such as VOC's "difficult", CVAT's
// "occluded" or CLIP's "multiple", a COCO object's other members, and the
// geometry of GeometryAttributes.h), each as the JSON value of its kind
// (booleans, numbers, strings, null, and lists and maps of these).
//
// Reading takes every member of an object as it stands, whatever its kind;
// what a value means is left to those who use it, which read it leniently (a
// flag that is no number counts as not set). A member that is no object holds
// no attributes. AttributeReader reads the member straight from the parser.

// The attributes as a JSON object; empty when there are none.
QJsonObject attributesToJson(const QVariantMap &attributes);

// The same object written by `w` as the next value, without building it:
// byte for byte what writing attributesToJson gives.
void writeAttributes(JsonIndentedWriter &w, const QVariantMap &attributes);

// The attributes a member of the file holds, as a parsed document gives it.
QVariantMap attributesFromJson(const QJsonValue &member);

} // namespace Quillmark
