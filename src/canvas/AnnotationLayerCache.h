#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>

#include <functional>

class QPainter;

namespace Quillmark {

// Pictures of the annotations of an image with many of them, kept between
// repaints so that hovering, the crosshair and editing one annotation do not
// redraw thousands.
//
// The full picture shows every annotation unselected, in list order. Around the
// selected annotation a patch replaces it: the pictures of the annotations
// below and above the selected one within a rectangle that holds it, with the
// selected annotation drawn live between them. Only what changed is redrawn:
// a selection change rebuilds the patch, and an edit redraws the rectangles of
// the changed annotations in the full picture, each with just the annotations
// that reach into it. A patch that would cover most of the view covers all of
// it, so dragging a large shape never rebuilds anything until it is let go.
// While panning the pictures are shifted, and redrawn once the view comes to
// rest.
class AnnotationLayerCache {
public:
    // Everything besides the annotations that decides what the pictures look like.
    struct Key {
        QSize size;
        qreal devicePixelRatio = 1;
        ViewTransform view;
        bool showLabels = true;
        QFont font;
        QMap<QString, QColor> classColors;

        // Equal but for the view's offset.
        bool sameLook(const Key &other) const;
    };

    struct Painting {
        // Draws the annotation unselected with the painter.
        std::function<void(QPainter &painter, const Annotation &annotation)> draw;
        // Screen rectangle of everything drawn for the annotation, at the key's view.
        std::function<QRectF(const Annotation &annotation, bool selected)> footprint;
    };

    // Brings the pictures up to date for the list, the selected index (-1 for
    // none) and the key. `panning` allows showing shifted pictures instead.
    void update(const Key &key, const QList<Annotation> &labels, int selected, bool panning, const Painting &painting);
    // Paints the pictures for the view offset `offset`; `drawSelected` draws the
    // selected annotation at its place in the order.
    void paint(QPainter &painter, const QPointF &offset, const std::function<void(QPainter &)> &drawSelected) const;
    void clear();

    // Annotations drawn into pictures since the cache was created.
    qint64 drawnCount() const { return drawn; }

private:
    // The pictures below and above the selected annotation, within `rect`.
    // They are as large as the view and drawn without any shift, so that every
    // pixel comes out exactly as in the full picture; only `rect` is painted.
    struct Patch {
        bool valid = false;
        int index = -1;
        QRect rect;    // in the pictures' screen coordinates
        QRect painted; // what the images hold, cleared before the next use
        QImage below;
        QImage above;
    };

    QImage blankLayer(const QSize &size) const;
    QRect layerRect() const { return QRect(QPoint(0, 0), key.size); }
    void rebuildAll(const QList<Annotation> &labels, const Painting &painting);
    // Brings `shown` and the full picture to `labels`, but for the selected
    // annotation, which the patch covers.
    void sync(const QList<Annotation> &labels, int selected, const Painting &painting);
    void redrawRegion(const QRect &region, const Painting &painting);
    void drawOnTop(int from, const Painting &painting);
    void ensurePatch(const QList<Annotation> &labels, int selected, const Painting &painting);
    void drawRange(QPainter &painter, const QRect &clip, int from, int to, const Painting &painting);
    void renderPatch(const QRect &rect, int selected, const Painting &painting);
    void dropPatch();

    bool valid = false;
    Key key;
    QList<Annotation> shown; // what the full picture shows
    QImage full;
    Patch patch;
    qint64 drawn = 0;
};

} // namespace Quillmark
