#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationFootprint.h"
#include "canvas/AnnotationGeometry.h"
#include "canvas/AnnotationPainter.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/CanvasOverlayPainter.h"
#include "canvas/KeypointTray.h"
#include "canvas/SnapshotCommand.h"
#include "canvas/Tool.h"
#include "model/Dataset.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <QUndoStack>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

// The mode after a shape or a vertex is deleted: a drag of what is gone ends;
// any other mode (prompt clicks, a shape being drawn) stays as it is.
LabelCanvas::Mode modeAfterDeletion(LabelCanvas::Mode mode)
{
    const bool dragging = mode == LabelCanvas::Move || mode == LabelCanvas::Resize || mode == LabelCanvas::MoveVertex;
    return dragging ? LabelCanvas::Idle : mode;
}

constexpr float FitMargin = 0.92f;
constexpr double ZoomStep = 1.25;
constexpr double WheelStep = 1.12;
// Bounds that keep the view transform finite and invertible; ordinary zooming
// never gets near them.
constexpr double MinScale = 1e-4;
constexpr double MaxScale = 1e4;
constexpr int UndoLimit = 200;
constexpr double MinBoxSize = 5.0;
// From this many annotations on, the ones not being edited are kept as pictures
// between repaints.
constexpr int LayerCacheThreshold = 200;

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

double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

