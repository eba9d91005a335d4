#include "canvas/AnnotationGeometry.h"

#include "formats/AnnotationGeometry.h"
#include "model/AnnotationKind.h"
#include "model/GeometryAttributes.h"

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

bool usable(const QRectF &picture)
{
    return picture.width() > 0 && picture.height() > 0;
}

// `d` limited to the range that keeps [low, high] within [min, max].
double clampedAxisShift(double low, double high, double d, double min, double max)
{
    const double least = min - low;
    const double most = max - high;
    if (least <= most)
        return std::clamp(d, least, most);
    // Larger than the picture: it may only move towards covering it.
    return std::clamp(d, most, least);
}

// clampedAxisShift in whole pixels: rounded, or cut towards zero where
// rounding would leave the picture.
double clampedWholeAxisShift(double low, double high, double d, double min, double max)
{
    const double shift = clampedAxisShift(low, high, d, min, max);
    const double rounded = std::round(shift);
    if (clampedAxisShift(low, high, rounded, min, max) == rounded)
        return rounded;
    return std::trunc(shift);
}

} // namespace

QRectF AnnotationGeometry::pointBounds(const QList<QPointF> &points)
{
    if (points.isEmpty())
        return {};
    double left = points.first().x();
    double right = left;
    double top = points.first().y();
    double bottom = top;
    for (const QPointF &p : points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

int AnnotationGeometry::visibilityAt(const Annotation &annotation, int index)
{
    if (index >= 0 && index < annotation.keypointVis.size())
        return annotation.keypointVis.at(index);
    return 2;
}

std::optional<QRectF> AnnotationGeometry::labelledBounds(const Annotation &annotation)
{
    std::optional<QRectF> bounds;
    for (int i = 0; i < annotation.points.size(); ++i) {
        if (!isLabelled(annotation, i))
            continue;
        const QPointF &p = annotation.points.at(i);
        bounds = bounds ? grownToHold(*bounds, p) : QRectF(p, QSizeF(0, 0));
    }
    return bounds;
}

QRectF AnnotationGeometry::keypointBounds(const Annotation &annotation)
{
    return labelledBounds(annotation).value_or(pointBounds(annotation.points));
}

QRectF AnnotationGeometry::grownToHold(const QRectF &rect, const QPointF &point)
{
    const QRectF r = rect.normalized();
    return QRectF(QPointF(std::min(r.left(), point.x()), std::min(r.top(), point.y())),
                  QPointF(std::max(r.right(), point.x()), std::max(r.bottom(), point.y())));
}

QRectF AnnotationGeometry::boxAfterKeypointEdit(const Annotation &set, int index)
{
    if (!hasObjectBox(set) || index < 0 || index >= set.points.size())
        return keypointBounds(set);
    return grownToHold(set.bbox, set.points.at(index));
}

QRectF AnnotationGeometry::extent(const Annotation &annotation)
{
    switch (annotation.kind) {
    case BoundingBox:
        return annotation.bbox.normalized();
    case Keypoint: {
        const std::optional<QRectF> labelled = labelledBounds(annotation);
        if (!hasObjectBox(annotation))
            return labelled.value_or(QRectF());
        const QRectF box = annotation.bbox.normalized();
        if (!labelled)
            return box;
        return grownToHold(grownToHold(box, labelled->topLeft()), labelled->bottomRight());
    }
    case Polygon:
        return objectPartsBounds(annotation);
    default:
        return pointBounds(annotation.points);
    }
}

std::optional<QRectF> AnnotationGeometry::handleFrame(const Annotation &annotation)
{
    switch (annotation.kind) {
    case BoundingBox:
        return annotation.bbox;
    case Polygon:
        if (annotation.points.size() <= 1)
            return std::nullopt;
        return objectPartsBounds(annotation);
    case Keypoint:
        if (annotation.points.isEmpty() || !hasObjectBox(annotation))
            return std::nullopt;
        return annotation.bbox.normalized();
    default:
        return std::nullopt;
    }
}

bool AnnotationGeometry::carriesMask(const Annotation &annotation)
{
    return annotation.attributes.contains(GeometryAttribute::Mask);
}

Annotation AnnotationGeometry::translated(const Annotation &annotation, const QPointF &d)
{
    return mappedAnnotation(annotation, AxisMap::shift(d));
}

Annotation AnnotationGeometry::scaled(const Annotation &polygon, const QRectF &from, const QRectF &to,
                                      const QRectF &picture)
{
    return mappedAnnotation(polygon, AxisMap::between(from, to), picture);
}

QPointF AnnotationGeometry::clamped(const QPointF &point, const QRectF &picture)
{
    if (!usable(picture))
        return point;
    return QPointF(std::clamp(point.x(), picture.left(), picture.right()),
                   std::clamp(point.y(), picture.top(), picture.bottom()));
}

QRectF AnnotationGeometry::clamped(const QRectF &rect, const QRectF &picture)
{
    if (!usable(picture))
        return rect;
    const QRectF r = rect.normalized();
    return QRectF(clamped(r.topLeft(), picture), clamped(r.bottomRight(), picture));
}

QPointF AnnotationGeometry::clampedShift(const QRectF &extent, const QPointF &d, const QRectF &picture)
{
    if (!usable(picture))
        return d;
    const QRectF r = extent.normalized();
    return QPointF(clampedAxisShift(r.left(), r.right(), d.x(), picture.left(), picture.right()),
                   clampedAxisShift(r.top(), r.bottom(), d.y(), picture.top(), picture.bottom()));
}

QPointF AnnotationGeometry::clampedWholeShift(const QRectF &extent, const QPointF &d, const QRectF &picture)
{
    if (!usable(picture))
        return QPointF(std::round(d.x()), std::round(d.y()));
    const QRectF r = extent.normalized();
    return QPointF(clampedWholeAxisShift(r.left(), r.right(), d.x(), picture.left(), picture.right()),
                   clampedWholeAxisShift(r.top(), r.bottom(), d.y(), picture.top(), picture.bottom()));
}

} // namespace Quillmark
