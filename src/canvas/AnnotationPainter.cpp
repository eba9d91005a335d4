#include "canvas/AnnotationPainter.h"

#include "canvas/AnnotationGeometry.h"
#include "canvas/CanvasHitTest.h"
#include "canvas/ClassTagCache.h"
#include "canvas/KeypointStyle.h"
#include "canvas/KeypointTray.h"
#include "canvas/RegionMaskCache.h"
#include "formats/AnnotationGeometry.h"
#include "model/GeometryAttributes.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace Quillmark {

namespace {

const QColor handleBlue("#4d9fff");
const QColor selectedOrange("#ff9800");
const QColor highlightYellow("#ffc03e");
const QColor insertGreen("#2ecc71");

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

QPen cosmeticPen(const QColor &color, double width)
{
    QPen pen(color, width);
    pen.setCosmetic(true);
    return pen;
}

void drawCircle(QPainter &p, const QPointF &centre, double radius)
{
    p.drawEllipse(centre, radius, radius);
}

// Bounding rectangle of the points; a rectangle of NaN when any coordinate is not
// finite, which the viewport test then rejects.
QRectF screenBounds(const QPolygonF &points)
{
    for (const QPointF &p : points) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            return QRectF(qQNaN(), qQNaN(), 0, 0);
    }
    return points.boundingRect();
}

// Bounding rectangle of the keypoints that are shown.
QRectF shownBounds(const QPolygonF &positions)
{
    QPolygonF shown;
    shown.reserve(positions.size());
    for (const QPointF &p : positions) {
        if (KeypointTray::isShown(p))
            shown.append(p);
    }
    return shown.isEmpty() ? QRectF(qQNaN(), qQNaN(), 0, 0) : shown.boundingRect();
}

} // namespace

AnnotationPainter::AnnotationPainter(QPainter &painter, const ViewTransform &view, const QFont &baseFont,
                                     bool showLabels, ClassTagCache *tags, RegionMaskCache *masks)
    : painter(painter), view(view), showLabels(showLabels), tags(tags), masks(masks), tagFont(baseFont),
      numberFont(baseFont)
{
    tagFont.setPointSizeF(8.5);
    tagFont.setWeight(QFont::Bold);
    tagLineHeight = QFontMetricsF(tagFont).height();
    numberFont.setPointSizeF(7);
}

bool AnnotationPainter::touchesViewport(const QRectF &r, double margin) const
{
    // Coordinates that are not finite (from a damaged file) are never drawn.
    if (!std::isfinite(r.left()) || !std::isfinite(r.top()) || !std::isfinite(r.right()) ||
        !std::isfinite(r.bottom()))
        return false;
    if (viewport.isNull())
        return true;
    return r.left() - margin <= viewport.right() && r.right() + margin >= viewport.left() &&
           r.top() - margin <= viewport.bottom() && r.bottom() + margin >= viewport.top();
}

