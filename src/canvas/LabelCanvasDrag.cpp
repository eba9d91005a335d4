// Tool input after the press: dragging, hovering, releasing, double clicks
// and the shapes the tools finish.

#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/Tool.h"
#include "formats/AnnotationGeometry.h"

#include <QEvent>
#include <QMouseEvent>

#include <cmath>

namespace Quillmark {

namespace {

constexpr double MinBoxSize = 5.0;

Qt::CursorShape handleCursor(int handle)
{
    switch (handle) {
    case 1:
    case 5:
        return Qt::SizeFDiagCursor;
    case 2:
    case 6:
        return Qt::SizeVerCursor;
    case 3:
    case 7:
        return Qt::SizeBDiagCursor;
    default:
        return Qt::SizeHorCursor;
    }
}

// The box of `start` with the edges of `handle` moved by `d` and kept within the
// picture. Not normalised: an edge dragged past the opposite one flips the box.
QRectF movedEdges(const QRectF &start, int handle, const QPointF &d, const QRectF &picture)
{
    QPointF topLeft = start.topLeft();
    QPointF bottomRight = start.bottomRight();
    const bool movesTop = handle == 1 || handle == 2 || handle == 3;
    const bool movesBottom = handle == 5 || handle == 6 || handle == 7;
    const bool movesLeft = handle == 1 || handle == 7 || handle == 8;
    const bool movesRight = handle == 3 || handle == 4 || handle == 5;
    if (movesTop)
        topLeft.ry() += d.y();
    if (movesBottom)
        bottomRight.ry() += d.y();
    if (movesLeft)
        topLeft.rx() += d.x();
    if (movesRight)
        bottomRight.rx() += d.x();
    return QRectF(AnnotationGeometry::clamped(topLeft, picture), AnnotationGeometry::clamped(bottomRight, picture));
}

} // namespace

// --- Mouse ------------------------------------------------------------------------

void LabelCanvas::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF screen = event->position();
    const QPointF image = view.toImage(screen);
    cursorInside = true;
    cursorPos = screen;

    switch (mode) {
    case DrawBox:
        rubberBand = QRectF(dragStart, AnnotationGeometry::clamped(image, pictureRect())).normalized();
        update();
        return;
    case Move:
        if (hasSelection()) {
            dragSelection(image);
            return;
        }
        break;
    case Resize:
        resizeSelection(image);
        return;
    case Pan:
        view.offset += screen - panLast;
        panLast = screen;
        update();
        return;
    case DrawPolygon:
    case PlaceKeypoints:
        placingCursor = AnnotationGeometry::clamped(image, pictureRect());
        update();
        return;
    case MoveVertex:
        dragVertexTo(image);
        return;
    case SamPrompt:
        updateHoverState(screen, image);
        return;
    case Idle:
        break;
    }
    updateHoverCursor(screen);
    updateHoverState(screen, image);
}

// The selected annotation follows the cursor from where the drag began, kept
// within the picture.
void LabelCanvas::dragSelection(const QPointF &image)
{
    dragLast = image;
    const QPointF d = image - dragStart;
    QPointF shift = d;
    if (!d.isNull()) {
        // A crowd region's mask lies on the pixels: it moves by whole ones.
        const QRectF extent = AnnotationGeometry::extent(dragOrigin);
        shift = AnnotationGeometry::carriesMask(dragOrigin)
                    ? AnnotationGeometry::clampedWholeShift(extent, d, pictureRect())
                    : AnnotationGeometry::clampedShift(extent, d, pictureRect());
    }
    entry.labels[selectedIndex] = AnnotationGeometry::translated(dragOrigin, shift);
    update();
}

void LabelCanvas::resizeSelection(const QPointF &image)
{
    if (!hasSelection())
        return;
    const QRectF picture = pictureRect();
    QRectF edges = movedEdges(dragStartBox, activeHandle, image - dragStart, picture);
    // A crowd region's mask lies on the pixels: its box's edges stay on them too.
    if (AnnotationGeometry::carriesMask(dragOrigin))
        edges = QRectF(QPointF(std::round(edges.left()), std::round(edges.top())),
                       QPointF(std::round(edges.right()), std::round(edges.bottom())));
    Annotation &a = entry.labels[selectedIndex];
    if (dragOrigin.kind == Polygon) {
        // A polygon is scaled with its frame, every part of it, and so keeps
        // filling it.
        a = AnnotationGeometry::scaled(dragOrigin, dragStartBox, edges, picture);
    } else {
        // What the box holds beside it (a crowd region's mask) is scaled with it.
        a = dragOrigin;
        mapKeptGeometry(a, AxisMap::between(dragStartBox, edges));
        a.bbox = AnnotationGeometry::clamped(edges, picture);
        // The box of a keypoint set keeps holding its labelled keypoints.
        if (dragOrigin.kind == Keypoint) {
            if (const auto labelled = AnnotationGeometry::labelledBounds(dragOrigin)) {
                a.bbox = AnnotationGeometry::grownToHold(AnnotationGeometry::grownToHold(a.bbox, labelled->topLeft()),
                                                         labelled->bottomRight());
            }
        }
    }
    update();
}

