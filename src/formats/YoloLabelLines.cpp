#include "formats/YoloLabelLines.h"

#include "formats/AnnotationGeometry.h"
#include "formats/LabelLineFields.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "model/AnnotationKind.h"
#include "model/FiniteNumber.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

namespace Quillmark {

YoloClassIndex yoloClassIndex(const QStringList &classNames)
{
    YoloClassIndex index;
    index.reserve(classNames.size());
    // Walk backwards so that the first position of a repeated name wins.
    for (int i = classNames.size() - 1; i >= 0; --i)
        index.insert(classNames.at(i), i);
    return index;
}

namespace {

void appendNumber(QByteArray &out, float value)
{
    out.append(' ');
    appendGeneral6(out, double(value));
}

// A polygon vertex on the picture's border normalises to exactly 0 or 1, which
// %g writes as "0" or "1", the very fields that tell a keypoint line's
// visibilities. Such a value is written with a decimal point ("0.0"), which
// every reader takes as the same number and no reader takes for a
// visibility, so that a polygon never reads back as a keypoint set.
void appendPolygonNumber(QByteArray &out, float value)
{
    const qsizetype start = out.size() + 1;
    appendNumber(out, value);
    const QByteArrayView text = QByteArrayView(out).sliced(start);
    if (text == "0" || text == "-0" || text == "1" || text == "2")
        out.append(".0");
}

float normalised(double coordinate, int size)
{
    const float value = float(coordinate);
    return size >= 1 ? value / float(size) : value;
}

void appendBox(QByteArray &out, const QRectF &box, int width, int height)
{
    double cx = box.x() + box.width() * 0.5;
    double cy = box.y() + box.height() * 0.5;
    double w = box.width();
    double h = box.height();
    if (width >= 1 && height >= 1) {
        cx /= width;
        cy /= height;
        w /= width;
        h /= height;
    }
    appendNumber(out, float(cx));
    appendNumber(out, float(cy));
    appendNumber(out, float(w));
    appendNumber(out, float(h));
}

void appendPolygon(QByteArray &out, const QList<QPointF> &points, int classId, int width, int height)
{
    out.append(QByteArray::number(classId));
    for (const QPointF &p : points) {
        appendPolygonNumber(out, normalised(p.x(), width));
        appendPolygonNumber(out, normalised(p.y(), height));
    }
    out.append('\n');
}

// Top left, top right, bottom right, bottom left: the order the reader takes
// back for a box.
QList<QPointF> boxCorners(const QRectF &box)
{
    const QRectF r = box.normalized();
    return {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
}

bool holdsPolygonLine(const ImageEntry &image)
{
    return std::any_of(image.labels.cbegin(), image.labels.cend(),
                       [](const Annotation &a) { return a.kind == Polygon && !a.points.isEmpty(); });
}

void appendAnnotation(QByteArray &out, const Annotation &a, int classId, int width, int height, bool boxesAsPolygons)
{
    switch (a.kind) {
    case Polygon:
        if (a.points.isEmpty())
            return;
        appendPolygon(out, joinedObjectOutline(a), classId, width, height);
        return;
    case BoundingBox:
        if (boxesAsPolygons) {
            appendPolygon(out, boxCorners(a.bbox), classId, width, height);
            return;
        }
        [[fallthrough]];
    case Keypoint:
        out.append(QByteArray::number(classId));
        appendBox(out, a.kind == Keypoint ? keypointSetBox(a) : a.bbox, width, height);
        if (a.kind == Keypoint) {
            for (int i = 0; i < a.points.size(); ++i) {
                appendNumber(out, normalised(a.points.at(i).x(), width));
                appendNumber(out, normalised(a.points.at(i).y(), height));
                out.append(' ');
                out.append(QByteArray::number(i < a.keypointVis.size() ? a.keypointVis.at(i) : 2));
            }
        }
        out.append('\n');
        return;
    default:
        return;   // polylines and points have no YOLO line
    }
}

} // namespace

namespace {

double squaredDistance(const QPointF &a, const QPointF &b)
{
    const double dx = a.x() - b.x();
    const double dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

// The distances nearestPair weighs for one pair of parts at most: parts of
// real objects never come near; a file made to make it search for ever (two
// parts of a million points on one line) gets the nearest pair found so far.
constexpr qint64 kMostDistancesWeighed = 20'000'000;

// The nearest pair of points of two parts, as (index in `from`, index in
// `to`): the first pair of the smallest distance in the order of `from`, then
// of `to`. The points of `to` are searched in order of x, outward from the x
// of each point of `from` and only as far as the best distance so far
// reaches, so that parts of many points cost about their size, not its square.
std::pair<qsizetype, qsizetype> nearestPair(const QList<QPointF> &from, const QList<QPointF> &to)
{
    qint64 weighed = 0;
    std::vector<qsizetype> byX(size_t(to.size()));
    std::iota(byX.begin(), byX.end(), 0);
    std::stable_sort(byX.begin(), byX.end(), [&](qsizetype l, qsizetype r) { return to.at(l).x() < to.at(r).x(); });
    double best = std::numeric_limits<double>::infinity();
    std::pair<qsizetype, qsizetype> pair{0, 0};
    for (qsizetype i = 0; i < from.size(); ++i) {
        const QPointF p = from.at(i);
        const auto start = std::lower_bound(byX.cbegin(), byX.cend(), p.x(),
                                            [&](qsizetype j, double x) { return to.at(j).x() < x; });
        const auto consider = [&](qsizetype j) {
            ++weighed;
            const double d = squaredDistance(p, to.at(j));
            // A tie counts only within the same point of `from`, where the
            // earlier point of `to` comes first.
            if (d < best || (d == best && pair.first == i && j < pair.second)) {
                best = d;
                pair = {i, j};
            }
        };
        for (auto it = start; it != byX.cend(); ++it) {
            const double dx = to.at(*it).x() - p.x();
            if (dx * dx > best)
                break;
            consider(*it);
        }
        for (auto it = start; it != byX.cbegin();) {
            --it;
            const double dx = p.x() - to.at(*it).x();
            if (dx * dx > best)
                break;
            consider(*it);
        }
        if (weighed > kMostDistancesWeighed)
            break;
    }
    return pair;
}

// The part turned to begin at `start`, closed by its first point again.
QList<QPointF> rolledClosed(const QList<QPointF> &part, qsizetype start)
{
    QList<QPointF> rolled;
    rolled.reserve(part.size() + 1);
    for (qsizetype k = 0; k < part.size(); ++k)
        rolled.append(part.at((start + k) % part.size()));
    rolled.append(rolled.first());
    return rolled;
}

QList<QPointF> joinedParts(QList<QList<QPointF>> parts)
{
    const qsizetype n = parts.size();
    // Each part's ties: the last and the first have one, a middle part its
    // tie to the previous part, then its tie to the next.
    QList<QList<qsizetype>> ties(n);
    for (qsizetype i = 1; i < n; ++i) {
        const auto [from, to] = nearestPair(parts.at(i - 1), parts.at(i));
        ties[i - 1].append(from);
        ties[i].append(to);
    }
    QList<QPointF> outline;
    QList<qsizetype> forward(n, 0);
    for (qsizetype i = 0; i < n; ++i) {
        QList<qsizetype> tie = ties.at(i);
        if (tie.size() == 2 && tie.at(0) > tie.at(1)) {
            // Walked in reverse, the tie to the previous part comes first.
            std::reverse(parts[i].begin(), parts[i].end());
            const qsizetype last = parts.at(i).size() - 1;
            tie = {last - tie.at(0), last - tie.at(1)};
        }
        parts[i] = rolledClosed(parts.at(i), tie.at(0));
        if (i == 0 || i == n - 1) {
            outline += parts.at(i);
            continue;
        }
        forward[i] = tie.at(1) - tie.at(0);
        outline += parts.at(i).mid(0, forward.at(i) + 1);
    }
    for (qsizetype i = n - 2; i >= 1; --i)
        outline += parts.at(i).mid(forward.at(i));
    return outline;
}

} // namespace

QList<QPointF> joinedObjectOutline(const Annotation &a)
{
    const QList<QList<QPointF>> parts = objectParts(a);
    if (parts.size() < 2)
        return a.points;
    return joinedParts(parts);
}

YoloBoxLines yoloBoxLinesOf(const QList<ImageEntry> &images)
{
    return std::any_of(images.cbegin(), images.cend(), holdsPolygonLine) ? YoloBoxLines::Corners
                                                                         : YoloBoxLines::Plain;
}

void appendYoloLabelLines(QByteArray &out, const ImageEntry &image, const YoloClassIndex &classIndex,
                          YoloBoxLines boxes)
{
    // YOLO trainers read every line of a file as a polygon once one line is
    // longer than a box line: in a file that holds a polygon the boxes are
    // written as their four corners, which every reader takes for the same
    // box.
    const bool boxesAsPolygons = boxes == YoloBoxLines::Corners || holdsPolygonLine(image);
    for (const Annotation &a : image.labels)
        appendAnnotation(out, a, classIndex.value(a.className, 0), image.width, image.height, boxesAsPolygons);
}

void writeYoloLabelLines(QTextStream &out, const ImageEntry &image, const QStringList &classNames,
                         YoloBoxLines boxes)
{
    QByteArray bytes;
    appendYoloLabelLines(bytes, image, yoloClassIndex(classNames), boxes);
    out << QString::fromLatin1(bytes);
}

YoloLineLayout YoloLineLayout::fromDataYaml(const YoloDataYaml &yaml)
{
    YoloLineLayout layout;
    if (!yaml.exists())
        return layout;
    if (!yaml.hasKeypointShape()) {
        layout.mode = Mode::Polygons;
        return layout;
    }
    layout.mode = Mode::Keypoints;
    layout.keypointCount = yaml.keypointCount;
    layout.keypointDims = yaml.keypointDims;
    return layout;
}

namespace {

using Parts = LabelFields;

QByteArrayView trimmed(QByteArrayView line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (begin < end && isSpace(line.at(begin)))
        ++begin;
    while (end > begin && isSpace(line.at(end - 1)))
        --end;
    return line.sliced(begin, end - begin);
}

// A visibility as label lines write it: the digit 0, 1 or 2. A number with a
// decimal point ("1.0") is a coordinate.
bool isVisibility(QByteArrayView field)
{
    return field == "0" || field == "1" || field == "2";
}

// Keypoints of x, y, visibility triplets, told apart from a polygon by every
// third field being a visibility 0, 1 or 2.
int guessedKeypointCount(const Parts &parts, int *dims)
{
    const qsizetype extra = parts.size() - 5;
    if (extra % 3 != 0)
        return 0;
    for (qsizetype i = 7; i < parts.size(); i += 3) {
        if (!isVisibility(parts.at(i)))
            return 0;
    }
    *dims = 3;
    return int(extra / 3);
}

// Number of keypoints the line holds, 0 when it is no keypoint line.
int keypointCountOf(const Parts &parts, const YoloLineLayout &layout, int *dims)
{
    const qsizetype extra = parts.size() - 5;
    if (extra <= 0)
        return 0;
    switch (layout.mode) {
    case YoloLineLayout::Mode::Polygons:
        return 0;
    case YoloLineLayout::Mode::Keypoints: {
        const int d = layout.keypointDims;
        if (extra == qsizetype(d) * layout.keypointCount) {
            *dims = d;
            return int(extra / d);
        }
        // A set of another length (a dataset mixing skeletons of different
        // sizes writes each at its own length) is recognised by its
        // visibilities, as without a yaml.
        return d == 3 ? guessedKeypointCount(parts, dims) : 0;
    }
    case YoloLineLayout::Mode::Guess:
        return guessedKeypointCount(parts, dims);
    }
    return 0;
}

// The class id of a line's first field: a whole number (of any size: an id
// beyond the class list reads as "class_<id>", never as another class), or
// 0 when the field is no number. False, dropping the line, for a number that
// is no id (a fraction, or beyond 64 bits).
bool classIdField(QByteArrayView field, qint64 *id)
{
    if (parseInt64(field, id))
        return true;
    double number = 0.0;
    if (readDecimal(field, &number) != NumberText::Invalid)
        return false;
    *id = 0;
    return true;
}

QPointF scaledPoint(float x, float y, bool known, int width, int height)
{
    if (!known)
        return {x, y};
    return {double(x * float(width)), double(y * float(height))};
}

// The four corners the writer gives a box in a file of outlines: an
// axis-aligned rectangle of area from its top left corner clockwise. Equal
// coordinates are compared exactly: the writer writes one corner's x (or y)
// with the same text as its neighbour's, which reads back as the same number.
bool isWrittenBox(const QList<QPointF> &p)
{
    if (p.size() != 4)
        return false;
    return p[0].x() == p[3].x() && p[1].x() == p[2].x() && p[0].x() < p[1].x() && p[0].y() == p[1].y()
           && p[2].y() == p[3].y() && p[0].y() < p[2].y();
}

bool parseLine(const Parts &parts, const QStringList &classNames, int width, int height,
               const YoloLineLayout &layout, Annotation &a)
{
    qint64 classId = 0;
    if (parts.size() < 5 || !classIdField(parts.at(0), &classId))
        return false;
    const float cx = coordinateField(parts.at(1));
    const float cy = coordinateField(parts.at(2));
    const float w = coordinateField(parts.at(3));
    const float h = coordinateField(parts.at(4));
    a.className = classNameForId(classId, classNames);
    a.kind = BoundingBox;

    const bool known = width >= 1 && height >= 1;
    const float left = cx - w * 0.5f;
    const float top = cy - h * 0.5f;
    if (known)
        a.bbox = QRectF(left * float(width), top * float(height), w * float(width), h * float(height));
    else
        a.bbox = QRectF(left, top, w, h);

    int dims = 3;
    const int keypoints = keypointCountOf(parts, layout, &dims);
    if (keypoints > 0) {
        a.kind = Keypoint;
        a.points.reserve(keypoints);
        a.keypointVis.reserve(keypoints);
        for (int j = 0; j < keypoints; ++j) {
            const qsizetype at = 5 + qsizetype(j) * dims;
            a.points.append(
                scaledPoint(coordinateField(parts.at(at)), coordinateField(parts.at(at + 1)), known, width, height));
            a.keypointVis.append(dims == 3 ? intOr(parts.at(at + 2)) : 2);
        }
        return true;
    }
    if (parts.size() % 2 == 0 || parts.size() == 5)
        return true;   // a box; extra fields of an even count are ignored

    a.kind = Polygon;
    a.points.reserve(parts.size() / 2);
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (qsizetype i = 1; i + 1 < parts.size(); i += 2) {
        const QPointF p =
            scaledPoint(coordinateField(parts.at(i)), coordinateField(parts.at(i + 1)), known, width, height);
        const float px = float(p.x());
        const float py = float(p.y());
        if (a.points.isEmpty()) {
            minX = maxX = px;
            minY = maxY = py;
        } else {
            minX = std::min(minX, px);
            maxX = std::max(maxX, px);
            minY = std::min(minY, py);
            maxY = std::max(maxY, py);
        }
        a.points.append(p);
    }
    a.bbox = QRectF(minX, minY, maxX - minX, maxY - minY);
    if (isWrittenBox(a.points)) {
        a.kind = BoundingBox;
        a.points.clear();
    }
    return true;
}

} // namespace

QList<Annotation> parseYoloLabelText(QByteArrayView text, const QStringList &classNames, int imageWidth,
                                     int imageHeight, const YoloLineLayout &layout)
{
    QList<Annotation> annotations;
    Parts parts;
    forEachLine(text, [&](QByteArrayView raw) {
        const QByteArrayView line = trimmed(raw);
        if (line.isEmpty())
            return;
        splitLabelFields(line, parts, FieldSeparators::SpacesAndTabs);
        Annotation a;
        if (parseLine(parts, classNames, imageWidth, imageHeight, layout, a) && geometryFitsFloat(a))
            annotations.append(std::move(a));
    });
    return annotations;
}

QList<Annotation> readYoloLabelFile(const QString &path, const QStringList &classNames, int imageWidth,
                                    int imageHeight, const YoloLineLayout &layout)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return {};
    return parseYoloLabelText(bytes, classNames, imageWidth, imageHeight, layout);
}

} // namespace Quillmark
