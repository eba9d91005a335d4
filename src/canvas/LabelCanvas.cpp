#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/AnnotationPainter.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/CanvasOverlayPainter.h"
#include "canvas/SnapshotCommand.h"
#include "canvas/Tool.h"
#include "chrome/Theme.h"
#include "model/Dataset.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QUndoStack>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

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

// The box of `start` with the edges of `handle` moved by `d`, normalised so that
// dragging past the opposite edge flips it.
QRectF resizedBox(const QRectF &start, int handle, const QPointF &d)
{
    double left = start.left();
    double top = start.top();
    double right = start.right();
    double bottom = start.bottom();
    const bool movesTop = handle == 1 || handle == 2 || handle == 3;
    const bool movesBottom = handle == 5 || handle == 6 || handle == 7;
    const bool movesLeft = handle == 1 || handle == 7 || handle == 8;
    const bool movesRight = handle == 3 || handle == 4 || handle == 5;
    if (movesTop)
        top += d.y();
    if (movesBottom)
        bottom += d.y();
    if (movesLeft)
        left += d.x();
    if (movesRight)
        right += d.x();
    return QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
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

    selectedIndex = -1;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
    mode = Idle;
    modeBeforePan = Idle;
    snapshotStack->clear();

    samPositive.clear();
    samNegative.clear();
    samResult.clear();
    previewPolygons.clear();
    const bool hadPending = !pendingAnnotations.isEmpty();
    pendingAnnotations.clear();
    highlightedKeypoint = hoveredKeypoint = -1;

    if (!pixmap.isNull())
        fitView();
    update();
    if (hadPending)
        emit pendingAnnotationsDropped();
}

void LabelCanvas::clear()
{
    entry = ImageEntry();
    pixmap = QPixmap();
    selectedIndex = -1;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
    mode = Idle;
    modeBeforePan = Idle;
    snapshotStack->clear();
    const bool hadPending = !pendingAnnotations.isEmpty();
    pendingAnnotations.clear();
    highlightedKeypoint = hoveredKeypoint = -1;
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
    // A shape still being drawn is recorded against the new list, not the old one.
    snapshotBefore = labels;
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
    if (index < 0 || index >= entry.labels.size())
        return;
    const QList<Annotation> before = entry.labels;
    entry.labels.removeAt(index);
    if (selectedIndex == index)
        selectedIndex = -1;
    else if (selectedIndex > index)
        --selectedIndex;
    selectedVertex = -1;
    mode = Idle;
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
    themeMode = newThemeMode;
    update();
}

