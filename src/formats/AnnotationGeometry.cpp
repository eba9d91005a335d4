#include "formats/AnnotationGeometry.h"

#include "model/AnnotationKind.h"
#include "model/FiniteNumber.h"
#include "model/GeometryAttributes.h"

#include <QHash>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

// A kept part, a flat list x0, y0, x1, y1, ..., as points; empty when it is no
// such list of at least three points that single precision holds.
QList<QPointF> keptPart(const QVariant &part)
{
    const QVariantList numbers = part.toList();
    if (numbers.size() < 6)
        return {};
    QList<QPointF> points;
    points.reserve(numbers.size() / 2);
    for (qsizetype i = 0; i + 1 < numbers.size(); i += 2) {
        bool xOk = false;
        bool yOk = false;
        const double x = numbers.at(i).toDouble(&xOk);
        const double y = numbers.at(i + 1).toDouble(&yOk);
        if (!xOk || !yOk || !fitsFloat(x) || !fitsFloat(y))
            return {};
        points.append(QPointF(x, y));
    }
    return points;
}

QVariantList flatPart(const QList<QPointF> &points)
{
    QVariantList flat;
    flat.reserve(points.size() * 2);
    for (const QPointF &p : points) {
        flat.append(p.x());
        flat.append(p.y());
    }
    return flat;
}

} // namespace

qsizetype setPolygonParts(Annotation &a, const QList<QList<QPointF>> &parts, QRectF *bounds)
{
    QVariantList kept;
    QRectF keptBounds;
    const QList<QPointF> *largest = nullptr;
    double largestArea = -1.0;
    for (const QList<QPointF> &part : parts) {
        if (part.size() < 3)
            continue;
        kept.append(QVariant(flatPart(part)));
        keptBounds = keptBounds.united(pointsBounds(part));
        const double partArea = outlineArea(part);
        if (partArea > largestArea) {
            largestArea = partArea;
            largest = &part;
        }
    }
    if (bounds)
        *bounds = keptBounds;
    if (!largest)
        return 0;
    a.kind = Polygon;
    a.points = *largest;
    if (kept.size() > 1)
        a.attributes.insert(GeometryAttribute::Parts, kept);
    return kept.size();
}

void joinGroupedPolygons(QList<Annotation> &annotations, const QList<qint64> &groups)
{
    // The members of each group, by the first of them.
    QHash<QPair<QString, qint64>, qsizetype> firstOfGroup;
    QHash<qsizetype, QList<qsizetype>> members;
    for (qsizetype i = 0; i < annotations.size() && i < groups.size(); ++i) {
        if (groups.at(i) < 0)
            continue;
        const QPair<QString, qint64> key{annotations.at(i).className, groups.at(i)};
        auto first = firstOfGroup.constFind(key);
        if (first == firstOfGroup.cend())
            first = firstOfGroup.insert(key, i);
        members[first.value()].append(i);
    }
    if (members.isEmpty())
        return;
    QList<bool> joined(annotations.size(), false);
    bool anyJoined = false;
    for (auto it = members.begin(); it != members.end(); ++it) {
        const QList<qsizetype> &group = it.value();
        if (group.size() < 2)
            continue;
        Annotation &object = annotations[it.key()];
        QList<QList<QPointF>> parts;
        for (const qsizetype i : group) {
            parts.append(annotations.at(i).points);
            const QVariantMap &attributes = annotations.at(i).attributes;
            for (auto a = attributes.cbegin(); a != attributes.cend(); ++a) {
                if (!object.attributes.contains(a.key()))
                    object.attributes.insert(a.key(), a.value());
            }
            if (i != it.key())
                joined[i] = anyJoined = true;
        }
        QRectF bounds;
        setPolygonParts(object, parts, &bounds);
        object.bbox = bounds;
    }
    if (!anyJoined)
        return;
    QList<Annotation> kept;
    kept.reserve(annotations.size());
    for (qsizetype i = 0; i < annotations.size(); ++i) {
        if (!joined.at(i))
            kept.append(std::move(annotations[i]));
    }
    annotations = std::move(kept);
}

QList<QList<QPointF>> objectParts(const Annotation &a)
{
    if (a.kind != Polygon || a.points.isEmpty())
        return {};
    const QVariantList stored = a.attributes.value(GeometryAttribute::Parts).toList();
    QList<QList<QPointF>> parts;
    bool outlineAmongThem = false;
    for (const QVariant &part : stored) {
        QList<QPointF> points = keptPart(part);
        if (points.isEmpty())
            continue;
        outlineAmongThem = outlineAmongThem || points == a.points;
        parts.append(std::move(points));
    }
    if (!outlineAmongThem || parts.size() < 2)
        return {a.points};
    return parts;
}

