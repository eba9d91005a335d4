#include "canvas/AnnotationGeometry.h"

#include <algorithm>

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

double mapped(double v, double fromStart, double fromEnd, double toStart, double toEnd)
{
    const double span = fromEnd - fromStart;
    if (span == 0.0)
        return v + (toStart - fromStart);
    return toStart + (v - fromStart) * (toEnd - toStart) / span;
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
    default:
        return pointBounds(annotation.points);
    }
}

Annotation AnnotationGeometry::translated(const Annotation &annotation, const QPointF &d)
{
    Annotation a = annotation;
    switch (a.kind) {
    case BoundingBox:
        a.bbox.translate(d);
        break;
    case Polygon:
        for (QPointF &p : a.points)
            p += d;
        a.bbox = pointBounds(a.points);
        break;
    case Keypoint:
        for (int i = 0; i < a.points.size(); ++i) {
            if (isLabelled(a, i))
                a.points[i] += d;
        }
        a.bbox.translate(d);
        break;
    default:
        for (QPointF &p : a.points)
            p += d;
        a.bbox.translate(d);
        break;
    }
    return a;
}

Annotation AnnotationGeometry::scaled(const Annotation &polygon, const QRectF &from, const QRectF &to)
{
    Annotation a = polygon;
    for (QPointF &p : a.points) {
        p = QPointF(mapped(p.x(), from.left(), from.right(), to.left(), to.right()),
                    mapped(p.y(), from.top(), from.bottom(), to.top(), to.bottom()));
    }
    a.bbox = pointBounds(a.points);
    return a;
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

} // namespace Quillmark