void LabelCanvas::dragVertexTo(const QPointF &image)
{
    if (!hasSelection() || dragVertex < 0)
        return;
    Annotation &a = entry.labels[selectedIndex];
    if (dragVertex < a.points.size()) {
        const QPointF point = AnnotationGeometry::clamped(image, pictureRect());
        if (a.kind == Polygon) {
            QList<QPointF> outline = a.points;
            outline[dragVertex] = point;
            setOutline(a, outline);
        } else {
            a.points[dragVertex] = point;
        }
        if (a.kind == Keypoint) {
            // A keypoint dragged from the tray onto the picture becomes visible.
            if (dragVertex < a.keypointVis.size() && a.keypointVis.at(dragVertex) <= 0)
                a.keypointVis[dragVertex] = 2;
            a.bbox = AnnotationGeometry::boxAfterKeypointEdit(a, dragVertex);
        } else {
            a.bbox = objectPartsBounds(a);
        }
    }
    dragLast = image;
    update();
}

void LabelCanvas::updateHoverCursor(const QPointF &screen)
{
    const bool onVertex = tool == int(Tool::Select) && hasSelection() &&
                          ((entry.labels.at(selectedIndex).kind == Polygon && vertexAt(selectedIndex, screen) >= 0) ||
                           (entry.labels.at(selectedIndex).kind == Keypoint &&
                            CanvasHitTest::vertexAt(keypointScreenPositions(selectedIndex), screen) >= 0));
    // With a drawing tool only the selected annotation moves; a drag on any
    // other draws, so the cursor says so.
    const int hit = annotationAt(screen);
    const bool movable = hit >= 0 && (tool == int(Tool::Select) || hit == selectedIndex);
    if (onVertex)
        setCursor(Qt::SizeAllCursor);
    else if (const int handle = handleAt(screen))
        setCursor(handleCursor(handle));
    else if (movable)
        setCursor(Qt::SizeAllCursor);
    else if (tool == int(Tool::BBox))
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}

void LabelCanvas::updateHoverState(const QPointF &screen, const QPointF &image)
{
    const bool selectedPolygon = hasSelection() && entry.labels.at(selectedIndex).kind == Polygon;
    int edge = -1;
    // A press on a vertex or a handle takes that instead: no marker there.
    if (mode == Idle && (tool == int(Tool::Select) || tool == int(Tool::Polygon)) && selectedPolygon &&
        vertexAt(selectedIndex, screen) < 0 && handleAt(screen) == 0)
        edge = edgeAt(selectedIndex, screen);
    if (edge != hoverEdge || edge >= 0) {
        hoverEdge = edge;
        hoverEdgePoint = image;
    }

    int keypoint = -1;
    if (hasSelection() && entry.labels.at(selectedIndex).kind == Keypoint)
        keypoint = CanvasHitTest::keypointNear(keypointScreenPositions(selectedIndex), screen);
    if (keypoint != hoveredKeypoint) {
        // The hovered keypoint is also the one ringed in the drawing.
        hoveredKeypoint = highlightedKeypoint = keypoint;
        emit poseKeypointHovered(keypoint);
    }
    update();
}

void LabelCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    const QPointF screen = event->position();
    const QPointF image = view.toImage(screen);
    if (event->button() == Qt::MiddleButton) {
        if (mode != Pan) {
            modeBeforePan = Idle;
            return;
        }
        mode = modeBeforePan;
        modeBeforePan = Idle;
        if (mode == SamPrompt)
            setCursor(Qt::CrossCursor);
        else
            unsetCursor();
        // The left button came up while panning: end its drag now, as its
        // release would have.
        if (isDragMode(mode) && !(event->buttons() & Qt::LeftButton))
            finishLeftDrag(image);
        update();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if ((mode == DrawPolygon || mode == PlaceKeypoints) && clickTarget >= 0) {
        if (endClickOnTarget(screen))
            return;
        // A drag: the new shape goes on. A schema of one name is complete now.
        if (mode == PlaceKeypoints && keypointSetComplete())
            finishKeypoints();
        return;
    }
    finishLeftDrag(image);
}

void LabelCanvas::finishLeftDrag(const QPointF &image)
{
    if (mode == DrawBox)
        finishBoxDraw(image);
    else if (mode == Move || mode == Resize || mode == MoveVertex)
        finishDrag();
}