QRectF pointsBounds(const QList<QPointF> &points)
{
    if (points.isEmpty())
        return QRectF();
    double minX = points.first().x(), maxX = minX;
    double minY = points.first().y(), maxY = minY;
    for (const QPointF &p : points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

double outlineArea(const QList<QPointF> &points)
{
    double twice = 0.0;
    for (qsizetype i = 0, j = points.size() - 1; i < points.size(); j = i++)
        twice += points.at(j).x() * points.at(i).y() - points.at(i).x() * points.at(j).y();
    return std::abs(twice) / 2.0;
}

QRectF polygonObjectBox(const Annotation &a)
{
    const QList<QList<QPointF>> parts = objectParts(a);
    if (parts.size() < 2)
        return pointsBounds(a.points);
    QRectF bounds = pointsBounds(parts.first());
    for (const QList<QPointF> &part : parts)
        bounds = bounds.united(pointsBounds(part));
    // The object's own box as it came, unless it no longer holds its parts.
    const QRectF stored = a.bbox.normalized();
    const bool holdsParts = stored.width() > 0.0 && stored.height() > 0.0 &&
                            stored.adjusted(-0.5, -0.5, 0.5, 0.5).contains(bounds);
    return holdsParts ? stored : bounds;
}

bool isCrowdRegion(const Annotation &a)
{
    const QVariant flag = a.attributes.value(GeometryAttribute::Crowd);
    if (!flag.isValid() || flag.isNull())
        return false;
    if (flag.typeId() == QMetaType::Bool)
        return flag.toBool();
    bool number = false;
    const double value = flag.toDouble(&number);
    return number && value != 0.0;
}

QRectF keypointBounds(const Annotation &a)
{
    QPolygonF labelled;
    for (qsizetype i = 0; i < a.points.size(); ++i) {
        if (i >= a.keypointVis.size() || a.keypointVis.at(i) > 0)
            labelled.append(a.points.at(i));
    }
    if (!labelled.isEmpty())
        return labelled.boundingRect();
    const bool hasObjectBox = a.bbox.width() != 0 || a.bbox.height() != 0;
    return hasObjectBox ? a.bbox.normalized() : QPolygonF(a.points).boundingRect();
}

QRectF keypointSetBox(const Annotation &a)
{
    const QRectF stored = a.bbox.normalized();
    if (stored.width() > 0.0 && stored.height() > 0.0)
        return stored;
    return keypointBounds(a);
}

std::optional<QRectF> annotationBox(const Annotation &a)
{
    switch (a.kind) {
    case BoundingBox:
        return a.bbox.normalized();
    case Polygon:
        if (a.points.isEmpty())
            return std::nullopt;
        return polygonObjectBox(a);
    case Keypoint:
        if (a.points.isEmpty() && a.bbox.isNull())
            return std::nullopt;
        return keypointBounds(a);
    default:
        return std::nullopt;
    }
}

std::optional<QRectF> annotationBoxWithArea(const Annotation &a)
{
    const std::optional<QRectF> box = annotationBox(a);
    if (!box || !(box->width() > 0.0) || !(box->height() > 0.0))
        return std::nullopt;
    return box;
}

ImageEntry boxOnlyImage(const ImageEntry &image, QSize size)
{
    ImageEntry boxes;
    boxes.width = size.width();
    boxes.height = size.height();
    for (const Annotation &a : image.labels) {
        const std::optional<QRectF> box = annotationBoxWithArea(a);
        if (!box)
            continue;
        Annotation b;
        b.className = a.className;
        b.kind = BoundingBox;
        b.bbox = *box;
        boxes.labels.append(b);
    }
    return boxes;
}

namespace {

std::array<QPointF, 4> cornersOf(const QRectF &r)
{
    return {r.topLeft(), QPointF(r.right(), r.top()), r.bottomRight(), QPointF(r.left(), r.bottom())};
}

} // namespace

std::optional<std::array<QPointF, 4>> orientedBoxCorners(const Annotation &a)
{
    if (a.kind == BoundingBox)
        return cornersOf(a.bbox.normalized());
    if (a.kind != Polygon)
        return std::nullopt;
    if (objectParts(a).size() > 1)
        return cornersOf(polygonObjectBox(a));
    if (a.points.size() < 4)
        return std::nullopt;
    if (a.points.size() == 4)
        return std::array<QPointF, 4>{a.points.at(0), a.points.at(1), a.points.at(2), a.points.at(3)};
    return cornersOf(QPolygonF(a.points).boundingRect());
}

QList<QPointF> ellipseOutline(const QPointF &centre, double rx, double ry, double degrees)
{
    if (!(rx > 0.0) || !(ry > 0.0))
        return {centre};
    const double turn = degrees * M_PI / 180.0;
    const double c = std::cos(turn);
    const double s = std::sin(turn);
    QList<QPointF> outline;
    outline.reserve(kEllipseVertices);
    for (int i = 0; i < kEllipseVertices; ++i) {
        const double angle = 2.0 * M_PI * i / kEllipseVertices;
        const double x = rx * std::cos(angle);
        const double y = ry * std::sin(angle);
        outline.append(degrees == 0.0 ? centre + QPointF(x, y) : centre + QPointF(x * c - y * s, x * s + y * c));
    }
    return outline;
}

Annotation cornerBox(const QString &className, double x1, double y1, double x2, double y2)
{
    Annotation a;
    a.className = className;
    a.kind = BoundingBox;
    a.bbox = QRectF(QPointF(x1, y1), QPointF(x2, y2)).normalized();
    return a;
}

Annotation wholeImageLabel(const QString &className, int width, int height)
{
    Annotation a;
    a.className = className;
    a.kind = BoundingBox;
    const bool known = width >= 1 && height >= 1;
    a.bbox = known ? QRectF(0, 0, width, height) : QRectF(0, 0, 1, 1);
    return a;
}

int largestKeypointCount(const Dataset &dataset)
{
    int largest = 0;
    for (const ImageEntry &image : dataset.images) {
        for (const Annotation &a : image.labels) {
            if (a.kind == Keypoint)
                largest = std::max(largest, int(a.points.size()));
        }
    }
    return largest;
}

} // namespace Quillmark
