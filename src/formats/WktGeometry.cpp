#include "formats/WktGeometry.h"

#include "formats/SafeRead.h"

#include <QStringList>

#include <cctype>
#include <cmath>
#include <limits>

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
// that fold to ASCII ones (long s, Kelvin sign) count as letters too. An "e"
// or "E" between a number's digits and its exponent's digits is kept.
bool isWordOrParenthesis(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || u == u'(' || u == u')' || u == 0x017F
        || u == 0x212A;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool startsExponent(const QString &text, qsizetype at, const QByteArray &piece)
{
    const QChar c = text.at(at);
    if (c != QLatin1Char('e') && c != QLatin1Char('E'))
        return false;
    if (piece.isEmpty() || !(std::isdigit(uchar(piece.back())) || piece.back() == '.'))
        return false;
    qsizetype next = at + 1;
    if (next < text.size() && (text.at(next) == QLatin1Char('+') || text.at(next) == QLatin1Char('-')))
        ++next;
    return next < text.size() && isDigit(text.at(next));
}

// A piece that is no number counts as 0; one too large for a double as
// infinity, so that its shape is dropped rather than kept at 0.
double pieceValue(const QByteArray &piece)
{
    double value = 0.0;
    switch (readDecimal(QByteArrayView(piece), &value)) {
    case NumberText::Valid:
        return value;
    case NumberText::OutOfRange:
        return piece.startsWith('-') ? -std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::infinity();
    case NumberText::Invalid:
        break;
    }
    return 0.0;
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
    return QStringLiteral("quillmark:box");
}

QString legacyBoxAttribute()
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
    // One pass, without copies of the text: a part ends at a comma, a piece
    // at a blank; each part gives a point from its first two pieces.
    QList<QPointF> points;
    QByteArray piece;
    double coordinates[2] = {0.0, 0.0};
    int pieces = 0;
    auto endPiece = [&] {
        if (piece.isEmpty())
            return;
        if (pieces < 2)
            coordinates[pieces] = pieceValue(piece);
        ++pieces;
        piece.clear();
    };
    auto endPart = [&] {
        endPiece();
        if (pieces >= 2)
            points.append(QPointF(coordinates[0], coordinates[1]));
        pieces = 0;
    };
    for (qsizetype i = 0; i < geometry.size(); ++i) {
        const QChar c = geometry.at(i);
        if (c == QLatin1Char(','))
            endPart();
        else if (c.isSpace())
            endPiece();
        else if (startsExponent(geometry, i, piece))
            piece.append('e');
        else if (isWordOrParenthesis(c))
            continue;
        else if (c.unicode() < 0x80)
            piece.append(char(c.unicode()));
        else
            piece.append('?'); // no number
    }
    endPart();
    return points;
}

} // namespace Quillmark
