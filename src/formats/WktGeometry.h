#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QPointF>
#include <QString>

namespace Quillmark {

// Well-known-text geometry of the package's annotation rows. Coordinates are
// written with exactly four decimals; points are joined by ", ".

// Polygons, polylines and keypoint sets store only their points as geometry;
// their box is kept in the row's attributes under this reserved member, as
// [x, y, width, height], and taken out of the attributes again on reading: a
// name no other writer chooses, so that an attribute of another tool is
// never taken for the box.
bool keepsBoxInAttributes(int kind);
QString boxAttribute();

// The member earlier versions kept the box under ("bbox"). Read as the box
// only where it holds the row's points; otherwise it is an attribute of
// another tool and stays as it is.
QString legacyBoxAttribute();

// The geometry type stored beside the geometry: "BBOX", "POLYGON", "POLYLINE",
// "POINT" or "KEYPOINT" (an unknown kind is stored as "BBOX").
QString wktGeometryType(int kind);

// The geometry text of an annotation by its kind: a box as its closed ring
// (top-left, top-right, bottom-right, bottom-left), a polygon as a closed ring,
// a polyline as a line string, a point as POINT (falling back to the box centre),
// keypoints as a multi-point. An unknown kind gives the empty string.
QString annotationToWkt(const Annotation &annotation);

// "POLYGON ((...))", closed by repeating the first point unless the last point
// already equals it; the empty string for no points.
QString wktPolygon(const QList<QPointF> &ring);
// "LINESTRING (...)".
QString wktLineString(const QList<QPointF> &points);
// "MULTIPOINT ((x y), (x y))".
QString wktMultiPoint(const QList<QPointF> &points);
// "x y", each with four decimals.
QString wktCoordinate(double x, double y);

// The points of any of the forms above, read leniently: letters and parentheses
// are ignored (but for the exponent mark of a number, "1.5e2"), parts are split
// at commas, each part gives a point from its first two numbers (a piece that
// is no number counts as 0, one too large for a double as infinity), parts with
// fewer than two pieces are skipped.
QList<QPointF> parseWktPoints(const QString &geometry);

} // namespace Quillmark
