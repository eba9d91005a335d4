#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

class QPainter;

namespace Quillmark {

class ClassTagCache;
class RegionMaskCache;

// Draws the annotations of the canvas: boxes with their resize handles, polygons
// (every part of an object of several) with their vertices and the
// edge-insertion marker, keypoint sets with their skeleton, the masks of crowd
// regions, and the class-name tags.
class AnnotationPainter {
public:
    // Editing state of the selected annotation that its drawing shows.
    struct Selection {
        int vertex = -1;              // selected vertex or keypoint
        int highlightedKeypoint = -1; // ringed keypoint
        int hoverEdge = -1;           // polygon edge under the cursor
        QPointF hoverEdgePoint;       // where the insertion marker sits, image coordinates
        // The frame whose resize handles are drawn, image coordinates; none
        // where no handle can be dragged.
        std::optional<QRectF> handleFrame;
    };

    // Fonts derive from `baseFont`; `tags`, when given, supplies laid-out tag
    // texts kept between paints, and `masks` the pictures of crowd regions'
    // masks (without it a region is drawn as a box).
    AnnotationPainter(QPainter &painter, const ViewTransform &view, const QFont &baseFont, bool showLabels,
                      ClassTagCache *tags = nullptr, RegionMaskCache *masks = nullptr);

    // Shapes and tags entirely outside this screen rectangle are skipped. Without
    // one, everything is drawn.
    void setViewport(const QRectF &screenRect) { viewport = screenRect; }

    void drawBox(const Annotation &a, const QColor &color, bool selected);
    void drawBox(const Annotation &a, const QColor &color, bool selected, const Selection &selection);
    void drawPolygon(const Annotation &a, const QColor &color, bool selected, const Selection &selection);
    void drawKeypoints(const Annotation &a, const QColor &color, bool selected, const Selection &selection);

    // A tag with the class name sitting on top of `anchor` (screen coordinates).
    void drawClassTag(const QString &name, const QColor &color, const QPointF &anchor);

    // The text of the annotation's tag: its class, marked for a crowd region.
    static QString tagText(const Annotation &a);

private:
    bool touchesViewport(const QRectF &screenRect, double margin) const;
    bool drawRegionMask(const Annotation &a, const QColor &color, bool selected);
    void drawHandles(const QRectF &screenRect);
    void drawFrameHandles(const QRectF &screenRect, const QColor &color);
    void drawVertexSquares(const QPolygonF &screen, int selectedVertex);
    void drawInsertionMarker(const QPointF &screen);
    void drawSkeleton(const Annotation &a, const QPolygonF &screen, const QColor &color);
    void drawKeypointDot(const Annotation &a, int index, const QPointF &at, bool selected, const Selection &selection);

    QPainter &painter;
    ViewTransform view;
    bool showLabels;
    ClassTagCache *tags;
    RegionMaskCache *masks;
    QFont tagFont;
    double tagLineHeight;
    QFont numberFont;
    QRectF viewport;
};

} // namespace Quillmark
