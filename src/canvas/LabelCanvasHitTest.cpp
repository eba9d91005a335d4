// What lies under a point of the canvas: annotations, handles, vertices, edges.

#include "canvas/LabelCanvas.h"

#include "canvas/CanvasHitTest.h"
#include "canvas/KeypointTray.h"

#include <QGuiApplication>
#include <QStyleHints>

namespace Quillmark {

// --- Hit tests --------------------------------------------------------------------

int LabelCanvas::annotationAt(const QPointF &screen) const
{
    return CanvasHitTest::annotationAt(entry.labels, view, screen);
}

int LabelCanvas::handleAt(const QPointF &screen) const
{
    if (!hasSelection())
        return 0;
    return CanvasHitTest::handleAt(view.toScreen(entry.labels.at(selectedIndex).bbox), screen);
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
