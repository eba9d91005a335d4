// The canvas's view (fit, zoom, wheel) and its painting.

#include "canvas/LabelCanvas.h"

#include "canvas/AnnotationFootprint.h"
#include "canvas/AnnotationPainter.h"
#include "canvas/CanvasOverlayPainter.h"
#include "canvas/Tool.h"

#include <QFileInfo>
#include <QPainter>
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
// From this many annotations on, the ones not being edited are kept as pictures
// between repaints.
constexpr int LayerCacheThreshold = 200;

} // namespace

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
    if (pixmap.isNull())
        return;
    zoomAbout(QPointF(width() * 0.5, height() * 0.5), ZoomStep);
    emitZoom();
}

void LabelCanvas::zoomOut()
{
    if (pixmap.isNull())
        return;
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

// --- Mouse ------------------------------------------------------------------------

void LabelCanvas::wheelEvent(QWheelEvent *event)
{
    const int dy = event->angleDelta().y();
    // Without a picture there is nothing to zoom.
    if (dy == 0 || pixmap.isNull()) {
        event->ignore();
        return;
    }
    zoomAbout(event->position(), dy > 0 ? WheelStep : 1.0 / WheelStep);
    emitZoom();
    event->accept();
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
        selection.handleFrame = handlesShown();
    }
    if (a.kind == BoundingBox)
        shapes.drawBox(a, classColor(a.className), selected, selection);
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
        AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache, &maskCache);
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
    const AnnotationFootprint footprints(view, font(), showLabels, &tagCache, &maskCache);
    AnnotationLayerCache::Painting painting;
    painting.draw = [this](QPainter &layerPainter, const Annotation &a) {
        AnnotationPainter shapes(layerPainter, view, font(), showLabels, &tagCache, &maskCache);
        shapes.setViewport(QRectF(rect()));
        drawAnnotation(shapes, a, false);
    };
    painting.footprint = [&footprints](const Annotation &a, bool isSelected) { return footprints.of(a, isSelected); };
    // While panning the pictures are shifted; they are redrawn once it ends.
    layerCache.update(key, entry.labels, selected, mode == Pan, painting);
    layerCache.paint(painter, view.offset, [this, selected](QPainter &livePainter) {
        AnnotationPainter shapes(livePainter, view, font(), showLabels, &tagCache, &maskCache);
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
        // An entry whose picture could not be read is not the empty canvas:
        // the placeholder's "Open an image" would tell the user nothing.
        if (showingEntry)
            overlay.drawUnreadablePicture(dark, QFileInfo(entry.filePath).fileName());
        else
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

    AnnotationPainter shapes(painter, view, font(), showLabels, &tagCache, &maskCache);
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