void LabelCanvas::finishBoxDraw(const QPointF &image)
{
    if (clickTarget >= 0 && endClickOnTarget(view.toScreen(image)))
        return;
    clickTarget = -1;
    const QRectF r = QRectF(dragStart, AnnotationGeometry::clamped(image, pictureRect())).normalized();
    if (r.width() >= MinBoxSize && r.height() >= MinBoxSize) {
        Annotation box;
        box.className = currentClass;
        box.kind = BoundingBox;
        box.bbox = r;
        appendDrawnAnnotation(box, QStringLiteral("Add annotation"));
    }
    mode = Idle;
    rubberBand = QRectF();
    update();
}

void LabelCanvas::finishDrag()
{
    const Mode ended = mode;
    bool changed = false;
    if (ended == Move)
        changed = pushSnapshot(snapshotBefore, QStringLiteral("Move annotation"));
    else if (ended == Resize)
        changed = pushSnapshot(snapshotBefore, QStringLiteral("Resize annotation"));
    else if (ended == MoveVertex)
        changed = pushSnapshot(snapshotBefore, QStringLiteral("Move vertex"));
    else
        return;
    if (ended == MoveVertex)
        dragVertex = -1;
    mode = Idle;
    // A press that moved nothing is a selection, not an edit.
    if (changed)
        emit annotationsChanged();
    update();
}

void LabelCanvas::settleDrag()
{
    const int current = effectiveMode();
    if (current != Move && current != Resize && current != MoveVertex)
        return;
    const bool panning = mode == Pan;
    mode = Mode(current);
    finishDrag();
    if (panning) {
        modeBeforePan = Idle;
        mode = Pan;
    }
}

void LabelCanvas::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The first click of this double click already finished the shape (it
    // closed the polygon or placed the last keypoint): nothing more to do, and
    // certainly no new shape to start.
    if (pressFinishedShape) {
        pressFinishedShape = false;
        return;
    }
    if (mode == DrawPolygon) {
        // The first click of a double click on the last point placed adds that
        // point again: no stray vertex.
        const qsizetype n = placedPoints.size();
        if (n >= 2 && CanvasHitTest::vertexAt(QList<QPointF>{placedPoints.at(n - 2)}, view,
                                              view.toScreen(placedPoints.at(n - 1))) == 0)
            placedPoints.removeLast();
        finishPolygon();
        return;
    }
    if (mode == PlaceKeypoints) {
        finishKeypoints();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

// Appends a shape the user finished drawing, selects it and records it as one
// undo step against the list as it was when the drawing began.
void LabelCanvas::appendDrawnAnnotation(const Annotation &annotation, const QString &stepText)
{
    entry.labels.append(annotation);
    const int index = int(entry.labels.size()) - 1;
    selectedIndex = index;
    pushSnapshot(snapshotBefore, stepText);
    emit annotationAdded(index);
    emit annotationSelected(index);
}

void LabelCanvas::finishPolygon()
{
    clickTarget = -1;
    if (placedPoints.size() <= 2) {
        placedPoints.clear();
        mode = Idle;
        update();
        return;
    }
    Annotation polygon;
    polygon.className = currentClass;
    polygon.kind = Polygon;
    polygon.points = placedPoints;
    polygon.bbox = AnnotationGeometry::pointBounds(placedPoints);
    commitPlacedShape(polygon, QStringLiteral("Add polygon"));
}

void LabelCanvas::finishKeypoints()
{
    clickTarget = -1;
    if (placedPoints.isEmpty()) {
        mode = Idle;
        update();
        return;
    }
    Annotation set;
    set.className = currentClass;
    set.kind = Keypoint;
    set.points = placedPoints;
    set.keypointVis = placedVisibility;
    set.bbox = AnnotationGeometry::keypointBounds(set);
    commitPlacedShape(set, QStringLiteral("Add keypoints"));
}

// Ends the placing of points with the shape they make, added as one undo step.
void LabelCanvas::commitPlacedShape(const Annotation &shape, const QString &stepText)
{
    dragVertex = selectedVertex = -1;
    placedPoints.clear();
    placedVisibility.clear();
    mode = Idle;
    appendDrawnAnnotation(shape, stepText);
    update();
}

void LabelCanvas::withdrawLastPlacedPoint()
{
    if (!placedPoints.isEmpty())
        placedPoints.removeLast();
    while (placedVisibility.size() > placedPoints.size())
        placedVisibility.removeLast();
    clickTarget = -1;
    if (placedPoints.isEmpty()) {
        // Nothing left: the placement ends, as Escape would end it.
        if (mode == Pan)
            modeBeforePan = Idle;
        else
            mode = Idle;
        unsetCursor();
    }
    update();
}

void LabelCanvas::leaveEvent(QEvent *event)
{
    cursorInside = false;
    hoverEdge = -1;
    update();
    QWidget::leaveEvent(event);
}

} // namespace Quillmark
