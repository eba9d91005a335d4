#pragma once

#include <QPointF>
#include <QRectF>

namespace Quillmark {

// A map of picture coordinates that shifts and scales along the axes, as
// moving an object or dragging the handles of its box does:
// p -> (p - from) * scale + to, axis by axis. A negative scale mirrors.
struct AxisMap {
    QPointF from;
    QPointF to;
    double sx = 1.0;
    double sy = 1.0;

    // The shift by `d`.
    static AxisMap shift(const QPointF &d);
    // The map that takes the corners of `from` onto those of `to` (either may
    // be flipped: a negative width or height). An axis on which `from` has no
    // extent is only shifted.
    static AxisMap between(const QRectF &from, const QRectF &to);

    QPointF map(const QPointF &p) const { return QPointF((p.x() - from.x()) * sx + to.x(), (p.y() - from.y()) * sy + to.y()); }
    // The rectangle through its mapped corners, normalised.
    QRectF map(const QRectF &r) const { return QRectF(map(r.topLeft()), map(r.bottomRight())).normalized(); }
    // How areas change under the map.
    double areaFactor() const;
    bool isShift() const { return sx == 1.0 && sy == 1.0; }
};

} // namespace Quillmark
