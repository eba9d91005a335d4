#include "formats/AxisMap.h"

#include <cmath>

namespace Quillmark {

AxisMap AxisMap::shift(const QPointF &d)
{
    AxisMap m;
    m.to = d;
    return m;
}

AxisMap AxisMap::between(const QRectF &from, const QRectF &to)
{
    AxisMap m;
    m.from = from.topLeft();
    m.to = to.topLeft();
    m.sx = from.width() != 0.0 ? to.width() / from.width() : 1.0;
    m.sy = from.height() != 0.0 ? to.height() / from.height() : 1.0;
    return m;
}

double AxisMap::areaFactor() const
{
    return std::abs(sx * sy);
}

} // namespace Quillmark
