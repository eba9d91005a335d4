#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QPointF>
#include <QRectF>

namespace Quillmark {

// Geometry rules shared by the canvas's tools: the box that follows a shape's
// points, and the visibility of a keypoint.
class AnnotationGeometry {
public:
    // Bounding rectangle of the points; a null rectangle for none.
    static QRectF pointBounds(const QList<QPointF> &points);

    // Visibility of keypoint `index`: the stored value, or 2 (visible) when the
    // list stops before it.
    static int visibilityAt(const Annotation &annotation, int index);

    // The box of a keypoint set: the bounds of its labelled points (visibility
    // above 0), of all points when none is labelled. Unlabelled points are often
    // stored at the origin, which would otherwise stretch the box there.
    static QRectF keypointBounds(const Annotation &annotation);

    // The box that follows the annotation's points after an edit: keypoint
    // bounds for keypoint sets, plain point bounds for every other kind.
    static QRectF shapeBounds(const Annotation &annotation);
};

} // namespace Quillmark
