#include "formats/CocoAnnotationReader.h"

#include "formats/AnnotationGeometry.h"
#include "model/AnnotationKind.h"
#include "model/GeometryAttributes.h"
#include "model/JsonStringPool.h"
#include "model/JsonValue.h"

#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

// Numbers in pairs (x, y) while a whole pair remains.
QList<QPointF> pairedPoints(const std::vector<double> &numbers)
{
    QList<QPointF> points;
    points.reserve(qsizetype(numbers.size() / 2));
    for (size_t i = 0; i + 1 < numbers.size(); i += 2)
        points.append(QPointF(numbers[i], numbers[i + 1]));
    return points;
}

// A number as an int: an integral one within the range, else `fallback`.
int wholeNumber(double number, int fallback)
{
    const bool whole = number == std::floor(number) && number >= std::numeric_limits<int>::min() &&
                       number <= std::numeric_limits<int>::max();
    return whole ? int(number) : fallback;
}

QString flagKey(std::string_view key, JsonStringPool &pool)
{
    const QByteArrayView raw(key.data(), qsizetype(key.size()));
    if (const QString *known = pool.find(raw))
        return *known;
    const QString name = QString::fromUtf8(raw);
    pool.insert(raw, name);
    return name;
}

} // namespace

void CocoAnnotationReader::read(JsonValue &object, JsonStringPool &flagKeys)
{
    image = category = CocoId();
    id = 0;
    hasBox = false;
    box = QRectF();
    keypointValues = 0;
    segmentationOfPolygons = false;
    parts.clear();
    mask = QJsonValue();
    area = -1.0;
    flags.clear();
    object.forEachMember([&](std::string_view key, JsonValue &value) {
        if (key == "id")
            id = value.toInt(0);
        else if (key == "image_id")
            image = CocoId::read(value);
        else if (key == "category_id")
            category = CocoId::read(value);
        else if (key == "bbox")
            readBox(value);
        else if (key == "keypoints")
            readKeypoints(value);
        else if (key == "segmentation")
            readSegmentation(value);
        else if (key == "area")
            area = value.toDouble(-1.0);
        else if (key != "num_keypoints")
            readFlag(key, value, flagKeys);
    });
}

Annotation CocoAnnotationReader::annotation() const
{
    Annotation a;
    a.id = id;
    a.confidence = 1.0f;
    a.attributes = flags;
    if (hasBox)
        a.bbox = box;
    // A run-length mask (the crowd regions of a keypoint file too) is kept.
    if (mask.isObject()) {
        a.attributes.insert(GeometryAttribute::Mask, mask.toVariant());
        if (area >= 0.0)
            a.attributes.insert(GeometryAttribute::Area, area);
    }
    if (keypointValues > 0) {
        a.kind = Keypoint;
        a.points = keypointPoints;
        a.keypointVis = keypointVisibility;
        return a;
    }
    if (!segmentationOfPolygons)
        return a; // a box: no segmentation, or a run-length mask
    a.kind = Polygon;
    if (parts.size() == 1)
        a.points = parts.first();
    else
        takeParts(a);
    return a;
}

// The largest usable part as the outline, every usable part kept.
void CocoAnnotationReader::takeParts(Annotation &a) const
{
    QRectF partsBounds;
    const qsizetype kept = setPolygonParts(a, parts, &partsBounds);
    if (kept == 0)
        return; // no usable part: the object as a polygon without points
    if (!hasBox)
        a.bbox = partsBounds;
    if (kept > 1 && area >= 0.0)
        a.attributes.insert(GeometryAttribute::Area, area);
}

void CocoAnnotationReader::readBox(JsonValue &value)
{
    numbers.clear();
    value.appendNumbers(numbers, 0.0);
    hasBox = numbers.size() == 4;
    // A negative width or height counts from the other corner, as the
    // VOC and CVAT readers take it.
    box = hasBox ? QRectF(numbers[0], numbers[1], numbers[2], numbers[3]).normalized() : QRectF();
}

void CocoAnnotationReader::readKeypoints(JsonValue &value)
{
    numbers.clear();
    value.appendNumbers(numbers, 0.0);
    keypointValues = qsizetype(numbers.size());
    keypointPoints.clear();
    keypointVisibility.clear();
    for (size_t i = 0; i + 2 < numbers.size(); i += 3) {
        keypointPoints.append(QPointF(numbers[i], numbers[i + 1]));
        keypointVisibility.append(wholeNumber(numbers[i + 2], 0));
    }
}

void CocoAnnotationReader::readSegmentation(JsonValue &value)
{
    parts.clear();
    segmentationOfPolygons = false;
    if (value.isObject()) {
        mask = value.toQJsonValue(); // a run-length mask
        return;
    }
    bool first = true;
    value.forEachElement([&](JsonValue &part) {
        const bool polygon = part.isArray();
        if (first)
            segmentationOfPolygons = polygon;
        first = false;
        if (!polygon)
            return;
        numbers.clear();
        part.appendNumbers(numbers, 0.0);
        parts.append(pairedPoints(numbers));
    });
}

// The usual "not a crowd" is the default, not worth keeping.
void CocoAnnotationReader::readFlag(std::string_view key, JsonValue &value, JsonStringPool &flagKeys)
{
    const QString name = flagKey(key, flagKeys);
    const QJsonValue read = value.toQJsonValue();
    if (read.isDouble() && read.toInteger(-1) == 0 && name == GeometryAttribute::Crowd)
        flags.remove(name);
    else
        flags.insert(name, read.toVariant());
}

} // namespace Quillmark
