// The frameless window's own border: resizing from a 6-pixel band along the
// edges and corners, with the matching cursors.

#include "app/MainWindow.h"

#include <QMouseEvent>

namespace Quillmark {

namespace {

constexpr int borderWidth = 6;

enum Edge : int {
    TopEdge = 1,
    LeftEdge = 2,
    RightEdge = 4,
    BottomEdge = 8,
};

int edgesAt(const QPoint &pos, const QSize &size)
{
    int edges = 0;
    if (pos.y() <= borderWidth)
        edges |= TopEdge;
    if (pos.x() <= borderWidth)
        edges |= LeftEdge;
    if (pos.x() >= size.width() - borderWidth)
        edges |= RightEdge;
    if (pos.y() >= size.height() - borderWidth)
        edges |= BottomEdge;
    return edges;
}

} // namespace

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        resizeEdges = edgesAt(event->pos(), size());
        if (resizeEdges != 0) {
            resizing = true;
            resizePressPos = event->globalPosition().toPoint();
            resizeStartGeometry = geometry();
        }
    }
    QMainWindow::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (resizing) {
        const QPoint p = event->globalPosition().toPoint();
        const int dx = p.x() - resizePressPos.x();
        const int dy = p.y() - resizePressPos.y();
        QRect g = resizeStartGeometry;
        if (resizeEdges & RightEdge)
            g.setRight(resizeStartGeometry.right() + dx);
        if (resizeEdges & BottomEdge)
            g.setBottom(resizeStartGeometry.bottom() + dy);
        if (resizeEdges & LeftEdge) {
            g.setLeft(resizeStartGeometry.left() + dx);
            if (g.width() < minimumWidth())
                g.setLeft(g.right() - minimumWidth());
        }
        if (resizeEdges & TopEdge) {
            g.setTop(resizeStartGeometry.top() + dy);
            if (g.height() < minimumHeight())
                g.setTop(g.bottom() - minimumHeight());
        }
        setGeometry(g);
        return;
    }

    const int x = event->pos().x();
    const int y = event->pos().y();
    const int w = width();
    const int h = height();
    const bool top = y <= borderWidth;
    const bool left = x <= borderWidth;
    const bool right = x >= w - borderWidth;
    const bool bottom = y >= h - borderWidth;
    if (left && top)
        setCursor(Qt::SizeFDiagCursor);
    else if (right && top && !bottom)
        setCursor(Qt::SizeBDiagCursor);
    else if (right && bottom)
        setCursor(Qt::SizeFDiagCursor);
    else if (left && bottom)
        setCursor(Qt::SizeBDiagCursor);
    else if (!left && !right && !top && !bottom)
        unsetCursor();
    else if (top || bottom)
        setCursor(Qt::SizeVerCursor);
    else
        setCursor(Qt::SizeHorCursor);
    QMainWindow::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    resizing = false;
    QMainWindow::mouseReleaseEvent(event);
}

} // namespace Quillmark
