#pragma once

#include "model/Annotation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Quillmark {

// The one rule for numbers read from files. Confidences and frame rates are
// kept in single precision, and the writers put geometry out in single
// precision too, so a value that single precision cannot hold (beyond about
// 3.4e38, infinite or NaN) is no valid number: a scalar that has a default
// takes its default, and a shape with such a coordinate is dropped. It is
// never stored as infinity, and never read as 0 while the shape is kept.

inline bool fitsFloat(double value)
{
    return std::isfinite(value) && std::fabs(value) <= double(std::numeric_limits<float>::max());
}

// `value` in single precision, or `fallback` when it does not fit.
inline float floatOrDefault(double value, float fallback)
{
    return fitsFloat(value) ? float(value) : fallback;
}

// Whether every coordinate of the annotation, and the size of its box, fit.
inline bool geometryFitsFloat(const Annotation &annotation)
{
    const QRectF &box = annotation.bbox;
    if (!fitsFloat(box.x()) || !fitsFloat(box.y()) || !fitsFloat(box.width()) || !fitsFloat(box.height()))
        return false;
    return std::all_of(annotation.points.cbegin(), annotation.points.cend(),
                       [](const QPointF &p) { return fitsFloat(p.x()) && fitsFloat(p.y()); });
}

} // namespace Quillmark
