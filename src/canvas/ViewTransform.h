#pragma once

#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>

namespace Quillmark {

// The canvas view: screen = image x scale + offset, applied point by point.
struct ViewTransform {
    float scale = 1.0f;
    QPointF offset;

    QPointF toScreen(const QPointF &image) const { return image * double(scale) + offset; }
    QPointF toImage(const QPointF &screen) const { return (screen - offset) / double(scale); }

    // A rectangle by its mapped top-left and bottom-right corners, normalised.
    QRectF toScreen(const QRectF &image) const
    {
        return QRectF(toScreen(image.topLeft()), toScreen(image.bottomRight())).normalized();
    }

    QPolygonF toScreen(const QList<QPointF> &image) const
    {
        QPolygonF screen;
        screen.reserve(image.size());
        for (const QPointF &p : image)
            screen.append(toScreen(p));
        return screen;
    }
};

} // namespace Quillmark
