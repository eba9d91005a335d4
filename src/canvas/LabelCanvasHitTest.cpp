// What lies under a point of the canvas: annotations, handles, vertices, edges.

#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/KeypointTray.h"
#include "canvas/Tool.h"

#include <QGuiApplication>
#include <QStyleHints>

namespace Quillmark {

// --- Hit tests --------------------------------------------------------------------

int LabelCanvas::annotationAt(const QPointF &screen) const
{
    return CanvasHitTest::annotationAt(entry.labels, view, screen);
}

std::optional<QRectF> LabelCanvas::handlesShown() const
{
    if (!hasSelection() || (tool != int(Tool::Select) && tool != int(Tool::BBox)))
        return std::nullopt;
    return AnnotationGeometry::handleFrame(entry.labels.at(selectedIndex));
}

int LabelCanvas::handleAt(const QPointF &screen) const
{
    const std::optional<QRectF> frame = handlesShown();
    return frame ? CanvasHitTest::handleAt(view.toScreen(*frame), screen) : 0;
}

int LabelCanvas::vertexAt(int index, const QPointF &screen) const
{
    if (index < 0 || index >= entry.labels.size())
        return -1;
    return CanvasHitTest::vertexAt(entry.labels.at(index).points, view, screen);
}

int LabelCanvas::edgeAt(int index, const QPointF &screen) const
{
    if (index < 0 || index >= entry.labels.size())
        return -1;
    return CanvasHitTest::edgeAt(entry.labels.at(index).points, view, screen);
}

// --- Mouse ------------------------------------------------------------------------

QRectF LabelCanvas::pictureRect() const
{
    if (!pixmap.isNull())
        return QRectF(0, 0, pixmap.width(), pixmap.height());
    if (entry.width > 0 && entry.height > 0)
        return QRectF(0, 0, entry.width, entry.height);
    return {};
}

bool LabelCanvas::movedBeyondClick(const QPointF &screen) const
{
    return (screen - pressScreen).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance();
}

QPolygonF LabelCanvas::keypointScreenPositions(int index) const
{
    return KeypointTray::screenPositions(entry.labels.at(index), view, index == selectedIndex);
}

} // namespace Quillmark
