// Tool input, the press: what a mouse press starts for each tool.

#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/CanvasOverlayPainter.h"
#include "canvas/Tool.h"
#include "formats/AnnotationGeometry.h"

#include <QMouseEvent>

#include <cmath>

namespace Quillmark {

namespace {

double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

// --- Mouse ------------------------------------------------------------------------

void LabelCanvas::resetPress()
{
    clickTarget = -1;
    pressFinishedShape = false;
}

void LabelCanvas::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    const QPointF screen = event->position();
    const QPointF image = view.toImage(screen);
    pressFinishedShape = false;

    if (event->button() == Qt::MiddleButton) {
        if (mode != Pan)
            modeBeforePan = mode;
        mode = Pan;
        panLast = screen;
        setCursor(Qt::ClosedHandCursor);
        return;
    }
    // A drag whose release never arrived (the mouse was taken elsewhere) ends
    // here, as that release would have ended it.
    if (event->button() == Qt::LeftButton && isDragMode(mode)) {
        if (mode == DrawBox) {
            mode = Idle;
            rubberBand = QRectF();
            clickTarget = -1;
        } else {
            finishDrag();
        }
    }
    // Nothing is drawn, selected or prompted where no picture is shown: a
    // shape would be invisible, and placed by the view of an earlier picture.
    if (pixmap.isNull()) {
        if (showingEntry && (event->button() == Qt::LeftButton || event->button() == Qt::RightButton))
            emit pressedWithoutPicture();
        return;
    }
    if (event->button() == Qt::LeftButton && mode == Idle && classColors.isEmpty() && entry.labels.isEmpty()) {
        emit classRequired();
        return;
    }
    const bool drawingTool = tool == int(Tool::BBox) || tool == int(Tool::Polygon) || tool == int(Tool::Keypoint);
    if (event->button() == Qt::LeftButton && mode == Idle && drawingNeedsType && drawingTool) {
        emit classRequired();
        return;
    }
    if (mode == SamPrompt) {
        pressSamPrompt(event, image);
        return;
    }
    if (event->button() == Qt::RightButton) {
        if (mode == DrawPolygon)
            finishPolygon();
        else if (mode == Idle)
            pressKeypointVisibility(screen);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;

    switch (Tool(tool)) {
    case Tool::BBox:
        pressBoxTool(screen, image);
        break;
    case Tool::Polygon:
        pressPolygonTool(screen, image);
        break;
    case Tool::Keypoint:
        pressKeypointTool(screen, image);
        break;
    case Tool::Select:
        pressSelectTool(screen, image);
        break;
    default:
        return;
    }
    update();
}

void LabelCanvas::pressSamPrompt(QMouseEvent *event, const QPointF &image)
{
    if (event->button() == Qt::LeftButton)
        samPositive.append(image);
    else if (event->button() == Qt::RightButton)
        samNegative.append(image);
    else
        return;
    emit samPromptsChanged(samPositive, samNegative);
    update();
}

// A right click on a keypoint of the selected set (select and keypoint tools)
// cycles its visibility: visible, occluded, unlabelled, and back to visible
// where it is stored (within the picture). One undo step each.
bool LabelCanvas::pressKeypointVisibility(const QPointF &screen)
{
    if (tool != int(Tool::Select) && tool != int(Tool::Keypoint))
        return false;
    if (!hasSelection() || entry.labels.at(selectedIndex).kind != Keypoint)
        return false;
    const int keypoint = CanvasHitTest::vertexAt(keypointScreenPositions(selectedIndex), screen);
    if (keypoint < 0)
        return false;
    const QList<Annotation> before = entry.labels;
    Annotation &set = entry.labels[selectedIndex];
    while (set.keypointVis.size() < set.points.size())
        set.keypointVis.append(2);
    const int visibility = set.keypointVis.at(keypoint);
    const int next = visibility >= 2 ? 1 : (visibility == 1 ? 0 : 2);
    set.keypointVis[keypoint] = next;
    if (next == 2) {
        set.points[keypoint] = AnnotationGeometry::clamped(set.points.at(keypoint), pictureRect());
        set.bbox = AnnotationGeometry::boxAfterKeypointEdit(set, keypoint);
    }
    mode = Idle;
    pushSnapshot(before, QStringLiteral("Change keypoint visibility"));
    selectedVertex = keypoint;
    update();
    return true;
}

void LabelCanvas::beginResize(int handle, const QPointF &image)
{
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    mode = Resize;
    activeHandle = handle;
    dragStart = dragLast = image;
    dragOrigin = entry.labels.at(selectedIndex);
    dragStartBox = AnnotationGeometry::handleFrame(dragOrigin).value_or(dragOrigin.bbox);
}

void LabelCanvas::beginMove(int index, const QPointF &image)
{
    selectedIndex = index;
    mode = Move;
    dragStart = dragLast = image;
    dragOrigin = entry.labels.at(index);
    dragStartBox = dragOrigin.bbox;
    setCursor(Qt::SizeAllCursor);
}

void LabelCanvas::beginVertexDrag(int vertex, const QPointF &image)
{
    snapshotBefore = entry.labels;
    selectedVertex = dragVertex = vertex;
    mode = MoveVertex;
    dragLast = image;
    setCursor(Qt::SizeAllCursor);
}

// Starts a new shape at the press. When the press landed on an object that was
// not selected (`target`), the release decides: a click selects that object, a
// drag keeps the new shape, so that an object can be drawn inside another.
void LabelCanvas::beginDrawing(int drawMode, int target, const QPointF &screen, const QPointF &image)
{
    const QPointF start = AnnotationGeometry::clamped(image, pictureRect());
    selectedIndex = -1;
    mode = Mode(drawMode);
    clickTarget = target;
    pressScreen = screen;
    if (drawMode == DrawBox) {
        dragStart = start;
        rubberBand = QRectF(start, QSizeF(0, 0));
    } else {
        placedPoints = {start};
        placedVisibility = drawMode == PlaceKeypoints ? QList<int>{2} : QList<int>();
        placingCursor = start;
    }
    setCursor(Qt::CrossCursor);
    emit annotationSelected(-1);
}

// At the release of a press on an object that was not selected: when the mouse
// stayed put, drops the shape just begun and selects the object. True then.
bool LabelCanvas::endClickOnTarget(const QPointF &screen)
{
    const int target = clickTarget;
    clickTarget = -1;
    if (target < 0 || target >= entry.labels.size() || movedBeyondClick(screen))
        return false;
    placedPoints.clear();
    placedVisibility.clear();
    rubberBand = QRectF();
    mode = Idle;
    selectedIndex = target;
    selectedVertex = -1;
    setCursor(Qt::SizeAllCursor);
    emit annotationSelected(target);
    update();
    return true;
}

bool LabelCanvas::pressOnSelectedVertex(const QPointF &screen, const QPointF &image, int kind)
{
    if (!hasSelection() || entry.labels.at(selectedIndex).kind != kind)
        return false;
    const int vertex = kind == Keypoint ? CanvasHitTest::vertexAt(keypointScreenPositions(selectedIndex), screen)
                                        : vertexAt(selectedIndex, screen);
    if (vertex < 0)
        return false;
    beginVertexDrag(vertex, image);
    return true;
}

bool LabelCanvas::pressOnSelectedEdge(const QPointF &screen, const QPointF &image)
{
    if (!hasSelection() || entry.labels.at(selectedIndex).kind != Polygon)
        return false;
    const int edge = edgeAt(selectedIndex, screen);
    if (edge < 0)
        return false;
    snapshotBefore = entry.labels;
    Annotation &polygon = entry.labels[selectedIndex];
    QList<QPointF> outline = polygon.points;
    outline.insert(edge + 1, AnnotationGeometry::clamped(image, pictureRect()));
    setOutline(polygon, outline);
    polygon.bbox = objectPartsBounds(polygon);
    selectedVertex = dragVertex = edge + 1;
    hoverEdge = -1;
    mode = MoveVertex;
    dragLast = image;
    setCursor(Qt::SizeAllCursor);
    emit annotationsChanged();
    return true;
}

// The start of every press of a drawing tool that lands on no handle or vertex:
// the list is kept for the undo step. A press on the selected object starts
// moving it (true); on any other object, or on none, it is the tool's to draw.
bool LabelCanvas::pressOnObject(int hit, const QPointF &image)
{
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    if (hit < 0 || hit != selectedIndex)
        return false;
    beginMove(hit, image);
    emit annotationSelected(hit);
    return true;
}

// Adds a point of the polygon or keypoint set being placed, kept on the picture.
void LabelCanvas::placePoint(const QPointF &image)
{
    const QPointF point = AnnotationGeometry::clamped(image, pictureRect());
    placedPoints.append(point);
    placingCursor = point;
}

// Whether the keypoint set being placed has a point for every name of the schema.
bool LabelCanvas::keypointSetComplete() const
{
    return keypointSchema.isInUse() && placedPoints.size() >= keypointSchema.keypointNames.size();
}

void LabelCanvas::pressBoxTool(const QPointF &screen, const QPointF &image)
{
    if (const int handle = handleAt(screen)) {
        beginResize(handle, image);
        setCursor(Qt::SizeAllCursor);
        return;
    }
    const int hit = annotationAt(screen);
    if (!pressOnObject(hit, image))
        beginDrawing(DrawBox, hit, screen, image);
}

void LabelCanvas::pressPolygonTool(const QPointF &screen, const QPointF &image)
{
    if (mode == DrawPolygon) {
        // Beside the picture, the point would land on its border: the click
        // closes the polygon when either the cursor or that point is near the
        // first point, rather than adding a copy of it.
        const auto nearFirst = [&] {
            const QPointF first = view.toScreen(placedPoints.first());
            const QPointF landing = view.toScreen(AnnotationGeometry::clamped(image, pictureRect()));
            return distance(screen, first) < CanvasOverlayPainter::ClosingDistance ||
                distance(landing, first) < CanvasOverlayPainter::ClosingDistance;
        };
        if (placedPoints.size() >= 3 && nearFirst()) {
            finishPolygon();
            pressFinishedShape = true;
            return;
        }
        placePoint(image);
        return;
    }
    if (pressOnSelectedVertex(screen, image, Polygon) || pressOnSelectedEdge(screen, image))
        return;
    const int hit = annotationAt(screen);
    if (!pressOnObject(hit, image))
        beginDrawing(DrawPolygon, hit, screen, image);
}

void LabelCanvas::pressKeypointTool(const QPointF &screen, const QPointF &image)
{
    if (mode == PlaceKeypoints) {
        placePoint(image);
        placedVisibility.append(2);
        if (keypointSetComplete()) {
            finishKeypoints();
            pressFinishedShape = true;
        }
        return;
    }
    if (pressOnSelectedVertex(screen, image, Keypoint))
        return;
    const int hit = annotationAt(screen);
    // A box or polygon under the press does not stop a new set; another set
    // (or its box) is selected by a click and drawn into by a drag.
    const int set = hit >= 0 && entry.labels.at(hit).kind == Keypoint ? hit : -1;
    if (pressOnObject(set, image))
        return;
    beginDrawing(PlaceKeypoints, set, screen, image);
    // A schema of one name is complete with its first point, once it is clear
    // that the press was not a click on another set.
    if (clickTarget < 0 && keypointSetComplete()) {
        finishKeypoints();
        pressFinishedShape = true;
    }
}

void LabelCanvas::pressSelectTool(const QPointF &screen, const QPointF &image)
{
    // The vertices of a polygon or keypoint set win over its box's handles, so
    // the corners of a rectangle-shaped polygon can be dragged.
    if (pressOnSelectedVertex(screen, image, Polygon) || pressOnSelectedVertex(screen, image, Keypoint))
        return;
    if (const int handle = handleAt(screen)) {
        beginResize(handle, image);
        return;
    }
    if (pressOnSelectedEdge(screen, image))
        return;
    const int hit = annotationAt(screen);
    selectedVertex = -1;
    selectedIndex = hit;
    if (hit < 0) {
        mode = Idle;
        unsetCursor();
    } else {
        snapshotBefore = entry.labels;
        beginMove(hit, image);
    }
    emit annotationSelected(hit);
}

} // namespace Quillmark
