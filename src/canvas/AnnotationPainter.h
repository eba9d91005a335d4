#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>

class QPainter;

namespace Quillmark {

class ClassTagCache;

// Draws the annotations of the canvas: boxes with their resize handles, polygons
// with their vertices and the edge-insertion marker, keypoint sets with their
// skeleton, and the class-name tags.
class AnnotationPainter {
public:
    // Editing state of the selected annotation that its drawing shows.
    struct Selection {
        int vertex = -1;              // selected vertex or keypoint
        int highlightedKeypoint = -1; // ringed keypoint
        int hoverEdge = -1;           // polygon edge under the cursor
        QPointF hoverEdgePoint;       // where the insertion marker sits, image coordinates
    };

    // Fonts derive from `baseFont`; `tags`, when given, supplies laid-out tag
    // texts kept between paints.
    AnnotationPainter(QPainter &painter, const ViewTransform &view, const QFont &baseFont, bool showLabels,
                      ClassTagCache *tags = nullptr);

    // Shapes and tags entirely outside this screen rectangle are skipped. Without
    // one, everything is drawn.
    void setViewport(const QRectF &screenRect) { viewport = screenRect; }

    void drawBox(const Annotation &a, const QColor &color, bool selected);
    void drawPolygon(const Annotation &a, const QColor &color, bool selected, const Selection &selection);
    void drawKeypoints(const Annotation &a, const QColor &color, bool selected, const Selection &selection);

    // A tag with the class name sitting on top of `anchor` (screen coordinates).
    void drawClassTag(const QString &name, const QColor &color, const QPointF &anchor);

private:
    bool touchesViewport(const QRectF &screenRect, double margin) const;
    void drawHandles(const QRectF &screenRect);
    void drawVertexSquares(const QPolygonF &screen, int selectedVertex);
    void drawInsertionMarker(const QPointF &screen);
    void drawSkeleton(const Annotation &a, const QPolygonF &screen, const QColor &color);
    void drawKeypointDot(const Annotation &a, int index, const QPointF &at, bool selected, const Selection &selection);

    QPainter &painter;
    ViewTransform view;
    bool showLabels;
    ClassTagCache *tags;
    QFont tagFont;
    double tagLineHeight;
    QFont numberFont;
    QRectF viewport;
};

} // namespace Quillmark