void AnnotationPainter::drawClassTag(const QString &name, const QColor &color, const QPointF &anchor)
{
    const ClassTagCache::Tag *tag = tags ? &tags->tag(name, tagFont) : nullptr;
    const double advance = tag ? tag->advance : QFontMetricsF(tagFont).horizontalAdvance(name);
    const QRectF box(anchor.x(), anchor.y() - 18, advance + 10, 17);
    if (!touchesViewport(box, 0))
        return;
    painter.fillRect(box, withAlpha(color, 200));
    painter.setFont(tagFont);
    painter.setPen(Qt::white);
    if (tag) {
        // Left-aligned, centred vertically in the box.
        painter.drawStaticText(QPointF(box.left() + 4, box.top() + (box.height() - tagLineHeight) / 2), tag->text);
        return;
    }
    painter.drawText(box.adjusted(4, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, name);
}

QString AnnotationPainter::tagText(const Annotation &a)
{
    if (!isCrowdRegion(a))
        return a.className;
    return QStringLiteral("%1 (crowd)").arg(a.className);
}

// A crowd region's mask, in the class colour as a polygon is filled. False
// when the annotation carries no mask that reads: it is drawn as what its kind is.
bool AnnotationPainter::drawRegionMask(const Annotation &a, const QColor &color, bool selected)
{
    if (!masks)
        return false;
    const RegionMaskCache::Picture *picture = masks->picture(a, color);
    if (!picture)
        return false;
    const QRectF target = view.toScreen(QRectF(picture->bounds));
    if (!touchesViewport(target, 1))
        return true;
    painter.save();
    painter.setOpacity((selected ? 115 : 90) / 255.0);
    painter.drawImage(target, picture->image, QRectF(picture->image.rect()));
    painter.restore();
    return true;
}

void AnnotationPainter::drawBox(const Annotation &a, const QColor &color, bool selected)
{
    drawBox(a, color, selected, Selection());
}

void AnnotationPainter::drawBox(const Annotation &a, const QColor &color, bool selected, const Selection &selection)
{
    const QRectF r = view.toScreen(a.bbox);
    // A crowd region shows its mask, and its box as the mask's frame.
    const bool region = drawRegionMask(a, color, selected);
    if (touchesViewport(r, 8)) {
        QPen pen = cosmeticPen(color, selected ? 2.0 : 1.5);
        if (region)
            pen.setStyle(Qt::DashLine);
        painter.setBrush(region ? QBrush(Qt::NoBrush) : QBrush(withAlpha(color, selected ? 55 : 30)));
        painter.setPen(pen);
        painter.drawRect(r);
    }
    if (showLabels)
        drawClassTag(tagText(a), color, r.topLeft());
    if (selection.handleFrame)
        drawHandles(view.toScreen(*selection.handleFrame));
}

void AnnotationPainter::drawHandles(const QRectF &r)
{
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(handleBlue);
    for (int handle = 1; handle <= 8; ++handle) {
        const QPointF c = CanvasHitTest::handlePoint(r, handle);
        painter.drawRect(QRectF(c.x() - 4, c.y() - 4, 8, 8));
    }
}

// The handles of a shape's frame: hollow, so that they are not taken for its
// vertices, on a dashed frame that says what they resize.
void AnnotationPainter::drawFrameHandles(const QRectF &r, const QColor &color)
{
    QPen dashed(color, 1);
    dashed.setStyle(Qt::DashLine);
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);
    painter.setPen(QPen(handleBlue, 1.5));
    painter.setBrush(Qt::white);
    for (int handle = 1; handle <= 8; ++handle) {
        const QPointF c = CanvasHitTest::handlePoint(r, handle);
        painter.drawRect(QRectF(c.x() - 4, c.y() - 4, 8, 8));
    }
}

void AnnotationPainter::drawPolygon(const Annotation &a, const QColor &color, bool selected,
                                    const Selection &selection)
{
    if (a.points.size() <= 1)
        return;
    const QPolygonF outline = view.toScreen(a.points);
    // Every part of an object of several, the outline among them.
    const QList<QList<QPointF>> parts =
        a.attributes.contains(GeometryAttribute::Parts) ? objectParts(a) : QList<QList<QPointF>>();
    painter.setBrush(withAlpha(color, selected ? 115 : 90));
    painter.setPen(cosmeticPen(color, selected ? 2.5 : 2.0));
    QRectF bounds;
    const auto drawPart = [&](const QPolygonF &screen) {
        const QRectF partBounds = screenBounds(screen);
        bounds = bounds.isNull() ? partBounds : bounds.united(partBounds);
        if (touchesViewport(partBounds, 8))
            painter.drawPolygon(screen, Qt::OddEvenFill);
    };
    if (parts.size() > 1) {
        for (const QList<QPointF> &part : parts)
            drawPart(view.toScreen(part));
    } else {
        drawPart(outline);
    }
    if (showLabels)
        drawClassTag(tagText(a), color, bounds.topLeft());
    if (!selected)
        return;
    if (selection.handleFrame)
        drawFrameHandles(view.toScreen(*selection.handleFrame), color);
    drawVertexSquares(outline, selection.vertex);
    if (selection.hoverEdge >= 0)
        drawInsertionMarker(view.toScreen(selection.hoverEdgePoint));
}

void AnnotationPainter::drawVertexSquares(const QPolygonF &screen, int selectedVertex)
{
    for (int i = 0; i < screen.size(); ++i) {
        const bool isSelected = (i == selectedVertex);
        painter.setPen(QPen(Qt::white, isSelected ? 1.5 : 1.0));
        painter.setBrush(isSelected ? selectedOrange : handleBlue);
        const QPointF c = screen.at(i);
        painter.drawRect(QRectF(c.x() - 4, c.y() - 4, 8, 8));
    }
}

void AnnotationPainter::drawInsertionMarker(const QPointF &c)
{
    const double r = 5.5;
    const QPolygonF diamond{{c.x(), c.y() - r}, {c.x() + r, c.y()}, {c.x(), c.y() + r}, {c.x() - r, c.y()}};
    painter.setPen(QPen(Qt::white, 1.2));
    painter.setBrush(insertGreen);
    painter.drawPolygon(diamond);
}