LabelCanvas::LabelCanvas(QWidget *parent) : QWidget(parent), snapshotStack(new QUndoStack(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(420, 320);
    snapshotStack->setUndoLimit(UndoLimit);
    connect(snapshotStack, &QUndoStack::canUndoChanged, this, [this] { reportHistory(); });
    connect(snapshotStack, &QUndoStack::canRedoChanged, this, [this] { reportHistory(); });
}

// --- Showing an entry -----------------------------------------------------------

void LabelCanvas::setImage(const ImageEntry &newEntry)
{
    pixmap = QPixmap::fromImage(newEntry.loadPixels());
    applyImageEntry(newEntry);
}

void LabelCanvas::setImageFromPixmap(const ImageEntry &newEntry, const QPixmap &newPixmap)
{
    pixmap = newPixmap;
    applyImageEntry(newEntry);
}

void LabelCanvas::applyImageEntry(const ImageEntry &newEntry)
{
    entry = ImageEntry();
    entry.id = newEntry.id;
    entry.filePath = newEntry.filePath;
    entry.width = newEntry.width;
    entry.height = newEntry.height;
    entry.labels = newEntry.labels;
    entry.image = newEntry.image;

    showingEntry = true;
    const bool hadPending = forgetPicture();
    samPositive.clear();
    samNegative.clear();
    samResult.clear();
    previewPolygons.clear();

    if (!pixmap.isNull())
        fitView();
    update();
    if (hadPending)
        emit pendingAnnotationsDropped();
}

// Forgets what belonged to the picture shown so far: the selection, the
// gesture under way, the undo history and the pending annotations. True when
// pending annotations were dropped.
bool LabelCanvas::forgetPicture()
{
    selectedIndex = -1;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
    mode = Idle;
    modeBeforePan = Idle;
    resetPress();
    snapshotStack->clear();
    const bool hadPending = !pendingAnnotations.isEmpty();
    pendingAnnotations.clear();
    highlightedKeypoint = hoveredKeypoint = -1;
    reportHistory();
    return hadPending;
}

void LabelCanvas::clear()
{
    entry = ImageEntry();
    showingEntry = false;
    pixmap = QPixmap();
    const bool hadPending = forgetPicture();
    update();
    if (hadPending)
        emit pendingAnnotationsDropped();
}

// --- The annotation list ----------------------------------------------------------

void LabelCanvas::setAnnotations(const QList<Annotation> &labels)
{
    entry.labels = labels;
    selectedIndex = -1;
    selectedVertex = -1;
    hoverEdge = -1;
    // A shape still being drawn is recorded against the new list, not the old one;
    // an object pressed on may no longer be where it was.
    snapshotBefore = labels;
    clickTarget = -1;
    snapshotStack->clear();
    emit annotationsChanged();
    update();
}

void LabelCanvas::selectAnnotation(int index)
{
    if (index < -1 || index >= entry.labels.size())
        return;
    selectedIndex = index;
    selectedVertex = -1;
    hoverEdge = -1;
    update();
    emit annotationSelected(index);
}

void LabelCanvas::deleteAnnotation(int index)
{
    settleDrag();
    if (index < 0 || index >= entry.labels.size())
        return;
    const QList<Annotation> before = entry.labels;
    entry.labels.removeAt(index);
    if (selectedIndex == index)
        selectedIndex = -1;
    else if (selectedIndex > index)
        --selectedIndex;
    selectedVertex = -1;
    mode = modeAfterDeletion(mode);
    pushSnapshot(before, QStringLiteral("Delete annotation"));
    emit annotationDeleted(index);
    emit annotationSelected(selectedIndex);
    update();
}

// --- Settings ---------------------------------------------------------------------

void LabelCanvas::setCurrentClass(const QString &name)
{
    currentClass = name;
}

void LabelCanvas::setClassColors(const QMap<QString, QColor> &colors)
{
    classColors = colors;
    update();
}

void LabelCanvas::setKeypointSchema(const KeypointSchema &schema)
{
    keypointSchema = schema;
    update();
}

void LabelCanvas::setShowLabels(bool show)
{
    if (show == showLabels)
        return;
    showLabels = show;
    update();
}

void LabelCanvas::setThemeMode(int newThemeMode)
{
    setCanvasPalette(CanvasPalette::forThemeMode(newThemeMode));
}

void LabelCanvas::setCanvasPalette(const CanvasPalette &palette)
{
    colors = palette;
    update();
}

void LabelCanvas::setTool(int newTool)
{
    // A drag still under way is kept and recorded, as its release would.
    settleDrag();
    tool = newTool;
    mode = Idle;
    modeBeforePan = Idle;
    resetPress();
    selectedIndex = -1;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
    reportHistory();
    update();
}

QColor LabelCanvas::classColor(const QString &name) const
{
    const auto it = classColors.constFind(name);
    if (it != classColors.constEnd())
        return it.value();
    return classPalette[qHash(name, 0) % classPalette.size()];
}

// --- View -------------------------------------------------------------------------

void LabelCanvas::fitView()
{
    const float fit = FitMargin * std::min(float(width()) / float(pixmap.width()),
                                           float(height()) / float(pixmap.height()));
    view.scale = float(std::clamp(double(fit), MinScale, MaxScale));
    view.offset = QPointF((width() - pixmap.width() * double(view.scale)) * 0.5,
                          (height() - pixmap.height() * double(view.scale)) * 0.5);
}

void LabelCanvas::zoomAbout(const QPointF &centre, double factor)
{
    const double target = std::clamp(double(view.scale) * factor, MinScale, MaxScale);
    const float newScale = float(target);
    const double applied = double(newScale) / double(view.scale);
    view.offset = (view.offset - centre) * applied + centre;
    view.scale = newScale;
}

void LabelCanvas::emitZoom()
{
    emit zoomChanged(int(std::lround(double(view.scale) * 100.0)));
    update();
}

void LabelCanvas::fitToWindow()
{
    if (pixmap.isNull())
        return;
    fitView();
    emitZoom();
}

void LabelCanvas::zoomIn()
{
    zoomAbout(QPointF(width() * 0.5, height() * 0.5), ZoomStep);
    emitZoom();
}

void LabelCanvas::zoomOut()
{
    zoomAbout(QPointF(width() * 0.5, height() * 0.5), 0.8);
    emitZoom();
}

void LabelCanvas::zoomActualSize()
{
    if (pixmap.isNull())
        return;
    view.scale = 1.0f;
    view.offset = QPointF((width() - pixmap.width()) * 0.5, (height() - pixmap.height()) * 0.5);
    emitZoom();
}

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

// --- Undo -------------------------------------------------------------------------

bool LabelCanvas::pushSnapshot(const QList<Annotation> &before, const QString &text)
{
    if (SnapshotCommand::listsEqual(before, entry.labels))
        return false;
    snapshotStack->push(
        new SnapshotCommand(text, this, before, selectedIndex, entry.labels, selectedIndex));
    return true;
}

void LabelCanvas::restoreSnapshot(const QList<Annotation> &list, int selection)
{
    entry.labels = list;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
    // Undoing a committed segment does not end SAM prompting: prompt mode ends
    // only through its own exits.
    if (!isInSamMode()) {
        mode = Idle;
        modeBeforePan = Idle;
    }
    selectedIndex = std::max(-1, std::min(int(list.size()) - 1, selection));
    emit annotationsChanged();
    emit annotationSelected(selectedIndex);
    update();
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

void LabelCanvas::resetPress()
{
    clickTarget = -1;
    pressFinishedShape = false;
}

bool LabelCanvas::movedBeyondClick(const QPointF &screen) const
{
    return (screen - pressScreen).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance();
}

QPolygonF LabelCanvas::keypointScreenPositions(int index) const
{
    return KeypointTray::screenPositions(entry.labels.at(index), view, index == selectedIndex);
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
    if (event->button() == Qt::LeftButton && mode == Idle && !pixmap.isNull() && classColors.isEmpty() &&
        entry.labels.isEmpty()) {
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
    dragStartBox = dragOrigin.bbox;
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
    polygon.points.insert(edge + 1, AnnotationGeometry::clamped(image, pictureRect()));
    polygon.bbox = AnnotationGeometry::pointBounds(polygon.points);
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
    const QPointF shift =
        d.isNull() ? d : AnnotationGeometry::clampedShift(AnnotationGeometry::extent(dragOrigin), d, pictureRect());
    entry.labels[selectedIndex] = AnnotationGeometry::translated(dragOrigin, shift);
    update();
}

void LabelCanvas::resizeSelection(const QPointF &image)
{
    if (!hasSelection())
        return;
    const QRectF picture = pictureRect();
    const QRectF edges = movedEdges(dragStartBox, activeHandle, image - dragStart, picture);
    Annotation &a = entry.labels[selectedIndex];
    if (dragOrigin.kind == Polygon) {
        // A polygon is scaled with its box, which thus keeps bounding it.
        a = AnnotationGeometry::scaled(dragOrigin, dragStartBox, edges);
        for (QPointF &p : a.points)
            p = AnnotationGeometry::clamped(p, picture);
        a.bbox = AnnotationGeometry::pointBounds(a.points);
    } else {
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
        a.points[dragVertex] = AnnotationGeometry::clamped(image, pictureRect());
        if (a.kind == Keypoint) {
            // A keypoint dragged from the tray onto the picture becomes visible.
            if (dragVertex < a.keypointVis.size() && a.keypointVis.at(dragVertex) <= 0)
                a.keypointVis[dragVertex] = 2;
            a.bbox = AnnotationGeometry::boxAfterKeypointEdit(a, dragVertex);
        } else {
            a.bbox = AnnotationGeometry::pointBounds(a.points);
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
    if (mode == Idle && (tool == int(Tool::Select) || tool == int(Tool::Polygon)) && selectedPolygon &&
        vertexAt(selectedIndex, screen) < 0)
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

bool LabelCanvas::canUndo() const
{
    return isPlacing() || snapshotStack->canUndo();
}

bool LabelCanvas::canRedo() const
{
    return !isPlacing() && snapshotStack->canRedo();
}

void LabelCanvas::reportHistory()
{
    const bool undoable = canUndo();
    const bool redoable = canRedo();
    if (undoable == reportedCanUndo && redoable == reportedCanRedo)
        return;
    reportedCanUndo = undoable;
    reportedCanRedo = redoable;
    emit historyAvailabilityChanged(undoable, redoable);
}

// Placing a polygon or keypoint set starts and ends in the input handlers, and
// makes undo (which then takes back a point) and redo available or not.
bool LabelCanvas::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
        reportHistory();
        break;
    default:
        break;
    }
    return handled;
}

void LabelCanvas::undo()
{
    settleDrag();
    if (isPlacing()) {
        withdrawLastPlacedPoint();
        reportHistory();
        return;
    }
    snapshotStack->undo();
}

void LabelCanvas::redo()
{
    settleDrag();
    if (isPlacing())
        return;
    snapshotStack->redo();
}

void LabelCanvas::wheelEvent(QWheelEvent *event)
{
    const int dy = event->angleDelta().y();
    if (dy == 0) {
        event->ignore();
        return;
    }
    zoomAbout(event->position(), dy > 0 ? WheelStep : 1.0 / WheelStep);
    emitZoom();
    event->accept();
}

void LabelCanvas::leaveEvent(QEvent *event)
{
    cursorInside = false;
    hoverEdge = -1;
    update();
    QWidget::leaveEvent(event);
}

// --- Keys -------------------------------------------------------------------------

void LabelCanvas::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Undo)) {
        undo();
        return;
    }
    if (event->matches(QKeySequence::Redo)) {
        redo();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        handleEscape();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        handleDelete();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mode == PlaceKeypoints)
            finishKeypoints();
        else if (mode == DrawPolygon)
            finishPolygon();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void LabelCanvas::handleEscape()
{
    const int current = effectiveMode();
    if (current == SamPrompt) {
        exitSamMode();
        modeBeforePan = Idle;
        return;
    }
    // A drag ends as its release would: the shape stays where it was dragged
    // and the change is recorded.
    settleDrag();
    if (current == DrawPolygon || current == PlaceKeypoints) {
        placedPoints.clear();
        placedVisibility.clear();
    }
    mode = Idle;
    modeBeforePan = Idle;
    resetPress();
    rubberBand = QRectF();
    selectedIndex = -1;
    dragVertex = selectedVertex = -1;
    hoverEdge = -1;
    unsetCursor();
    emit annotationSelected(-1);
    update();
}

void LabelCanvas::handleDelete()
{
    settleDrag();
    if (selectedVertex >= 0 && hasSelection() && deleteSelectedVertex())
        return;
    if (hasSelection())
        deleteSelectedAnnotation();
}

bool LabelCanvas::deleteSelectedVertex()
{
    const Annotation &a = entry.labels.at(selectedIndex);
    if (selectedVertex >= a.points.size())
        return false;
    const QList<Annotation> before = entry.labels;
    if (a.kind == Polygon) {
        if (a.points.size() <= 3)
            return false;
        Annotation &polygon = entry.labels[selectedIndex];
        polygon.points.removeAt(selectedVertex);
        polygon.bbox = AnnotationGeometry::pointBounds(polygon.points);
    } else if (a.kind == Keypoint) {
        // A keypoint is marked unlabelled rather than removed, so the later
        // keypoints keep their place in the schema; the object's box stays. The
        // last labelled keypoint takes the whole set with it.
        int labelled = 0;
        for (int i = 0; i < a.points.size(); ++i)
            labelled += AnnotationGeometry::visibilityAt(a, i) > 0 ? 1 : 0;
        const bool isLabelled = AnnotationGeometry::visibilityAt(a, selectedVertex) > 0;
        // An unlabelled keypoint has nothing left to delete.
        if (!isLabelled)
            return true;
        if (labelled <= 1)
            return false;
        Annotation &set = entry.labels[selectedIndex];
        while (set.keypointVis.size() < set.points.size())
            set.keypointVis.append(2);
        set.keypointVis[selectedVertex] = 0;
    } else {
        return false;
    }
    selectedVertex = -1;
    mode = modeAfterDeletion(mode);
    pushSnapshot(before, QStringLiteral("Delete vertex"));
    emit annotationsChanged();
    update();
    return true;
}

void LabelCanvas::deleteSelectedAnnotation()
{
    const int former = selectedIndex;
    const QList<Annotation> before = entry.labels;
    entry.labels.removeAt(former);
    selectedIndex = -1;
    selectedVertex = -1;
    mode = modeAfterDeletion(mode);
    pushSnapshot(before, QStringLiteral("Delete annotation"));
    emit annotationDeleted(former);
    emit annotationSelected(-1);
    update();
}

// --- Assistance hooks -------------------------------------------------------------

void LabelCanvas::enterSamMode()
{
    mode = SamPrompt;
    samPositive.clear();
    samNegative.clear();
    samResult.clear();
    selectedIndex = -1;
    dragVertex = selectedVertex = -1;
    setCursor(Qt::CrossCursor);
    update();
}

void LabelCanvas::exitSamMode()
{
    samPositive.clear();
    samNegative.clear();
    samResult.clear();
    mode = Idle;
    unsetCursor();
    update();
}

void LabelCanvas::setSamResultPolygon(const QPolygonF &polygon)
{
    samResult = polygon;
    update();
}

void LabelCanvas::commitSamResult()
{
    if (samResult.isEmpty())
        return;
    const QList<Annotation> before = entry.labels;
    Annotation polygon;
    polygon.className = currentClass;
    polygon.kind = Polygon;
    polygon.points = samResult;
    polygon.bbox = samResult.boundingRect();
    entry.labels.append(polygon);
    const int index = int(entry.labels.size()) - 1;
    selectedIndex = index;
    pushSnapshot(before, QStringLiteral("SAM Segment"));
    mode = SamPrompt;
    setCursor(Qt::CrossCursor);
    emit annotationAdded(index);
    emit annotationSelected(index);
    samPositive.clear();
    samNegative.clear();
    samResult.clear();
    update();
}

void LabelCanvas::replaceAnnotations(const QList<Annotation> &labels, const QString &stepText)
{
    settleDrag();
    const QList<Annotation> before = entry.labels;
    const int formerSelection = selectedIndex;
    entry.labels = labels;
    selectedIndex = -1;
    if (!pushSnapshot(before, stepText)) {
        selectedIndex = formerSelection;
        return;
    }
    selectedVertex = -1;
    emit annotationsChanged();
    emit annotationSelected(-1);
    update();
}

void LabelCanvas::addDetection(const Annotation &annotation)
{
    settleDrag();
    const QList<Annotation> before = entry.labels;
    entry.labels.append(annotation);
    pushSnapshot(before, QStringLiteral("AI Detection"));
    emit annotationAdded(int(entry.labels.size()) - 1);
    update();
}

void LabelCanvas::setPendingAnnotations(const QList<Annotation> &list)
{
    pendingAnnotations = list;
    update();
}

void LabelCanvas::acceptPendingAnnotations()
{
    if (pendingAnnotations.isEmpty())
        return;
    settleDrag();
    const QList<Annotation> before = entry.labels;
    entry.labels.append(pendingAnnotations);
    selectedIndex = int(entry.labels.size()) - 1;
    pushSnapshot(before, QStringLiteral("Pose Annotation"));
    pendingAnnotations.clear();
    highlightedKeypoint = hoveredKeypoint = -1;
    emit annotationsChanged();
    update();
}

void LabelCanvas::clearPendingAnnotations()
{
    pendingAnnotations.clear();
    highlightedKeypoint = hoveredKeypoint = -1;
    update();
}

void LabelCanvas::setPreviewPolygons(const QList<QPolygonF> &list)
{
    previewPolygons = list;
    update();
}

void LabelCanvas::clearPreviewPolygons()
{
    if (previewPolygons.isEmpty())
        return;
    previewPolygons.clear();
    update();
}

// --- Painting ---------------------------------------------------------------------

void LabelCanvas::drawAnnotation(AnnotationPainter &shapes, const Annotation &a, bool selected)
{
    AnnotationPainter::Selection selection;
    if (selected) {
        selection.vertex = selectedVertex;
        selection.highlightedKeypoint = highlightedKeypoint;
        selection.hoverEdge = hoverEdge;
        selection.hoverEdgePoint = hoverEdgePoint;
    }
    if (a.kind == BoundingBox)
        shapes.drawBox(a, classColor(a.className), selected);
    else if (a.kind == Polygon)
        shapes.drawPolygon(a, classColor(a.className), selected, selection);
    else if (a.kind == Keypoint)
        shapes.drawKeypoints(a, classColor(a.className), selected, selection);
}

void LabelCanvas::paintAnnotations(QPainter &painter)
{
    const int count = int(entry.labels.size());
    const int selected = hasSelection() ? selectedIndex : -1;
    if (count < LayerCacheThreshold) {
        layerCache.clear();
        AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache);
        shapes.setViewport(QRectF(rect()));
        for (int i = 0; i < count; ++i)
            drawAnnotation(shapes, entry.labels.at(i), i == selected);
        return;
    }
    AnnotationLayerCache::Key key;
    key.size = size();
    key.devicePixelRatio = devicePixelRatioF();
    key.view = view;
    key.showLabels = showLabels;
    key.font = font();
    key.classColors = classColors;
    const AnnotationFootprint footprints(view, font(), showLabels, &tagCache);
    AnnotationLayerCache::Painting painting;
    painting.draw = [this](QPainter &layerPainter, const Annotation &a) {
        AnnotationPainter shapes(layerPainter, view, font(), showLabels, &tagCache);
        shapes.setViewport(QRectF(rect()));
        drawAnnotation(shapes, a, false);
    };
    painting.footprint = [&footprints](const Annotation &a, bool isSelected) { return footprints.of(a, isSelected); };
    // While panning the pictures are shifted; they are redrawn once it ends.
    layerCache.update(key, entry.labels, selected, mode == Pan, painting);
    layerCache.paint(painter, view.offset, [this, selected](QPainter &livePainter) {
        AnnotationPainter shapes(livePainter, view, font(), showLabels, &tagCache);
        drawAnnotation(shapes, entry.labels.at(selected), true);
    });
}

void LabelCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = colors.darkOverlays;
    CanvasOverlayPainter overlay(painter, view, size(), font());
    if (pixmap.isNull()) {
        overlay.drawPlaceholder(dark);
        return;
    }

    painter.fillRect(rect(), colors.background);
    const QRectF imageRect(view.offset.x(), view.offset.y(), pixmap.width() * double(view.scale),
                           pixmap.height() * double(view.scale));
    painter.setPen(QPen(QColor("#111111"), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(imageRect.adjusted(-1, -1, 1, 1));
    painter.drawPixmap(imageRect, pixmap, QRectF(pixmap.rect()));

    paintAnnotations(painter);

    AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache);
    const AnnotationPainter::Selection none;
    const int current = effectiveMode();
    const QColor currentColor = classColor(currentClass);
    if (current == DrawBox && rubberBand.isValid())
        overlay.drawRubberBand(rubberBand, currentColor);
    if (tool == int(Tool::Keypoint) && keypointSchema.isInUse()) {
        // Progress counts only while a set is being placed.
        const int placed = current == PlaceKeypoints ? int(placedPoints.size()) : 0;
        overlay.drawKeypointChecklist(keypointSchema.keypointNames, placed, currentColor);
    }
    if (current == PlaceKeypoints && !placedPoints.isEmpty()) {
        CanvasOverlayPainter::KeypointsInProgress set;
        set.placed = placedPoints;
        set.cursor = placingCursor;
        set.names = keypointSchema.keypointNames;
        for (const auto &edge : keypointSchema.edges)
            set.edges.append({edge.first, edge.second});
        set.classColor = currentColor;
        overlay.drawKeypointsInProgress(set);
    }
    if (current == DrawPolygon && !placedPoints.isEmpty())
        overlay.drawPolygonInProgress(placedPoints, placingCursor, currentColor);
    if (!pendingAnnotations.isEmpty()) {
        painter.save();
        painter.setOpacity(0.82);
        // As they will look once accepted: boxes (face models without
        // landmarks) as boxes, keypoints as keypoints.
        for (const Annotation &a : pendingAnnotations) {
            if (a.kind == BoundingBox)
                shapes.drawBox(a, classColor(a.className), false);
            else
                shapes.drawKeypoints(a, classColor(a.className), false, none);
        }
        painter.restore();
    }
    if (current == SamPrompt)
        overlay.drawSamOverlay(samResult, samPositive, samNegative);
    if (!previewPolygons.isEmpty())
        overlay.drawPreviewPolygons(previewPolygons);
    if (cursorInside)
        overlay.drawCrosshair(cursorPos, dark);
}

} // namespace Quillmark
