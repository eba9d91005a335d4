#pragma once

#include "model/Annotation.h"
#include "model/Dataset.h"
#include "model/ImageEntry.h"

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>

#include <array>
#include <optional>

namespace Quillmark {

// Geometry that the box-only and oriented-box writers take from annotations.

// The axis-aligned box a box-only format writes for an annotation: a
// bounding box as it stands (normalised, so a negative size turns positive),
// a polygon or keypoint set by the bounding rectangle of its points. Polylines,
// points, and polygons or keypoint sets without points have none.
std::optional<QRectF> annotationBox(const Annotation &a);

// annotationBox when it exists and both its sides are above 0.
std::optional<QRectF> annotationBoxWithArea(const Annotation &a);

// The image as a box-only format sees it: every annotation that has a box
// with area (annotationBoxWithArea) as a plain bounding box of its class, the
// rest left out; the size set to `size`, the one coordinates are normalised
// by. The YOLO line writer then gives each one a box line.
ImageEntry boxOnlyImage(const ImageEntry &image, QSize size);

// The four corners an oriented-box format writes for an annotation: a polygon
// of exactly four points gives its points in stored order; a polygon of five
// or more points, or a bounding box, gives the corners of its (normalised)
// bounding rectangle: top left, top right, bottom right, bottom left. Other
// annotations, and polygons of fewer than four points, have none.
std::optional<std::array<QPointF, 4>> orientedBoxCorners(const Annotation &a);

// A bounding box of the class given by two opposite corners in either order
// (the integer-corner formats: YOLOv3 Keras, YOLO TensorFlow, RetinaNet).
Annotation cornerBox(const QString &className, double x1, double y1, double x2, double y2);

// A classification label: a bounding box of the class over the whole image,
// (0, 0, width, height), or (0, 0, 1, 1) when the size is unknown.
Annotation wholeImageLabel(const QString &className, int width, int height);

// The most points a keypoint set of the dataset has; 0 without keypoint sets.
int largestKeypointCount(const Dataset &dataset);

} // namespace Quillmark
