#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMap>
#include <QSize>

#include <functional>

class QPainter;

namespace Quillmark {

// Pictures of the annotations below and above the selected one, kept between
// repaints of an image with many annotations. Hovering, the crosshair and
// dragging the selected annotation then repaint only the selected shape; the
// pictures are redrawn when anything else they show changes. While panning they
// are shifted instead of redrawn, and redrawn once the view comes to rest.
class AnnotationLayerCache {
public:
    // Everything besides the annotations that decides what the pictures look like.
    struct Key {
        QSize size;
        qreal devicePixelRatio = 1;
        ViewTransform view;
        bool showLabels = true;
        QFont font;
        int selected = -1;
        QMap<QString, QColor> classColors;

        bool sameLook(const Key &other) const;
    };

    // Draws annotations [from, to) of the list with the painter.
    using DrawRange = std::function<void(QPainter &painter, int from, int to)>;

    // True when the pictures show exactly this list for this key.
    bool isCurrent(const Key &key, const QList<Annotation> &labels) const;
    // True when the pictures show this list and differ from the key only by a
    // shift of the view.
    bool isShiftOf(const Key &key, const QList<Annotation> &labels) const;
    void rebuild(const Key &key, const QList<Annotation> &labels, const DrawRange &draw);
    void clear();

    // Draw the pictures for the view offset `offset`.
    void paintBelow(QPainter &painter, const QPointF &offset) const;
    void paintAbove(QPainter &painter, const QPointF &offset) const;

private:
    bool showsList(const QList<Annotation> &labels, int selected) const;
    QImage blankLayer() const;

    bool valid = false;
    Key key;
    QList<Annotation> labels;
    QImage below;
    QImage above;
};

} // namespace Quillmark
