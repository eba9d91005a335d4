#include "canvas/AnnotationFootprint.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/AnnotationPainter.h"
#include "canvas/ClassTagCache.h"
#include "canvas/KeypointTray.h"
#include "canvas/RegionMaskCache.h"
#include "formats/AnnotationGeometry.h"

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
constexpr double HandleReach = 7.0;

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
                                         ClassTagCache *tags, RegionMaskCache *masks)
    : view(view), showLabels(showLabels), tags(tags), masks(masks), tagFont(baseFont)
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

QRectF AnnotationFootprint::shapeOf(const Annotation &a, bool selected, QRectF *tag) const
{
    switch (a.kind) {
    case BoundingBox: {
        const QRectF r = view.toScreen(a.bbox);
        *tag = tagRect(AnnotationPainter::tagText(a), r.topLeft());
        return grown(r, BoxReach);
    }
    case Polygon: {
        if (a.points.size() <= 1)
            return {};
        // Selected, its handles sit on the same bounds.
        const QRectF bounds = view.toScreen(objectPartsBounds(a));
        *tag = tagRect(AnnotationPainter::tagText(a), bounds.topLeft());
        return grown(bounds, selected ? SelectedPolygonReach : PolygonReach);
    }
    case Keypoint: {
        if (a.points.isEmpty())
            return {};
        QRectF shape;
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
                shape = shape.isNull() ? grown(box, HandleReach) : shape.united(grown(box, HandleReach));
            *tag = tagRect(AnnotationPainter::tagText(a), box.topLeft());
        }
        return shape;
    }
    default:
        return {};
    }
}

QRectF AnnotationFootprint::of(const Annotation &a, bool selected) const
{
    QRectF tag;
    QRectF shape = shapeOf(a, selected, &tag);
    if (masks && a.kind != Polygon) {
        const QRect mask = masks->bounds(a);
        if (!mask.isEmpty()) {
            const QRectF region = grown(view.toScreen(QRectF(mask)), 1);
            shape = shape.isNull() ? region : shape.united(region);
        }
    }
    if (!finite(shape) || !finite(tag))
        return {};
    if (tag.isNull())
        return shape;
    return shape.isNull() ? tag : shape.united(tag);
}

} // namespace Quillmark
