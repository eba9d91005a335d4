#pragma once

#include "formats/CocoId.h"
#include "model/Annotation.h"

#include <QJsonValue>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QVariantMap>

#include <string_view>
#include <vector>

namespace Quillmark {

class JsonStringPool;
class JsonValue;

// Reads the annotation objects of a COCO file one after the other, as their
// members come, turning each into an annotation once all of them are read;
// the class name waits for the categories, which a file may hold after its
// annotations. A member that comes twice counts as its last.
//
// An object of several polygons takes its largest part as its outline and
// keeps its own box and every part (GeometryAttribute::Parts), so that it is
// one object in every export and COCO writes it back whole. A run-length mask
// (a crowd region) is kept with its area, the annotation being its box. Every
// other member ("iscrowd", "ignore", "attributes", ...) is kept among the
// attributes and written back.
class CocoAnnotationReader {
public:
    CocoId image;
    CocoId category;

    // Reads one object; the reader is used again for the next one.
    void read(JsonValue &object, JsonStringPool &flagKeys);

    // The annotation of the object last read, without its class name.
    Annotation annotation() const;

private:
    void readBox(JsonValue &value);
    // Triplets x, y and v (an int) while a whole triplet remains.
    void readKeypoints(JsonValue &value);
    void readSegmentation(JsonValue &value);
    void readFlag(std::string_view key, JsonValue &value, JsonStringPool &flagKeys);
    void takeParts(Annotation &a) const;

    int id = 0;
    bool hasBox = false;
    QRectF box;
    qsizetype keypointValues = 0;
    QList<QPointF> keypointPoints;
    QList<int> keypointVisibility;
    bool segmentationOfPolygons = false;
    QList<QList<QPointF>> parts;
    QJsonValue mask;
    double area = -1.0;
    QVariantMap flags;
    std::vector<double> numbers; // scratch
};

} // namespace Quillmark
