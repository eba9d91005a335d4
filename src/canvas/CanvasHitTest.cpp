#include "canvas/CanvasHitTest.h"

#include "canvas/AnnotationGeometry.h"
#include "formats/AnnotationGeometry.h"
#include "model/GeometryAttributes.h"

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace Quillmark {

bool CanvasHitTest::withinSquare(const QPointF &a, const QPointF &b, double halfSize)
{
    return std::abs(a.x() - b.x()) <= halfSize && std::abs(a.y() - b.y()) <= halfSize;
}

QPointF CanvasHitTest::handlePoint(const QRectF &r, int handle)
{
    const double cx = r.center().x();
    const double cy = r.center().y();
    switch (handle) {
    case 1:
        return r.topLeft();
    case 2:
        return {cx, r.top()};
    case 3:
        return r.topRight();
    case 4:
        return {r.right(), cy};
    case 5:
        return r.bottomRight();
    case 6:
        return {cx, r.bottom()};
    case 7:
        return r.bottomLeft();
    case 8:
        return {r.left(), cy};
    default:
        return r.center();
    }
}

int CanvasHitTest::handleAt(const QRectF &screenRect, const QPointF &screen)
{
    for (int handle = 1; handle <= 8; ++handle) {
        if (withinSquare(handlePoint(screenRect, handle), screen, HandleHalfSize))
            return handle;
    }
    return 0;
}

int CanvasHitTest::vertexAt(const QList<QPointF> &points, const ViewTransform &view, const QPointF &screen)
{
    for (int i = 0; i < points.size(); ++i) {
        if (withinSquare(view.toScreen(points.at(i)), screen, VertexHalfSize))
            return i;
    }
    return -1;
}

int CanvasHitTest::vertexAt(const QPolygonF &screenPoints, const QPointF &screen)
{
    // A NaN coordinate fails every comparison, so points not shown are never hit.
    for (int i = 0; i < screenPoints.size(); ++i) {
        if (withinSquare(screenPoints.at(i), screen, VertexHalfSize))
            return i;
    }
    return -1;
}

int CanvasHitTest::edgeAt(const QList<QPointF> &points, const ViewTransform &view, const QPointF &screen)
{
    const int n = points.size();
    if (n < 2)
        return -1;
    for (int i = 0; i < n; ++i) {
        const QPointF a = view.toScreen(points.at(i));
        const QPointF b = view.toScreen(points.at((i + 1) % n));
        const QPointF ab = b - a;
        const double lengthSquared = QPointF::dotProduct(ab, ab);
        if (lengthSquared < 1.0)
            continue;
        const double t = QPointF::dotProduct(screen - a, ab) / lengthSquared;
        if (t < 0.0 || t > 1.0)
            continue;
        const QPointF foot = a + ab * t;
        if (std::hypot(screen.x() - foot.x(), screen.y() - foot.y()) <= EdgeTolerance)
            return i;
    }
    return -1;
}

int CanvasHitTest::keypointNear(const QPolygonF &screenPoints, const QPointF &screen)
{
    for (int i = 0; i < screenPoints.size(); ++i) {
        const QPointF d = screenPoints.at(i) - screen;
        if (std::hypot(d.x(), d.y()) < KeypointHoverRadius)
            return i;
    }
    return -1;
}

bool CanvasHitTest::hits(const Annotation &a, const ViewTransform &view, const QPointF &screen,
                         const QPointF &image)
{
    switch (a.kind) {
    case BoundingBox: {
        const QRectF r = view.toScreen(a.bbox).adjusted(-BoxHitMargin, -BoxHitMargin, BoxHitMargin, BoxHitMargin);
        return screen.x() >= r.left() && screen.x() <= r.right() && screen.y() >= r.top() && screen.y() <= r.bottom();
    }
    case Polygon: {
        // Containment does not change under the view's uniform scale and shift, so
        // the test runs on the stored points without mapping them.
        if (QPolygonF(a.points).containsPoint(image, Qt::OddEvenFill))
            return true;
        // Any part of an object of several.
        if (!a.attributes.contains(GeometryAttribute::Parts))
            return false;
        const QList<QList<QPointF>> parts = objectParts(a);
        return parts.size() > 1 && std::any_of(parts.cbegin(), parts.cend(), [&image](const QList<QPointF> &part) {
                   return QPolygonF(part).containsPoint(image, Qt::OddEvenFill);
               });
    }
    case Keypoint: {
        for (int i = 0; i < a.points.size(); ++i) {
            if (AnnotationGeometry::isLabelled(a, i) &&
                withinSquare(view.toScreen(a.points.at(i)), screen, KeypointHitHalfSize))
                return true;
        }
        const QRectF r = view.toScreen(a.bbox).adjusted(-BoxHitMargin, -BoxHitMargin, BoxHitMargin, BoxHitMargin);
        return a.bbox.isValid() && r.contains(screen);
    }
    default:
        return false;
    }
}

int CanvasHitTest::annotationAt(const QList<Annotation> &labels, const ViewTransform &view, const QPointF &screen)
{
    const QPointF image = view.toImage(screen);
    for (int i = labels.size() - 1; i >= 0; --i) {
        if (hits(labels.at(i), view, screen, image))
            return i;
    }
    return -1;
}

} // namespace Quillmark
