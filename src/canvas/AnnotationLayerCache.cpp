#include "canvas/AnnotationLayerCache.h"

#include <QPainter>
#include <QRegion>

#include <algorithm>

namespace Quillmark {

namespace {

// Room around the selected annotation's patch: a little for a fresh selection,
// more once it is being dragged, so that a drag does not rebuild it at every step.
constexpr int PatchMargin = 8;
constexpr int DragPatchMargin = 64;
// A patch larger than this share of the view covers all of it.
constexpr double WholeViewPatchShare = 0.4;
// A region to redraw larger than this share of the view is redrawn whole.
constexpr double WholeViewRedrawShare = 0.6;

// Equal in everything the canvas draws: the attributes hold an object's other
// parts and a crowd region's mask (and when unchanged are shared, so that
// comparing them costs nothing).
bool drawnAlike(const Annotation &a, const Annotation &b)
{
    return a.kind == b.kind && a.className == b.className && a.bbox == b.bbox && a.points == b.points &&
           a.keypointVis == b.keypointVis && a.attributes == b.attributes;
}

qint64 area(const QRect &r)
{
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

} // namespace

bool AnnotationLayerCache::Key::sameLook(const Key &other) const
{
    return size == other.size && devicePixelRatio == other.devicePixelRatio && view.scale == other.view.scale &&
           showLabels == other.showLabels && font == other.font && classColors == other.classColors;
}

QImage AnnotationLayerCache::blankLayer(const QSize &size) const
{
    QImage layer(size * key.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(key.devicePixelRatio);
    layer.fill(Qt::transparent);
    return layer;
}

void AnnotationLayerCache::update(const Key &newKey, const QList<Annotation> &labels, int selected, bool panning,
                                  const Painting &painting)
{
    const bool patchFits = selected < 0 || (patch.valid && patch.index == selected);
    if (valid && key.sameLook(newKey) && key.view.offset != newKey.view.offset && panning && patchFits)
        return;
    if (!valid || !key.sameLook(newKey) || key.view.offset != newKey.view.offset) {
        key = newKey;
        rebuildAll(labels, painting);
    } else {
        sync(labels, selected, painting);
    }
    ensurePatch(labels, selected, painting);
}

void AnnotationLayerCache::drawRange(QPainter &painter, const QRect &clip, int from, int to, const Painting &painting)
{
    const bool everything = clip.contains(layerRect());
    for (int i = from; i < to; ++i) {
        const Annotation &a = shown.at(i);
        if (!everything && !painting.footprint(a, false).toAlignedRect().intersects(clip))
            continue;
        painting.draw(painter, a);
        ++drawn;
    }
}

void AnnotationLayerCache::rebuildAll(const QList<Annotation> &labels, const Painting &painting)
{
    shown = labels;
    full = blankLayer(key.size);
    {
        QPainter painter(&full);
        painter.setRenderHint(QPainter::Antialiasing);
        drawRange(painter, layerRect(), 0, int(shown.size()), painting);
    }
    dropPatch();
    valid = true;
}

void AnnotationLayerCache::redrawRegion(const QRect &region, const Painting &painting)
{
    const QRect r = region & layerRect();
    if (r.isEmpty())
        return;
    dropPatch();
    if (area(r) > WholeViewRedrawShare * area(layerRect())) {
        const QList<Annotation> list = shown;
        rebuildAll(list, painting);
        return;
    }
    QPainter painter(&full);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(r);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(r, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    drawRange(painter, r, 0, int(shown.size()), painting);
}

void AnnotationLayerCache::drawOnTop(int from, const Painting &painting)
{
    dropPatch();
    QPainter painter(&full);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRange(painter, layerRect(), from, int(shown.size()), painting);
}

void AnnotationLayerCache::sync(const QList<Annotation> &labels, int selected, const Painting &painting)
{
    if (labels.size() == shown.size() && labels.constData() == shown.constData())
        return;
    const int oldCount = int(shown.size());
    const int newCount = int(labels.size());
    auto footprintOf = [&painting](const Annotation &a) { return painting.footprint(a, false).toAlignedRect(); };

    if (oldCount == newCount) {
        // The selected annotation is left as the full picture shows it: the
        // patch covers it until the selection moves on.
        QRect dirty;
        for (int i = 0; i < newCount; ++i) {
            if (i == selected || drawnAlike(shown.at(i), labels.at(i)))
                continue;
            dirty |= footprintOf(shown.at(i)) | footprintOf(labels.at(i));
            shown[i] = labels.at(i);
        }
        redrawRegion(dirty, painting);
        return;
    }

    const int common = std::min(oldCount, newCount);
    int prefix = 0;
    while (prefix < common && drawnAlike(shown.at(prefix), labels.at(prefix)))
        ++prefix;
    if (prefix == oldCount) {
        // Only additions at the end: they lie on top of everything else.
        shown = labels;
        drawOnTop(oldCount, painting);
        return;
    }
    int suffix = 0;
    while (suffix < common - prefix && drawnAlike(shown.at(oldCount - 1 - suffix), labels.at(newCount - 1 - suffix)))
        ++suffix;
    QRect dirty;
    for (int i = prefix; i < oldCount - suffix; ++i)
        dirty |= footprintOf(shown.at(i));
    for (int i = prefix; i < newCount - suffix; ++i)
        dirty |= footprintOf(labels.at(i));
    shown = labels;
    redrawRegion(dirty, painting);
}

void AnnotationLayerCache::dropPatch()
{
    patch.valid = false;
    patch.index = -1;
    patch.rect = QRect();
}

void AnnotationLayerCache::ensurePatch(const QList<Annotation> &labels, int selected, const Painting &painting)
{
    if (selected < 0 || selected >= labels.size() || selected >= shown.size()) {
        dropPatch();
        return;
    }
    const QRect need = (painting.footprint(shown.at(selected), false).toAlignedRect() |
                        painting.footprint(labels.at(selected), true).toAlignedRect()) &
                       layerRect();
    const bool same = patch.valid && patch.index == selected;
    if (same && (need.isEmpty() || patch.rect.contains(need, false)))
        return;

    // The selected annotation outgrowing its patch is being dragged: leave room.
    const int margin = same ? DragPatchMargin : PatchMargin;
    QRect r = need.adjusted(-margin, -margin, margin, margin) & layerRect();
    if (area(r) > WholeViewPatchShare * area(layerRect()))
        r = layerRect();
    renderPatch(need.isEmpty() ? QRect() : r, selected, painting);
}

void AnnotationLayerCache::renderPatch(const QRect &rect, int selected, const Painting &painting)
{
    patch.valid = true;
    patch.index = selected;
    patch.rect = rect;
    const QSize device = key.size * key.devicePixelRatio;
    for (QImage *layer : {&patch.below, &patch.above}) {
        if (layer->size() != device || layer->devicePixelRatio() != key.devicePixelRatio) {
            *layer = blankLayer(key.size);
            continue;
        }
        if (patch.painted.isEmpty())
            continue;
        QPainter painter(layer);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(patch.painted, Qt::transparent);
    }
    patch.painted = rect;
    if (rect.isEmpty())
        return;
    auto render = [&](QImage &layer, int from, int to) {
        QPainter painter(&layer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRect(rect);
        drawRange(painter, rect, from, to, painting);
    };
    render(patch.below, 0, selected);
    render(patch.above, selected + 1, int(shown.size()));
}

void AnnotationLayerCache::clear()
{
    if (!valid)
        return;
    valid = false;
    shown.clear();
    full = QImage();
    patch = Patch();
}

void AnnotationLayerCache::paint(QPainter &painter, const QPointF &offset,
                                 const std::function<void(QPainter &)> &drawSelected) const
{
    if (!valid)
        return;
    const QPointF shift = offset - key.view.offset;
    if (!patch.valid || patch.rect.isEmpty()) {
        painter.drawImage(shift, full);
        if (patch.valid)
            drawSelected(painter);
        return;
    }
    const QPoint whole = shift.toPoint();
    if (patch.rect != layerRect()) {
        painter.save();
        painter.setClipRegion(QRegion(layerRect().translated(whole)) - QRegion(patch.rect.translated(whole)));
        painter.drawImage(shift, full);
        painter.restore();
    }
    // Drawn whole under a clip, as the full picture is, so that each pixel is
    // blended the same way.
    auto drawClipped = [&](const QImage &layer) {
        painter.save();
        painter.setClipRect(patch.rect.translated(whole));
        painter.drawImage(shift, layer);
        painter.restore();
    };
    drawClipped(patch.below);
    drawSelected(painter);
    drawClipped(patch.above);
}

} // namespace Quillmark
