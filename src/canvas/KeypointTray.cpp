#include "canvas/KeypointTray.h"

#include "canvas/AnnotationGeometry.h"

#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

// Bottom-left corner of the row's anchor on the screen: the set's box, else the
// bounds of its labelled keypoints, else the image origin.
QPointF trayAnchor(const Annotation &set, const ViewTransform &view)
{
    if (AnnotationGeometry::hasObjectBox(set))
        return view.toScreen(set.bbox).bottomLeft();
    if (const auto labelled = AnnotationGeometry::labelledBounds(set))
        return view.toScreen(*labelled).bottomLeft();
    return view.toScreen(QPointF(0, 0));
}

} // namespace

QPolygonF KeypointTray::screenPositions(const Annotation &set, const ViewTransform &view, bool withTray)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QPolygonF positions;
    positions.reserve(set.points.size());
    const QPointF anchor = withTray ? trayAnchor(set, view) : QPointF();
    int slot = 0;
    for (int i = 0; i < set.points.size(); ++i) {
        if (AnnotationGeometry::isLabelled(set, i))
            positions.append(view.toScreen(set.points.at(i)));
        else if (withTray)
            positions.append(anchor + QPointF(Indent + Spacing * slot++, Gap));
        else
            positions.append(QPointF(nan, nan));
    }
    return positions;
}

bool KeypointTray::isShown(const QPointF &screen)
{
    return std::isfinite(screen.x()) && std::isfinite(screen.y());
}

} // namespace Quillmark
