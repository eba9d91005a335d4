#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QList>
#include <QPointF>
#include <QRectF>

namespace Quillmark {

// What lies under a screen point on the canvas. Tolerances are in screen pixels,
// so they stay the same at every zoom.
class CanvasHitTest {
public:
    static constexpr double HandleHalfSize = 6.0;       // 8 x 8 handle grown by 2
    static constexpr double VertexHalfSize = 6.0;       // 12 x 12 square
    static constexpr double KeypointHitHalfSize = 7.0;  // 14 x 14 square
    static constexpr double BoxHitMargin = 2.0;
    static constexpr double EdgeTolerance = 7.0;
    static constexpr double KeypointHoverRadius = 9.0;

    // Screen point of resize handle 1 to 8 (1 top-left, clockwise to 8 left middle).
    static QPointF handlePoint(const QRectF &screenRect, int handle);
    // The first handle of the box whose hit square holds the point, 0 for none.
    static int handleAt(const QRectF &screenRect, const QPointF &screen);

    // The first vertex whose 12 x 12 square holds the point, -1 for none.
    static int vertexAt(const QList<QPointF> &points, const ViewTransform &view, const QPointF &screen);
    // The same for points already on the screen; points that are not finite
    // (keypoints not shown) are never hit.
    static int vertexAt(const QPolygonF &screenPoints, const QPointF &screen);
    // The first edge (vertex i to i + 1, the last one closing back to vertex 0)
    // within EdgeTolerance of the point, its foot on the segment; -1 for none.
    static int edgeAt(const QList<QPointF> &points, const ViewTransform &view, const QPointF &screen);
    // The first keypoint closer than KeypointHoverRadius, -1 for none; screen
    // positions, those not finite never hit.
    static int keypointNear(const QPolygonF &screenPoints, const QPointF &screen);

    // The topmost (last) annotation under the point, -1 for none. An object of
    // several polygons is hit inside any of them. Polylines and points are
    // never hit, nor unlabelled keypoints where they are stored.
    static int annotationAt(const QList<Annotation> &labels, const ViewTransform &view, const QPointF &screen);
    static bool hits(const Annotation &annotation, const ViewTransform &view, const QPointF &screen,
                     const QPointF &image);

private:
    static bool withinSquare(const QPointF &a, const QPointF &b, double halfSize);
};

} // namespace Quillmark
