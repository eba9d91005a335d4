// The hooks of the AI assistance: the SAM prompt mode, detections and pending
// annotations, preview outlines.

#include "canvas/LabelCanvas.h"

namespace Quillmark {

// --- Assistance hooks -------------------------------------------------------------

void LabelCanvas::enterSamMode()
{
    dropUnfinishedShape();
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

} // namespace Quillmark
