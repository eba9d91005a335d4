#include "formats/WktGeometry.h"

#include <QStringList>

#include <cmath>

namespace Quillmark {

namespace {

QString joinedCoordinates(const QList<QPointF> &points)
{
    QStringList parts;
    parts.reserve(points.size());
    for (const QPointF &p : points)
        parts.append(wktCoordinate(p.x(), p.y()));
    return parts.join(QStringLiteral(", "));
}

// Letters (of either case) and parentheses are dropped: what is left of any
// of the forms above is numbers, blanks and commas. The two non-ASCII letters
// that fold to ASCII ones (long s, Kelvin sign) count as letters too.
bool isWordOrParenthesis(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || u == u'(' || u == u')' || u == 0x017F
        || u == 0x212A;
}

double numberOrZero(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString boxRing(const QRectF &box)
{
    const double x = box.x();
    const double y = box.y();
    const double r = x + box.width();
    const double b = y + box.height();
    return wktPolygon({QPointF(x, y), QPointF(r, y), QPointF(r, b), QPointF(x, b)});
}

QString pointGeometry(const Annotation &annotation)
{
    QPointF point;
    if (!annotation.points.isEmpty())
        point = annotation.points.first();
    else if (annotation.bbox.width() > 0 && annotation.bbox.height() > 0)
        point = annotation.bbox.center();
    else
        return QString();
    return QStringLiteral("POINT (") + wktCoordinate(point.x(), point.y()) + QLatin1Char(')');
}

} // namespace

bool keepsBoxInAttributes(int kind)
{
    return kind == Polygon || kind == Polyline || kind == Keypoint;
}

QString boxAttribute()
{
    return QStringLiteral("bbox");
}

QString wktGeometryType(int kind)
{
    switch (kind) {
    case Polygon:
        return QStringLiteral("POLYGON");
    case Polyline:
        return QStringLiteral("POLYLINE");
    case Point:
        return QStringLiteral("POINT");
    case Keypoint:
        return QStringLiteral("KEYPOINT");
    default:
        return QStringLiteral("BBOX");
    }
}

QString annotationToWkt(const Annotation &annotation)
{
    switch (annotation.kind) {
    case BoundingBox:
        return boxRing(annotation.bbox);
    case Polygon:
        return wktPolygon(annotation.points);
    case Polyline:
        return wktLineString(annotation.points);
    case Point:
        return pointGeometry(annotation);
    case Keypoint:
        return wktMultiPoint(annotation.points);
    default:
        return QString();
    }
}

QString wktPolygon(const QList<QPointF> &ring)
{
    if (ring.isEmpty())
        return QString();
    QString text = QStringLiteral("POLYGON ((") + joinedCoordinates(ring);
    // QPointF's == is the fuzzy comparison, so a ring closed up to rounding
    // noise is not closed twice.
    if (!(ring.last() == ring.first()))
        text += QStringLiteral(", ") + wktCoordinate(ring.first().x(), ring.first().y());
    return text + QStringLiteral("))");
}

QString wktLineString(const QList<QPointF> &points)
{
    return QStringLiteral("LINESTRING (") + joinedCoordinates(points) + QLatin1Char(')');
}

QString wktMultiPoint(const QList<QPointF> &points)
{
    QStringList parts;
    parts.reserve(points.size());
    for (const QPointF &p : points)
        parts.append(QLatin1Char('(') + wktCoordinate(p.x(), p.y()) + QLatin1Char(')'));
    return QStringLiteral("MULTIPOINT (") + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString wktCoordinate(double x, double y)
{
    return QString::number(x, 'f', 4) + QLatin1Char(' ') + QString::number(y, 'f', 4);
}

QList<QPointF> parseWktPoints(const QString &geometry)
{
    QList<QPointF> points;
    if (geometry.isEmpty())
        return points;
    QString text;
    text.reserve(geometry.size());
    for (const QChar c : geometry) {
        if (!isWordOrParenthesis(c))
            text.append(c);
    }
    text = text.simplified();
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QStringList pieces = part.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (pieces.size() < 2)
            continue;
        points.append(QPointF(numberOrZero(pieces.at(0)), numberOrZero(pieces.at(1))));
    }
    return points;
}

} // namespace Quillmark
