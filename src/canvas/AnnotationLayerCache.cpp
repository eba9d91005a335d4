#include "canvas/AnnotationLayerCache.h"

#include <QPainter>

namespace Quillmark {

namespace {

// Equal in everything the canvas draws.
bool drawnAlike(const Annotation &a, const Annotation &b)
{
    return a.kind == b.kind && a.className == b.className && a.bbox == b.bbox && a.points == b.points &&
           a.keypointVis == b.keypointVis;
}

} // namespace

bool AnnotationLayerCache::Key::sameLook(const Key &other) const
{
    return size == other.size && devicePixelRatio == other.devicePixelRatio && view.scale == other.view.scale &&
           showLabels == other.showLabels && font == other.font && selected == other.selected &&
           classColors == other.classColors;
}

bool AnnotationLayerCache::showsList(const QList<Annotation> &current, int selected) const
{
    if (current.size() != labels.size())
        return false;
    if (current.constData() == labels.constData())
        return true;
    for (qsizetype i = 0; i < current.size(); ++i) {
        if (i != selected && !drawnAlike(current.at(i), labels.at(i)))
            return false;
    }
    return true;
}

bool AnnotationLayerCache::isCurrent(const Key &newKey, const QList<Annotation> &current) const
{
    return valid && key.sameLook(newKey) && key.view.offset == newKey.view.offset &&
           showsList(current, newKey.selected);
}

bool AnnotationLayerCache::isShiftOf(const Key &newKey, const QList<Annotation> &current) const
{
    return valid && key.sameLook(newKey) && showsList(current, newKey.selected);
}

QImage AnnotationLayerCache::blankLayer() const
{
    QImage layer(key.size * key.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(key.devicePixelRatio);
    layer.fill(Qt::transparent);
    return layer;
}

void AnnotationLayerCache::rebuild(const Key &newKey, const QList<Annotation> &current, const DrawRange &draw)
{
    key = newKey;
    labels = current;
    const int count = int(current.size());
    const int split = (key.selected >= 0 && key.selected < count) ? key.selected : count;

    below = blankLayer();
    {
        QPainter painter(&below);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, 0, split);
    }
    above = QImage();
    if (split + 1 < count) {
        above = blankLayer();
        QPainter painter(&above);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, split + 1, count);
    }
    valid = true;
}

void AnnotationLayerCache::clear()
{
    if (!valid)
        return;
    valid = false;
    labels.clear();
    below = QImage();
    above = QImage();
}

void AnnotationLayerCache::paintBelow(QPainter &painter, const QPointF &offset) const
{
    if (valid && !below.isNull())
        painter.drawImage(offset - key.view.offset, below);
}

void AnnotationLayerCache::paintAbove(QPainter &painter, const QPointF &offset) const
{
    if (valid && !above.isNull())
        painter.drawImage(offset - key.view.offset, above);
}

} // namespace Quillmark