void LabelCanvas::setTool(int newTool)
{
    // A drag still under way is kept and recorded, as its release would.
    if (isDragMode(effectiveMode()) && effectiveMode() != DrawBox) {
        mode = Mode(effectiveMode());
        finishDrag();
    }
    tool = newTool;
    mode = Idle;
    modeBeforePan = Idle;
    selectedIndex = -1;
    selectedVertex = -1;
    dragVertex = -1;
    hoverEdge = -1;
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

void LabelCanvas::pushSnapshot(const QList<Annotation> &before, const QString &text)
{
    if (SnapshotCommand::listsEqual(before, entry.labels))
        return;
    snapshotStack->push(
        new SnapshotCommand(text, this, before, selectedIndex, entry.labels, selectedIndex));
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

void LabelCanvas::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    const QPointF screen = event->position();
    const QPointF image = view.toImage(screen);

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
        if (mode == DrawBox)
            mode = Idle;
        else
            finishDrag();
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

void LabelCanvas::beginResize(int handle, const QPointF &image)
{
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    mode = Resize;
    activeHandle = handle;
    dragStart = dragLast = image;
    dragStartBox = entry.labels.at(selectedIndex).bbox;
}

void LabelCanvas::beginMove(int index, const QPointF &image)
{
    selectedIndex = index;
    mode = Move;
    dragStart = dragLast = image;
    dragStartBox = entry.labels.at(index).bbox;
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

bool LabelCanvas::pressOnSelectedVertex(const QPointF &screen, const QPointF &image, int kind)
{
    if (!hasSelection() || entry.labels.at(selectedIndex).kind != kind)
        return false;
    const int vertex = vertexAt(selectedIndex, screen);
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
    polygon.points.insert(edge + 1, image);
    polygon.bbox = AnnotationGeometry::pointBounds(polygon.points);
    selectedVertex = dragVertex = edge + 1;
    hoverEdge = -1;
    mode = MoveVertex;
    dragLast = image;
    setCursor(Qt::SizeAllCursor);
    emit annotationsChanged();
    return true;
}

void LabelCanvas::pressBoxTool(const QPointF &screen, const QPointF &image)
{
    if (const int handle = handleAt(screen)) {
        beginResize(handle, image);
        setCursor(Qt::SizeAllCursor);
        return;
    }
    const int hit = annotationAt(screen);
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    if (hit < 0) {
        selectedIndex = -1;
        mode = DrawBox;
        dragStart = image;
        rubberBand = QRectF(image, QSizeF(0, 0));
        setCursor(Qt::CrossCursor);
        emit annotationSelected(-1);
        return;
    }
    beginMove(hit, image);
    emit annotationSelected(hit);
}

void LabelCanvas::pressPolygonTool(const QPointF &screen, const QPointF &image)
{
    if (mode == DrawPolygon) {
        if (placedPoints.size() >= 3 &&
            distance(screen, view.toScreen(placedPoints.first())) < CanvasOverlayPainter::ClosingDistance) {
            finishPolygon();
            return;
        }
        placedPoints.append(image);
        placingCursor = image;
        return;
    }
    if (pressOnSelectedVertex(screen, image, Polygon) || pressOnSelectedEdge(screen, image))
        return;
    const int hit = annotationAt(screen);
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    if (hit < 0) {
        selectedIndex = -1;
        mode = DrawPolygon;
        placedPoints = {image};
        placingCursor = image;
        setCursor(Qt::CrossCursor);
        emit annotationSelected(-1);
        return;
    }
    beginMove(hit, image);
    emit annotationSelected(hit);
}

void LabelCanvas::pressKeypointTool(const QPointF &screen, const QPointF &image)
{
    if (mode == PlaceKeypoints) {
        placedPoints.append(image);
        placedVisibility.append(2);
        placingCursor = image;
        if (keypointSchema.isInUse() && placedPoints.size() >= keypointSchema.keypointNames.size())
            finishKeypoints();
        return;
    }
    if (pressOnSelectedVertex(screen, image, Keypoint))
        return;
    const int hit = annotationAt(screen);
    snapshotBefore = entry.labels;
    selectedVertex = -1;
    if (hit >= 0 && entry.labels.at(hit).kind == Keypoint) {
        beginMove(hit, image);
        emit annotationSelected(hit);
        return;
    }
    selectedIndex = -1;
    mode = PlaceKeypoints;
    placedPoints = {image};
    placedVisibility = {2};
    placingCursor = image;
    setCursor(Qt::CrossCursor);
    emit annotationSelected(-1);
    // A schema of one name is complete with its first point.
    if (keypointSchema.isInUse() && placedPoints.size() >= keypointSchema.keypointNames.size())
        finishKeypoints();
}

void LabelCanvas::pressSelectTool(const QPointF &screen, const QPointF &image)
{
    if (const int handle = handleAt(screen)) {
        beginResize(handle, image);
        return;
    }
    if (pressOnSelectedVertex(screen, image, Polygon) || pressOnSelectedVertex(screen, image, Keypoint))
        return;
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
        rubberBand = QRectF(dragStart, image).normalized();
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
        placingCursor = image;
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

void LabelCanvas::dragSelection(const QPointF &image)
{
    const QPointF d = image - dragLast;
    dragLast = image;
    Annotation &a = entry.labels[selectedIndex];
    if (a.kind == BoundingBox) {
        a.bbox.translate(d);
    } else if (a.kind == Polygon || a.kind == Keypoint) {
        for (QPointF &p : a.points)
            p += d;
        a.bbox = AnnotationGeometry::shapeBounds(a);
    } else {
        for (QPointF &p : a.points)
            p += d;
        a.bbox.translate(d);
    }
    update();
}

void LabelCanvas::resizeSelection(const QPointF &image)
{
    if (!hasSelection())
        return;
    entry.labels[selectedIndex].bbox = resizedBox(dragStartBox, activeHandle, image - dragStart);
    update();
}

void LabelCanvas::dragVertexTo(const QPointF &image)
{
    if (!hasSelection() || dragVertex < 0)
        return;
    Annotation &a = entry.labels[selectedIndex];
    if (dragVertex < a.points.size()) {
        a.points[dragVertex] = image;
        a.bbox = AnnotationGeometry::shapeBounds(a);
    }
    dragLast = image;
    update();
}

void LabelCanvas::updateHoverCursor(const QPointF &screen)
{
    if (const int handle = handleAt(screen))
        setCursor(handleCursor(handle));
    else if (annotationAt(screen) >= 0)
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
        keypoint = CanvasHitTest::keypointNear(entry.labels.at(selectedIndex).points, view, screen);
    if (keypoint != hoveredKeypoint) {
        // The hovered keypoint is also the one ringed in the drawing.
        hoveredKeypoint = highlightedKeypoint = keypoint;
        emit poseKeypointHovered(keypoint);
    }
    update();
}

void LabelCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    const QPointF image = view.toImage(event->position());
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
    if (event->button() == Qt::LeftButton)
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
    const QRectF r = QRectF(dragStart, image).normalized();
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
    if (ended == Move)
        pushSnapshot(snapshotBefore, QStringLiteral("Move annotation"));
    else if (ended == Resize)
        pushSnapshot(snapshotBefore, QStringLiteral("Resize annotation"));
    else if (ended == MoveVertex)
        pushSnapshot(snapshotBefore, QStringLiteral("Move vertex"));
    else
        return;
    if (ended == MoveVertex)
        dragVertex = -1;
    mode = Idle;
    emit annotationsChanged();
    update();
}

void LabelCanvas::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (mode == DrawPolygon) {
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
    dragVertex = selectedVertex = -1;
    placedPoints.clear();
    mode = Idle;
    appendDrawnAnnotation(polygon, QStringLiteral("Add polygon"));
    update();
}

void LabelCanvas::finishKeypoints()
{
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
    dragVertex = selectedVertex = -1;
    placedPoints.clear();
    placedVisibility.clear();
    mode = Idle;
    appendDrawnAnnotation(set, QStringLiteral("Add keypoints"));
    update();
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
        snapshotStack->undo();
        return;
    }
    if (event->matches(QKeySequence::Redo)) {
        snapshotStack->redo();
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
    if (current == Move || current == Resize || current == MoveVertex) {
        mode = Mode(current);
        finishDrag();
    }
    if (current == DrawPolygon || current == PlaceKeypoints) {
        placedPoints.clear();
        placedVisibility.clear();
    }
    mode = Idle;
    modeBeforePan = Idle;
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
        // keypoints keep their place in the schema. The last labelled keypoint
        // takes the whole set with it.
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
        set.bbox = AnnotationGeometry::keypointBounds(set);
    } else {
        return false;
    }
    selectedVertex = -1;
    mode = Idle;
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
    mode = Idle;
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

void LabelCanvas::addDetection(const Annotation &annotation)
{
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

void LabelCanvas::drawAnnotation(AnnotationPainter &shapes, int index)
{
    const Annotation &a = entry.labels.at(index);
    const bool selected = index == selectedIndex;
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
    if (count < LayerCacheThreshold) {
        layerCache.clear();
        AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache);
        shapes.setViewport(QRectF(rect()));
        for (int i = 0; i < count; ++i)
            drawAnnotation(shapes, i);
        return;
    }
    AnnotationLayerCache::Key key;
    key.size = size();
    key.devicePixelRatio = devicePixelRatioF();
    key.view = view;
    key.showLabels = showLabels;
    key.font = font();
    key.selected = hasSelection() ? selectedIndex : -1;
    key.classColors = classColors;
    // While panning the pictures are shifted; they are redrawn once it ends.
    const bool reuse = layerCache.isCurrent(key, entry.labels) ||
                       (mode == Pan && layerCache.isShiftOf(key, entry.labels));
    if (!reuse) {
        layerCache.rebuild(key, entry.labels, [this](QPainter &layerPainter, int from, int to) {
            AnnotationPainter shapes(layerPainter, view, font(), showLabels, &tagCache);
            shapes.setViewport(QRectF(rect()));
            for (int i = from; i < to; ++i)
                drawAnnotation(shapes, i);
        });
    }
    layerCache.paintBelow(painter, view.offset);
    if (key.selected >= 0) {
        AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache);
        drawAnnotation(shapes, key.selected);
    }
    layerCache.paintAbove(painter, view.offset);
}

void LabelCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = themeMode == Theme::Dark;
    CanvasOverlayPainter overlay(painter, view, size(), font());
    if (pixmap.isNull()) {
        overlay.drawPlaceholder(dark);
        return;
    }

    painter.fillRect(rect(), QColor(dark ? "#1e1f28" : "#d7dde5"));
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