void AnnotationPainter::drawKeypoints(const Annotation &a, const QColor &color, bool selected,
                                      const Selection &selection)
{
    if (a.points.isEmpty())
        return;
    // A set with a damaged coordinate (from a damaged file) is not drawn.
    for (int i = 0; i < a.points.size(); ++i) {
        const QPointF &p = a.points.at(i);
        if (AnnotationGeometry::isLabelled(a, i) && (!std::isfinite(p.x()) || !std::isfinite(p.y())))
            return;
    }
    drawRegionMask(a, color, selected);
    const bool boxValid = a.bbox.isValid();
    if (selection.handleFrame) {
        drawFrameHandles(view.toScreen(*selection.handleFrame), color);
    } else if (selected && boxValid) {
        painter.setBrush(Qt::NoBrush);
        QPen dashed(color, 1);
        dashed.setStyle(Qt::DashLine);
        painter.setPen(dashed);
        painter.drawRect(view.toScreen(a.bbox));
    }
    // Unlabelled keypoints are shown only for the selected set, in its tray.
    const QPolygonF screen = KeypointTray::screenPositions(a, view, selected);
    // Dots with their rings and numbers reach 16 pixels beyond the points.
    if (touchesViewport(shownBounds(screen), 16)) {
        drawSkeleton(a, screen, color);
        for (int i = 0; i < screen.size(); ++i) {
            if (KeypointTray::isShown(screen.at(i)))
                drawKeypointDot(a, i, screen.at(i), selected, selection);
        }
    }
    if (showLabels && boxValid)
        drawClassTag(tagText(a), color, view.toScreen(a.bbox.topLeft()));
}

void AnnotationPainter::drawSkeleton(const Annotation &a, const QPolygonF &screen, const QColor &color)
{
    const int n = screen.size();
    auto bothVisible = [&](int i, int j) {
        return AnnotationGeometry::visibilityAt(a, i) > 0 && AnnotationGeometry::visibilityAt(a, j) > 0;
    };
    if (n == KeypointStyle::BodyPointCount) {
        for (const auto &[i, j] : KeypointStyle::bodyEdges()) {
            if (i >= n || j >= n || !bothVisible(i, j))
                continue;
            painter.setPen(QPen(KeypointStyle::bodyEdgeColor(i, j), 1.8));
            painter.drawLine(screen.at(i), screen.at(j));
        }
        return;
    }
    if (n == KeypointStyle::HandPointCount) {
        for (const auto &[i, j] : KeypointStyle::handEdges()) {
            if (!bothVisible(i, j))
                continue;
            QColor c = KeypointStyle::fingerColor(KeypointStyle::fingerOf(std::max(i, j)));
            c.setAlpha(200);
            painter.setPen(QPen(c, 1.8));
            painter.drawLine(screen.at(i), screen.at(j));
        }
        return;
    }
    painter.setPen(QPen(color.lighter(150), 1.5));
    for (int i = 0; i + 1 < n; ++i) {
        if (bothVisible(i, i + 1))
            painter.drawLine(screen.at(i), screen.at(i + 1));
    }
}

void AnnotationPainter::drawKeypointDot(const Annotation &a, int index, const QPointF &at, bool selected,
                                        const Selection &selection)
{
    const int n = a.points.size();
    const KeypointStyle::Dot dot =
        KeypointStyle::dotFor(n, index, AnnotationGeometry::visibilityAt(a, index));
    if (selected) {
        painter.setBrush(Qt::NoBrush);
        if (index == selection.vertex) {
            painter.setPen(QPen(selectedOrange, 2.5));
            drawCircle(painter, at, dot.radius + 7);
        }
        if (index == selection.highlightedKeypoint) {
            painter.setPen(QPen(highlightYellow, 2));
            drawCircle(painter, at, dot.radius + 5);
        }
        painter.setPen(QPen(Qt::white, 1.5));
        drawCircle(painter, at, dot.radius + 2.5);
    }
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(dot.color);
    drawCircle(painter, at, dot.radius);
    if (n == KeypointStyle::BodyPointCount || n == KeypointStyle::HandPointCount)
        return;
    painter.setFont(numberFont);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(at.x() - 8, at.y() - 8, 16, 16), Qt::AlignCenter, QString::number(index + 1));
}

} // namespace Quillmark
