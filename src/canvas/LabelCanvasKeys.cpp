// Tool input from the keyboard: Escape, Delete and the keys of the tools.

#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationGeometry.h"
#include "formats/AnnotationGeometry.h"

#include <QKeyEvent>

namespace Quillmark {

namespace {

// The mode after a shape or a vertex is deleted: a drag of what is gone ends;
// any other mode (prompt clicks, a shape being drawn) stays as it is.
LabelCanvas::Mode modeAfterDeletion(LabelCanvas::Mode mode)
{
    const bool dragging = mode == LabelCanvas::Move || mode == LabelCanvas::Resize || mode == LabelCanvas::MoveVertex;
    return dragging ? LabelCanvas::Idle : mode;
}

} // namespace

// --- The annotation list ----------------------------------------------------------

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
        QList<QPointF> outline = polygon.points;
        outline.removeAt(selectedVertex);
        setOutline(polygon, outline);
        polygon.bbox = objectPartsBounds(polygon);
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

} // namespace Quillmark
