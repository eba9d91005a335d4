#pragma once

#include <QString>

namespace Quillmark {

// Attributes that carry part of an annotation's geometry where the drawing
// cannot: an object that came as several polygons keeps every one of them, a
// crowd region its flag, its run-length mask and its area. The project file
// and the package keep them with the annotation, as they keep every other
// attribute (AnnotationAttributes.h); the exporters read them
// (formats/AnnotationGeometry.h). The names are those the COCO reader has
// always stored them under, so packages written before read the same.
namespace GeometryAttribute {

// Every polygon of an object of several parts, each a flat list of numbers
// x0, y0, x1, y1, ...; the outline drawn (the annotation's points) is one of
// them as long as it was not edited.
inline const QString Parts = QStringLiteral("coco:segmentation");
// A crowd region's mask as COCO keeps it: "counts" and "size" [height, width].
inline const QString Mask = QStringLiteral("coco:rle");
// The area the object came with (its mask's), which its outline only comes near.
inline const QString Area = QStringLiteral("coco:area");
// Non-zero for a crowd region: many objects under one outline or mask.
inline const QString Crowd = QStringLiteral("iscrowd");

} // namespace GeometryAttribute

// Whether the attribute is one of the above.
bool isGeometryAttribute(const QString &key);

} // namespace Quillmark
