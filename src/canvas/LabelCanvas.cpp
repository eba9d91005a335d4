// The canvas's state: the entry it shows, the annotation list, the settings
// from the window and the undo history. View and painting, hit tests, tool
// input and the assistance hooks are in the LabelCanvas*.cpp files beside it.

#include "canvas/LabelCanvas.h"

#include "canvas/SnapshotCommand.h"
#include "model/Dataset.h"

#include <QEvent>
#include <QUndoStack>

#include <algorithm>

namespace Quillmark {

namespace {

constexpr int UndoLimit = 200;

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
    dropUnfinishedShape();
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
    emit pictureChanged(!pixmap.isNull());
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

// A shape being placed belongs to the picture it was placed on; it goes when
// that picture does, and the owner is told.
void LabelCanvas::dropUnfinishedShape()
{
    const int placing = effectiveMode();
    const int points = int(placedPoints.size());
    placedPoints.clear();
    placedVisibility.clear();
    if ((placing != DrawPolygon && placing != PlaceKeypoints) || points == 0)
        return;
    emit unfinishedShapeDropped(placing == DrawPolygon ? int(Polygon) : int(Keypoint), points);
}

void LabelCanvas::clear()
{
    dropUnfinishedShape();
    entry = ImageEntry();
    showingEntry = false;
    pixmap = QPixmap();
    const bool hadPending = forgetPicture();
    update();
    emit pictureChanged(false);
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
    dropUnfinishedShape();
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

// --- Assistance hooks -------------------------------------------------------------

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

} // namespace Quillmark
