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

// The polygons of a polygon object: every part it came with (an object of
// several polygons keeps them in its geometry attributes) when the outline
// drawn, its points, is still one of them; otherwise, an outline edited since
// or an object of one part, the outline alone. Kept parts of fewer than three
// points, or with a number single precision cannot hold, are passed over.
// Empty for a polygon without points and for other kinds.
QList<QList<QPointF>> objectParts(const Annotation &a);

// Makes `a` the polygon object of `parts`, as the readers of formats that
// give one object as several polygons hold it: the largest part (by area, the
// first of equal ones) is its outline, and when more than one part has three
// points or more, those parts are kept, in the order given, in its geometry
// attributes (GeometryAttribute::Parts), where objectParts finds them again.
// Parts of fewer than three points are passed over; with none left, `a` is
// not touched. Returns how many parts were kept, and their bounds in
// `bounds`.
qsizetype setPolygonParts(Annotation &a, const QList<QList<QPointF>> &parts, QRectF *bounds = nullptr);

// Joins the polygons that a format gives as shapes of one group (LabelMe's and
// CVAT's group_id): annotations of one class with the same group in
// `groups` (one entry per annotation; below 0 for none) become one polygon
// object (setPolygonParts) in the place of the first of them, with the
// attributes of them all (the first's where they differ) and the box of
// them all. The caller gives a group only to shapes that can be parts (a
// polygon of three points or more); groups of one, and everything else, stay
// as they are.
void joinGroupedPolygons(QList<Annotation> &annotations, const QList<qint64> &groups);

// The box of a polygon object: its outline's bounds, or for an object of
// several parts the box it came with when that holds them all (else their
// bounds).
QRectF polygonObjectBox(const Annotation &a);

// Whether the annotation is a crowd region: many objects under one outline or
// mask, which only COCO can mark ("iscrowd").
bool isCrowdRegion(const Annotation &a);

// The bounding rectangle of the points (the empty rectangle at the origin
// when there are none).
QRectF pointsBounds(const QList<QPointF> &points);

// The area an outline encloses (the shoelace formula).
double outlineArea(const QList<QPointF> &points);

// The axis-aligned box a box-only format writes for an annotation: a
// bounding box as it stands (normalised, so a negative size turns positive),
// a polygon by its object's box (polygonObjectBox), a keypoint set by
// keypointBounds. Polylines, points, polygons without points and keypoint
// sets with neither points nor a box have none.
std::optional<QRectF> annotationBox(const Annotation &a);

// The box of a keypoint set: the bounding rectangle of its labelled points,
// those whose visibility is above 0 or that have none. Unlabelled keypoints
// lie at the origin in COCO and YOLO pose files and take no part. A set without
// a labelled point (a COCO person with "num_keypoints" 0) has its stored box,
// the person's; one stored without a box either, all its points' bounds.
QRectF keypointBounds(const Annotation &a);

// The object box a format that writes a keypoint set with its box (YOLO
// lines, COCO) writes: the stored box when it has an area, else the bounds of
// the labelled points (keypointBounds). Packages written by other tools keep
// no box for keypoint sets.
QRectF keypointSetBox(const Annotation &a);

// annotationBox when it exists and both its sides are above 0.
std::optional<QRectF> annotationBoxWithArea(const Annotation &a);

// The image as a box-only format sees it: every annotation that has a box
// with area (annotationBoxWithArea) as a plain bounding box of its class, the
// rest left out; the size set to `size`, the one coordinates are normalised
// by. The YOLO line writer then gives each one a box line.
ImageEntry boxOnlyImage(const ImageEntry &image, QSize size);

// The four corners an oriented-box format writes for an annotation: a polygon
// of exactly four points gives its points in stored order; a polygon of five
// or more points, or of several parts, and a bounding box give the corners of
// its (normalised) box: top left, top right, bottom right, bottom left. Other
// annotations, and polygons of fewer than four points, have none.
std::optional<std::array<QPointF, 4>> orientedBoxCorners(const Annotation &a);

// A bounding box of the class given by two opposite corners in either order
// (the integer-corner formats: YOLOv3 Keras, YOLO TensorFlow, RetinaNet).
Annotation cornerBox(const QString &className, double x1, double y1, double x2, double y2);

// A classification label: a bounding box of the class over the whole image,
// (0, 0, width, height), or (0, 0, 1, 1) when the size is unknown.
Annotation wholeImageLabel(const QString &className, int width, int height);

// The outline of an ellipse as polygon points: kEllipseVertices points around
// `centre` with the radii rx and ry, turned by `degrees` (clockwise on the
// picture), from the end of the rx axis on. Unturned, the points' bounds are
// the ellipse's own. Only the centre when a radius is not above 0.
constexpr int kEllipseVertices = 32;
QList<QPointF> ellipseOutline(const QPointF &centre, double rx, double ry, double degrees = 0.0);

// The most points a keypoint set of the dataset has; 0 without keypoint sets.
int largestKeypointCount(const Dataset &dataset);

} // namespace Quillmark
