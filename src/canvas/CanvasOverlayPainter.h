#pragma once

#include "canvas/ViewTransform.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <utility>

class QPainter;

namespace Quillmark {

// Draws what the canvas shows besides the annotations themselves: the
// placeholder without an image, shapes being drawn, the keypoint checklist, the
// SAM prompt overlay, preview outlines and the crosshair.
class CanvasOverlayPainter {
public:
    CanvasOverlayPainter(QPainter &painter, const ViewTransform &view, const QSize &widgetSize, const QFont &baseFont);

    void drawPlaceholder(bool dark);
    // The text of the placeholder: the keys of the tools and what the mouse
    // and keys do with each.
    static QString placeholderText();
    // In the placeholder's place when an entry is shown whose picture could
    // not be read: which file, and that nothing can be drawn on it.
    void drawUnreadablePicture(bool dark, const QString &fileName);
    static QString unreadablePictureText(const QString &fileName);
    void drawRubberBand(const QRectF &imageRect, const QColor &color);

    // The list of schema names beside the image while the keypoint tool is on;
    // `placedCount` names are done, the next one is current.
    void drawKeypointChecklist(const QStringList &names, int placedCount, const QColor &classColor);

    struct KeypointsInProgress {
        QList<QPointF> placed;              // image coordinates
        QPointF cursor;                     // image coordinates
        QStringList names;                  // schema names, may be empty
        QList<std::pair<int, int>> edges;   // schema edges, may be empty
        QColor classColor;
    };
    void drawKeypointsInProgress(const KeypointsInProgress &set);

    void drawPolygonInProgress(const QList<QPointF> &placed, const QPointF &cursor, const QColor &classColor);

    void drawSamOverlay(const QPolygonF &result, const QList<QPointF> &positive, const QList<QPointF> &negative);
    void drawPreviewPolygons(const QList<QPolygonF> &polygons);
    void drawCrosshair(const QPointF &cursor, bool dark);

    // First visible row of the checklist: rows follow the current keypoint,
    // which stays near the middle of the 12 visible rows.
    static int checklistFirstRow(int nameCount, int placedCount);
    static constexpr int ChecklistMaxRows = 12;

    static constexpr double ClosingDistance = 12.0;

private:
    QFont sizedFont(double points, bool bold) const;
    void drawPlacedKeypointLabel(const QPointF &at, const QString &text);
    void drawNextKeypointName(const QPointF &cursor, const QString &name);
    void drawTextBox(const QRectF &box, int alpha, const QFont &font, const QString &text);

    QPainter &painter;
    ViewTransform view;
    QSize size;
    QFont baseFont;
};

} // namespace Quillmark
