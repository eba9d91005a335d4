#include "canvas/AnnotationGeometry.h"

#include <algorithm>

namespace Quillmark {

QRectF AnnotationGeometry::pointBounds(const QList<QPointF> &points)
{
    if (points.isEmpty())
        return {};
    double left = points.first().x();
    double right = left;
    double top = points.first().y();
    double bottom = top;
    for (const QPointF &p : points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

int AnnotationGeometry::visibilityAt(const Annotation &annotation, int index)
{
    if (index >= 0 && index < annotation.keypointVis.size())
        return annotation.keypointVis.at(index);
    return 2;
}

QRectF AnnotationGeometry::keypointBounds(const Annotation &annotation)
{
    QList<QPointF> labelled;
    labelled.reserve(annotation.points.size());
    for (int i = 0; i < annotation.points.size(); ++i) {
        if (visibilityAt(annotation, i) > 0)
            labelled.append(annotation.points.at(i));
    }
    return pointBounds(labelled.isEmpty() ? annotation.points : labelled);
}

QRectF AnnotationGeometry::shapeBounds(const Annotation &annotation)
{
    if (annotation.kind == Keypoint)
        return keypointBounds(annotation);
    return pointBounds(annotation.points);
}

} // namespace Quillmark
