#include "canvas/AnnotationFootprint.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/ClassTagCache.h"
#include "canvas/KeypointTray.h"

#include <QFontMetricsF>
#include <QPolygonF>

#include <cmath>

namespace Quillmark {

namespace {

// How far the drawing reaches beyond the mapped shape, antialiasing included:
// 8-pixel handles and vertex squares with their pens; the edge-insertion
// marker, which sits on the cursor up to 7 pixels off an edge; keypoint dots of
// radius 5.5 with a selection ring 7 further out and numbers in 16-pixel boxes.
constexpr double BoxReach = 7.0;
constexpr double PolygonReach = 7.0;
constexpr double SelectedPolygonReach = 16.0;
constexpr double KeypointReach = 18.0;

bool finite(const QRectF &r)
{
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) && std::isfinite(r.bottom());
}

QRectF grown(const QRectF &r, double by)
{
    return r.adjusted(-by, -by, by, by);
}

} // namespace

AnnotationFootprint::AnnotationFootprint(const ViewTransform &view, const QFont &baseFont, bool showLabels,
                                         ClassTagCache *tags)
    : view(view), showLabels(showLabels), tags(tags), tagFont(baseFont)
{
    tagFont.setPointSizeF(8.5);
    tagFont.setWeight(QFont::Bold);
}

QRectF AnnotationFootprint::tagRect(const QString &name, const QPointF &anchor) const
{
    if (!showLabels)
        return {};
    const double advance = tags ? tags->tag(name, tagFont).advance : QFontMetricsF(tagFont).horizontalAdvance(name);
    return grown(QRectF(anchor.x(), anchor.y() - 18, advance + 10, 17), 2);
}

QRectF AnnotationFootprint::of(const Annotation &a, bool selected) const
{
    QRectF shape;
    QRectF tag;
    switch (a.kind) {
    case BoundingBox: {
        const QRectF r = view.toScreen(a.bbox);
        shape = grown(r, BoxReach);
        tag = tagRect(a.className, r.topLeft());
        break;
    }
    case Polygon: {
        if (a.points.size() <= 1)
            return {};
        const QRectF bounds = view.toScreen(a.points).boundingRect();
        shape = grown(bounds, selected ? SelectedPolygonReach : PolygonReach);
        tag = tagRect(a.className, bounds.topLeft());
        break;
    }
    case Keypoint: {
        if (a.points.isEmpty())
            return {};
        QPolygonF shown;
        for (const QPointF &p : KeypointTray::screenPositions(a, view, selected)) {
            if (KeypointTray::isShown(p))
                shown.append(p);
        }
        if (!shown.isEmpty())
            shape = grown(shown.boundingRect(), KeypointReach);
        if (a.bbox.isValid()) {
            const QRectF box = view.toScreen(a.bbox);
            if (selected)
                shape = shape.isNull() ? grown(box, 2) : shape.united(grown(box, 2));
            tag = tagRect(a.className, box.topLeft());
        }
        break;
    }
    default:
        return {};
    }
    if (!finite(shape) || !finite(tag))
        return {};
    if (tag.isNull())
        return shape;
    return shape.isNull() ? tag : shape.united(tag);
}

} // namespace Quillmark
