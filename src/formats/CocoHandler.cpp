#include "formats/CocoHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImportFailure.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "model/FiniteNumber.h"
#include "model/JsonParser.h"
#include "model/JsonStringPool.h"
#include "model/JsonText.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace Quillmark {

QString CocoHandler::name() const { return QStringLiteral("COCO"); }
QString CocoHandler::extension() const { return QStringLiteral("json"); }

namespace {

// A folder of many large JSON files is judged by its first few.
constexpr int kMaxProbedCocoFiles = 16;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the first character of the text after blanks (and a byte-order
// mark) is known yet, and whether it opens an object.
enum class Start { Unknown, Object, Other };

Start startOf(QByteArrayView chunk, bool first)
{
    if (first && chunk.startsWith("\xEF\xBB\xBF"))
        chunk = chunk.sliced(3);
    for (const char c : chunk) {
        if (!isBlank(c))
            return c == '{' ? Start::Object : Start::Other;
    }
    return Start::Unknown;
}

} // namespace

// The keys of a COCO file, looked for in the first kMaxDetectionBytes of it.
// A large file of the release layout lists its images before its annotations:
// once the bound is reached, an object whose "images" hold image records
// ("file_name") counts too. Nothing else is read.
bool isCocoJsonFile(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    static const QByteArray keys[4] = {"\"annotations\"", "\"categories\"", "\"images\"", "\"file_name\""};
    bool found[4] = {false, false, false, false};
    // Keep the tail of the previous chunk so that a key split across two
    // chunks is still seen.
    constexpr qint64 chunkSize = 8192;
    const qsizetype overlap = keys[0].size() - 1;
    QByteArray window;
    Start start = Start::Unknown;
    for (qint64 read = 0; read < kMaxDetectionBytes; read += chunkSize) {
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty())
            return false;
        if (start == Start::Unknown)
            start = startOf(chunk, read == 0);
        if (start == Start::Other)
            return false;
        window = window.right(overlap) + chunk;
        for (int k = 0; k < 4; ++k)
            found[k] = found[k] || window.contains(keys[k]);
        if (found[0] && (found[1] || found[2]))
            return true;
    }
    return start == Start::Object && found[2] && found[3];
}

bool CocoHandler::canImport(const QString &path) const
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return isCocoJsonFile(path);
    // The folder's own files, then those of annotations/: the root of the
    // release layout (annotations/instances_val2017.json beside val2017/).
    int probed = 0;
    for (const QString &folder : {path, QDir(path).filePath(QStringLiteral("annotations"))}) {
        for (const QString &candidate : listFiles(folder, {QStringLiteral("*.json")})) {
            if (isCocoJsonFile(candidate))
                return true;
            if (++probed >= kMaxProbedCocoFiles)
                return false;
        }
    }
    return false;
}

namespace {

// What an annotation keeps of a COCO object that the drawing cannot hold, so
// that COCO writes the object back as it came: every polygon of an object of
// several parts (as flat x, y lists), and a crowd region's run-length mask
// with its area. Names no other writer chooses.
const QString kCocoPartsKey = QStringLiteral("coco:segmentation");
const QString kCocoMaskKey = QStringLiteral("coco:rle");
const QString kCocoAreaKey = QStringLiteral("coco:area");

bool isKeptCocoKey(const QString &key)
{
    return key == kCocoPartsKey || key == kCocoMaskKey || key == kCocoAreaKey;
}

// ---- export ---------------------------------------------------------------

QJsonArray rectArray(const QRectF &r)
{
    return QJsonArray{r.x(), r.y(), r.width(), r.height()};
}

QRectF pointsBounds(const QList<QPointF> &points)
{
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

// The area COCO evaluation buckets objects by: a polygon's own area (the
// shoelace formula), anything else its box's width times height.
double polygonArea(const QList<QPointF> &points)
{
    double twice = 0.0;
    for (qsizetype i = 0, j = points.size() - 1; i < points.size(); j = i++)
        twice += points.at(j).x() * points.at(i).y() - points.at(i).x() * points.at(j).y();
    return std::abs(twice) / 2.0;
}

// The annotation's flags, as read from a COCO file or another format, back
// as members of the object; COCO's own keys are never overwritten.
void insertFlags(QJsonObject &object, const Annotation &a)
{
    for (auto it = a.attributes.cbegin(); it != a.attributes.cend(); ++it) {
        if (isKeptCocoKey(it.key()))
            continue;
        if (!object.contains(it.key()) || it.key() == QLatin1String("iscrowd"))
            object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
}

// A crowd region's mask as pycocotools reads it: "counts" and a "size" of
// two numbers.
bool isRunLengthMask(const QJsonValue &value)
{
    const QJsonObject mask = value.toObject();
    return mask.contains(QStringLiteral("counts")) && mask.value(QStringLiteral("size")).toArray().size() == 2;
}

// An object that came with a run-length mask (a crowd region) is written
// with that mask and its area. A crowd without any region to write is
// written as an ordinary object ("iscrowd" 0), its box being all there is:
// pycocotools cannot read a crowd of an empty segmentation.
void writeCrowdRegion(QJsonObject &object, const Annotation &a)
{
    const QJsonValue mask = QJsonValue::fromVariant(a.attributes.value(kCocoMaskKey));
    if (a.kind == BoundingBox && isRunLengthMask(mask)) {
        object.insert(QStringLiteral("segmentation"), mask);
        bool known = false;
        const double area = a.attributes.value(kCocoAreaKey).toDouble(&known);
        if (known && area >= 0.0)
            object.insert(QStringLiteral("area"), area);
        return;
    }
    const bool noRegion = object.value(QStringLiteral("segmentation")).toArray().isEmpty();
    if (noRegion && object.value(QStringLiteral("iscrowd")).toInt(0) != 0)
        object.insert(QStringLiteral("iscrowd"), 0);
}

int visibilityAt(const Annotation &a, int i)
{
    return i < a.keypointVis.size() ? a.keypointVis.at(i) : 2;
}

QList<QPointF> flatPartPoints(const QVariant &part)
{
    const QVariantList numbers = part.toList();
    QList<QPointF> points;
    for (qsizetype i = 0; i + 1 < numbers.size(); i += 2)
        points.append(QPointF(numbers.at(i).toDouble(), numbers.at(i + 1).toDouble()));
    return points;
}

QVariantList flatPartVariant(const QList<QPointF> &points)
{
    QVariantList flat;
    flat.reserve(points.size() * 2);
    for (const QPointF &p : points) {
        flat.append(p.x());
        flat.append(p.y());
    }
    return flat;
}

QJsonArray flatPart(const QList<QPointF> &points)
{
    QJsonArray flat;
    for (const QPointF &p : points) {
        flat.append(p.x());
        flat.append(p.y());
    }
    return flat;
}

// The parts of an object of several polygons as it came, when the outline
// drawn is still one of them (an edited outline stands alone); else empty.
QList<QList<QPointF>> keptParts(const Annotation &a)
{
    const QVariantList stored = a.attributes.value(kCocoPartsKey).toList();
    QList<QList<QPointF>> parts;
    bool outlineAmongThem = false;
    for (const QVariant &part : stored) {
        parts.append(flatPartPoints(part));
        outlineAmongThem = outlineAmongThem || parts.last() == a.points;
    }
    return outlineAmongThem ? parts : QList<QList<QPointF>>();
}

// The segmentation of a polygon object: its parts as kept, or its outline.
void polygonSegmentation(const Annotation &a, QJsonArray &segmentation, QRectF &box, double &area)
{
    const QList<QList<QPointF>> parts = keptParts(a);
    if (parts.isEmpty()) {
        segmentation.append(flatPart(a.points));
        box = pointsBounds(a.points);
        area = polygonArea(a.points);
        return;
    }
    QRectF bounds;
    area = 0.0;
    for (const QList<QPointF> &part : parts) {
        segmentation.append(flatPart(part));
        bounds = bounds.united(pointsBounds(part));
        area += polygonArea(part);
    }
    // The area the object came with (its mask's), which the parts' shoelace
    // sum only comes near.
    bool known = false;
    const double keptArea = a.attributes.value(kCocoAreaKey).toDouble(&known);
    if (known && keptArea >= 0.0)
        area = keptArea;
    // The object's own box, as it came, unless it no longer holds its parts.
    box = a.bbox.isValid() && a.bbox.adjusted(-0.5, -0.5, 0.5, 0.5).contains(bounds) ? a.bbox : bounds;
}

QJsonObject annotationObject(const Annotation &a, int id, int imageId, int categoryId, int keypointWidth)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("image_id"), imageId);
    object.insert(QStringLiteral("category_id"), categoryId);
    object.insert(QStringLiteral("iscrowd"), 0);
    QRectF box = a.bbox;
    double area = -1.0;
    QJsonArray segmentation;
    if (a.kind == Keypoint) {
        QJsonArray keypoints;
        int labelled = 0;
        const int width = std::max(keypointWidth, int(a.points.size()));
        for (int j = 0; j < width; ++j) {
            if (j < a.points.size()) {
                keypoints.append(a.points.at(j).x());
                keypoints.append(a.points.at(j).y());
                keypoints.append(visibilityAt(a, j));
                labelled += visibilityAt(a, j) > 0 ? 1 : 0;
            } else {
                keypoints.append(0);
                keypoints.append(0);
                keypoints.append(0);
            }
        }
        object.insert(QStringLiteral("keypoints"), keypoints);
        object.insert(QStringLiteral("num_keypoints"), labelled);
        box = keypointSetBox(a);
    } else if (a.kind == Polygon && !a.points.isEmpty()) {
        polygonSegmentation(a, segmentation, box, area);
    }
    object.insert(QStringLiteral("segmentation"), segmentation);
    object.insert(QStringLiteral("bbox"), rectArray(box));
    object.insert(QStringLiteral("area"), area >= 0.0 ? area : box.width() * box.height());
    insertFlags(object, a);
    writeCrowdRegion(object, a);
    return object;
}

QHash<QString, int> keypointWidths(const Dataset &dataset)
{
    QHash<QString, int> widths;
    for (const ImageEntry &image : dataset.images) {
        for (const Annotation &a : image.labels) {
            if (a.kind != Keypoint)
                continue;
            int &width = widths[a.className];
            width = std::max(width, int(a.points.size()));
        }
    }
    return widths;
}

QJsonArray categoriesArray(const QStringList &classNames, const QHash<QString, int> &widths,
                           const KeypointSchema &schema)
{
    QJsonArray skeleton;
    if (!schema.keypointNames.isEmpty()) {
        for (const auto &edge : schema.edges)
            skeleton.append(QJsonArray{edge.first + 1, edge.second + 1});
    }
    QJsonArray categories;
    for (int i = 0; i < classNames.size(); ++i) {
        QJsonObject category;
        category.insert(QStringLiteral("id"), i + 1);
        category.insert(QStringLiteral("name"), classNames.at(i));
        const int width = widths.value(classNames.at(i), 0);
        if (width > 0) {
            QJsonArray names;
            for (int j = 0; j < width; ++j) {
                names.append(j < schema.keypointNames.size() ? schema.keypointNames.at(j)
                                                             : QStringLiteral("kp_%1").arg(j));
            }
            category.insert(QStringLiteral("keypoints"), names);
            category.insert(QStringLiteral("skeleton"), skeleton);
        }
        categories.append(category);
    }
    return categories;
}

} // namespace

QByteArray cocoJsonBytes(const Dataset &dataset, const ProgressCallback &progress)
{
    const QStringList classNames = dataset.classNames();
    QHash<QString, int> categoryIds;
    for (int i = classNames.size() - 1; i >= 0; --i)
        categoryIds.insert(classNames.at(i), i + 1);
    const QHash<QString, int> widths = keypointWidths(dataset);

    QJsonArray images;
    QJsonArray annotations;
    int nextAnnotationId = 1;
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        const ImageEntry &entry = at.image;
        QJsonObject image;
        image.insert(QStringLiteral("id"), entry.id);
        image.insert(QStringLiteral("file_name"), at.fileName);
        image.insert(QStringLiteral("width"), std::max(entry.width, 0));
        image.insert(QStringLiteral("height"), std::max(entry.height, 0));
        images.append(image);
        for (const Annotation &a : entry.labels) {
            annotations.append(annotationObject(a, nextAnnotationId++, entry.id, categoryIds.value(a.className),
                                                widths.value(a.className, 0)));
        }
        return true;
    });

    QJsonObject root;
    root.insert(QStringLiteral("annotations"), annotations);
    root.insert(QStringLiteral("categories"), categoriesArray(classNames, widths, dataset.keypointSchema));
    root.insert(QStringLiteral("images"), images);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool CocoHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    return writeDocumentFile(path, cocoJsonBytes(dataset, progress));
}

// ---- import ---------------------------------------------------------------

namespace {

// Where the images of a COCO file are looked for. The file's own folder and
// its images/ come first; the release layout keeps the file in annotations/
// beside the image folder named after the file's split
// (annotations/instances_val2017.json beside val2017/), or below images/.
// Plain file names are looked up in a listing of each folder, made once, and
// the folder that held the previous image is tried first, so a dataset of
// many images costs no file-system call per image.
class CocoImageResolver {
public:
    explicit CocoImageResolver(const QString &jsonPath)
    {
        const QFileInfo json(jsonPath);
        m_base = QDir(json.absolutePath());
        const QString stem = json.completeBaseName();
        const QString split = stem.mid(stem.lastIndexOf(QLatin1Char('_')) + 1);
        const QString parent = QDir::cleanPath(m_base.absoluteFilePath(QStringLiteral("..")));
        QStringList folders = {m_base.absolutePath(), m_base.filePath(QStringLiteral("images"))};
        if (!split.isEmpty()) {
            folders.append(parent + QLatin1Char('/') + split);
            folders.append(parent + QStringLiteral("/images/") + split);
        }
        folders.append(parent);
        folders.append(parent + QStringLiteral("/images"));
        folders.removeDuplicates();
        for (const QString &folder : std::as_const(folders))
            m_folders.append({QDir(folder), {}, false});
    }

    QString resolve(const QString &fileName)
    {
        if (fileName.isEmpty())
            return {};
        if (isAbsoluteFilePath(fileName))
            return fileName;
        if (const QString found = find(fileName); !found.isEmpty())
            return found;
        // A name written on Windows, with "\" between its folders.
        if (fileName.contains(QLatin1Char('\\'))) {
            if (const QString found = find(QString(fileName).replace(QLatin1Char('\\'), QLatin1Char('/')));
                !found.isEmpty())
                return found;
        }
        return m_base.filePath(QStringLiteral("images/") + fileNamePart(fileName));
    }

private:
    QString find(const QString &fileName)
    {
        if (const QString found = existing(m_last, fileName); !found.isEmpty())
            return found;
        for (int i = 0; i < m_folders.size(); ++i) {
            if (i == m_last)
                continue;
            if (const QString found = existing(i, fileName); !found.isEmpty()) {
                m_last = i;
                return found;
            }
        }
        return {};
    }

    struct Folder {
        QDir dir;
        QSet<QString> names;
        bool listed;
    };

    bool contains(Folder &folder, const QString &name)
    {
        if (!folder.listed) {
            const QStringList entries = folder.dir.entryList(QDir::Files | QDir::Hidden);
            folder.names = QSet<QString>(entries.cbegin(), entries.cend());
            folder.listed = true;
        }
        return folder.names.contains(name);
    }

    // The name as written below the folder, else its last component there.
    QString existing(int index, const QString &fileName)
    {
        Folder &folder = m_folders[index];
        const QString last = fileNamePart(fileName);
        if (last == fileName)
            return contains(folder, fileName) ? pathInFolder(folder.dir, fileName) : QString();
        const QString direct = pathInFolder(folder.dir, fileName);
        if (QFileInfo::exists(direct))
            return direct;
        return contains(folder, last) ? pathInFolder(folder.dir, last) : QString();
    }

    QDir m_base;
    QList<Folder> m_folders;
    int m_last = 0;
};

// Ids are keyed by their JSON value: whole numbers by their 64-bit value,
// strings by their text; a missing id counts as 0. Any other value (a
// fraction, a number beyond 64 bits, null, true) is no id: it never falls onto
// a real id such as 0, an image with it matches no annotation, and a category
// with it names its class by the value as written.
struct CocoId {
    enum class Kind { None, Number, String };
    Kind kind = Kind::Number;
    qint64 number = 0;
    QString text;   // a string id, or the value of one that is none

    static CocoId read(JsonValue &value) { return fromValue(value.toQJsonValue()); }

    static CocoId fromValue(const QJsonValue &value)
    {
        CocoId id;
        if (value.isUndefined())
            return id;
        id.kind = Kind::None;
        bool whole = false;
        if (value.isString()) {
            id.kind = Kind::String;
            id.text = value.toString();
        } else if (const qint64 number = jsonInt64(value, 0, &whole); whole) {
            id.kind = Kind::Number;
            id.number = number;
        } else if (value.isDouble()) {
            id.text = QString::number(value.toDouble(), 'g', 17);
        }
        return id;
    }

    bool isId() const { return kind != Kind::None; }

    bool operator==(const CocoId &other) const
    {
        return kind == other.kind && (kind == Kind::Number ? number == other.number : text == other.text);
    }

    // The class name of an id that no category has.
    QString missingClassName() const
    {
        return QStringLiteral("class_%1").arg(kind == Kind::Number ? QString::number(number) : text);
    }
};

size_t qHash(const CocoId &id, size_t seed = 0)
{
    return id.kind == CocoId::Kind::Number ? ::qHash(id.number, seed) : ::qHash(id.text, seed);
}

// Numbers in pairs (x, y) while a whole pair remains.
QList<QPointF> pairedPoints(const std::vector<double> &numbers)
{
    QList<QPointF> points;
    points.reserve(qsizetype(numbers.size() / 2));
    for (size_t i = 0; i + 1 < numbers.size(); i += 2)
        points.append(QPointF(numbers[i], numbers[i + 1]));
    return points;
}

// A number as an int: an integral one within the range, else `fallback`.
int wholeNumber(double number, int fallback)
{
    const bool whole = number == std::floor(number) && number >= std::numeric_limits<int>::min() &&
                       number <= std::numeric_limits<int>::max();
    return whole ? int(number) : fallback;
}

// An annotation object as its members come, turned into annotations once all
// of them are read; the class name waits for the categories, which a file may
// hold after its annotations. A member that comes twice counts as its last.
class CocoAnnotationReader {
public:
    CocoId image;
    CocoId category;

    // Reads one object; the reader is used again for the next one.
    void read(JsonValue &object, JsonStringPool &flagKeys)
    {
        image = category = CocoId();
        id = 0;
        hasBox = false;
        box = QRectF();
        keypointValues = 0;
        segmentationOfPolygons = false;
        parts.clear();
        mask = QJsonValue();
        area = -1.0;
        flags.clear();
        object.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "id")
                id = value.toInt(0);
            else if (key == "image_id")
                image = CocoId::read(value);
            else if (key == "category_id")
                category = CocoId::read(value);
            else if (key == "bbox")
                readBox(value);
            else if (key == "keypoints")
                readKeypoints(value);
            else if (key == "segmentation")
                readSegmentation(value);
            else if (key == "area")
                area = value.toDouble(-1.0);
            else if (key != "num_keypoints")
                readFlag(key, value, flagKeys);
        });
    }

    // One annotation per object; the class name comes later. An object of
    // several polygons takes its largest part as its outline and keeps its own
    // box and every part (under kCocoPartsKey), so that it is one object in
    // every export and COCO writes it back whole. A run-length mask (a crowd
    // region) is kept with its area, the annotation being its box.
    QList<Annotation> annotations() const
    {
        Annotation a;
        a.id = id;
        a.confidence = 1.0f;
        a.attributes = flags;
        if (hasBox)
            a.bbox = box;
        if (keypointValues > 0) {
            a.kind = Keypoint;
            a.points = keypointPoints;
            a.keypointVis = keypointVisibility;
            return {a};
        }
        if (mask.isObject()) {
            a.attributes.insert(kCocoMaskKey, mask.toVariant());
            if (area >= 0.0)
                a.attributes.insert(kCocoAreaKey, area);
        }
        if (!segmentationOfPolygons)
            return {a}; // a box: no segmentation, or a run-length mask
        a.kind = Polygon;
        if (parts.size() == 1) {
            a.points = parts.first();
            return {a};
        }
        QVariantList kept;
        QRectF partsBounds;
        const QList<QPointF> *largest = nullptr;
        double largestArea = -1.0;
        for (const QList<QPointF> &part : parts) {
            if (part.size() < 3)
                continue;
            kept.append(QVariant(flatPartVariant(part)));
            partsBounds = partsBounds.united(pointsBounds(part));
            const double partArea = polygonArea(part);
            if (partArea > largestArea) {
                largestArea = partArea;
                largest = &part;
            }
        }
        if (!largest)
            return {a}; // no usable part: the object as a polygon without points
        a.points = *largest;
        if (!hasBox)
            a.bbox = partsBounds;
        if (kept.size() > 1) {
            a.attributes.insert(kCocoPartsKey, kept);
            if (area >= 0.0)
                a.attributes.insert(kCocoAreaKey, area);
        }
        return {a};
    }

private:
    void readBox(JsonValue &value)
    {
        numbers.clear();
        value.appendNumbers(numbers, 0.0);
        hasBox = numbers.size() == 4;
        // A negative width or height counts from the other corner, as the
        // VOC and CVAT readers take it.
        box = hasBox ? QRectF(numbers[0], numbers[1], numbers[2], numbers[3]).normalized() : QRectF();
    }

    // Triplets x, y and v (an int) while a whole triplet remains.
    void readKeypoints(JsonValue &value)
    {
        numbers.clear();
        value.appendNumbers(numbers, 0.0);
        keypointValues = qsizetype(numbers.size());
        keypointPoints.clear();
        keypointVisibility.clear();
        for (size_t i = 0; i + 2 < numbers.size(); i += 3) {
            keypointPoints.append(QPointF(numbers[i], numbers[i + 1]));
            keypointVisibility.append(wholeNumber(numbers[i + 2], 0));
        }
    }

    void readSegmentation(JsonValue &value)
    {
        parts.clear();
        segmentationOfPolygons = false;
        if (value.isObject()) {
            mask = value.toQJsonValue(); // a run-length mask
            return;
        }
        bool first = true;
        value.forEachElement([&](JsonValue &part) {
            const bool polygon = part.isArray();
            if (first)
                segmentationOfPolygons = polygon;
            first = false;
            if (!polygon)
                return;
            numbers.clear();
            part.appendNumbers(numbers, 0.0);
            parts.append(pairedPoints(numbers));
        });
    }

    // Every other member is a flag of the annotation ("iscrowd", "ignore",
    // "attributes", ...), kept among its attributes and written back; the
    // usual "not a crowd" is the default, not worth keeping.
    void readFlag(std::string_view key, JsonValue &value, JsonStringPool &flagKeys)
    {
        const QString name = flagKey(key, flagKeys);
        const QJsonValue read = value.toQJsonValue();
        if (read.isDouble() && read.toInteger(-1) == 0 && name == QLatin1String("iscrowd"))
            flags.remove(name);
        else
            flags.insert(name, read.toVariant());
    }

    static QString flagKey(std::string_view key, JsonStringPool &pool)
    {
        const QByteArrayView raw(key.data(), qsizetype(key.size()));
        if (const QString *known = pool.find(raw))
            return *known;
        const QString name = QString::fromUtf8(raw);
        pool.insert(raw, name);
        return name;
    }

    int id = 0;
    bool hasBox = false;
    QRectF box;
    qsizetype keypointValues = 0;
    QList<QPointF> keypointPoints;
    QList<int> keypointVisibility;
    bool segmentationOfPolygons = false;
    QList<QList<QPointF>> parts;
    QJsonValue mask;
    double area = -1.0;
    QVariantMap flags;
    std::vector<double> numbers; // scratch
};

// The keypoint names and skeleton (1-based joints) of a keypoint category.
KeypointSchema schemaFromCategory(const QJsonObject &category)
{
    KeypointSchema schema;
    schema.objectClass = jsonString(category.value(QLatin1String("name")));
    const QJsonArray names = category.value(QLatin1String("keypoints")).toArray();
    for (const QJsonValue &name : names)
        schema.keypointNames.append(jsonString(name));
    schema.edges = jsonKeypointEdges(category.value(QLatin1String("skeleton")).toArray(), 1,
                                     schema.keypointNames.size());
    return schema;
}

// Images whose file id is not a number that fits an entry id (a string, a
// negative or a huge number) cannot keep it; they get ids that no other image
// of the file uses.
void assignFreeIds(QList<ImageEntry> &entries, const QList<bool> &keepsId)
{
    QSet<int> used;
    qint64 next = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (keepsId.at(i)) {
            used.insert(entries.at(i).id);
            next = std::max(next, qint64(entries.at(i).id) + 1);
        }
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (keepsId.at(i))
            continue;
        if (next > std::numeric_limits<int>::max())
            next = 0;
        while (used.contains(int(next)))
            ++next;
        entries[i].id = int(next);
        used.insert(int(next));
        ++next;
    }
}

// The three lists of a COCO file, read as they come, in one pass and without
// a tree of the document; a list that comes twice counts as its last.
class CocoDocumentReader {
public:
    explicit CocoDocumentReader(const QString &path) : resolver(path) {}

    bool read(const JsonText &text)
    {
        JsonParser parser;
        return parser.parse(text, [&](JsonValue &root) {
            root.forEachMember([&](std::string_view key, JsonValue &value) {
                if (key == "categories")
                    readCategories(value);
                else if (key == "images")
                    readImages(value);
                else if (key == "annotations")
                    readAnnotations(value);
            });
        });
    }

    // Every category is a class, used or not; the first keypoint category
    // gives the keypoint schema.
    QHash<CocoId, QString> categories;
    QStringList classOrder;
    KeypointSchema schema;
    QList<ImageEntry> entries;
    QList<bool> keepsId;
    QHash<CocoId, qsizetype> positionById;
    // The annotations of each image id, in file order, each with the index of
    // its category id in categoryIds: the images and the categories may come
    // later in the file.
    struct ImageAnnotations {
        QList<Annotation> annotations;
        QList<int> categories;
    };
    QHash<CocoId, ImageAnnotations> annotationsByImage;
    QList<CocoId> categoryIds;

    // The class name of each entry of categoryIds.
    QStringList classNamesOfCategoryIds() const
    {
        QStringList names;
        names.reserve(categoryIds.size());
        for (const CocoId &id : categoryIds) {
            const auto category = categories.constFind(id);
            names.append(category != categories.cend() ? *category : id.missingClassName());
        }
        return names;
    }

private:
    void readCategories(JsonValue &array)
    {
        categories.clear();
        classOrder.clear();
        schema = KeypointSchema();
        array.forEachElement([&](JsonValue &element) {
            if (!element.isObject())
                return;
            // Categories are few: each is read whole.
            const QJsonObject category = element.toQJsonValue().toObject();
            const QString name = jsonString(category.value(QLatin1String("name")));
            const QJsonValue id = category.value(QLatin1String("id"));
            categories.insert(CocoId::fromValue(id), name);
            classOrder.append(name);
            if (schema.keypointNames.isEmpty() && category.value(QLatin1String("keypoints")).toArray().size() > 0)
                schema = schemaFromCategory(category);
        });
    }

    void readImages(JsonValue &array)
    {
        entries.clear();
        keepsId.clear();
        positionById.clear();
        array.forEachElement([&](JsonValue &element) {
            if (!element.isObject())
                return;
            CocoId id;
            ImageEntry entry;
            QString fileName;
            element.forEachMember([&](std::string_view key, JsonValue &value) {
                if (key == "id")
                    id = CocoId::read(value);
                else if (key == "width")
                    entry.width = std::max(value.toInt(0), 0);
                else if (key == "height")
                    entry.height = std::max(value.toInt(0), 0);
                else if (key == "file_name")
                    fileName = value.toString();
            });
            // The largest int is left out too: the dataset sets its next id
            // to one past every id it is given, which must still be an int.
            const bool fitsId = id.kind == CocoId::Kind::Number && id.number >= 0 &&
                                id.number < std::numeric_limits<int>::max();
            entry.id = fitsId ? int(id.number) : -1;
            entry.filePath = resolver.resolve(fileName);
            // An image without an id is one of its own, with no annotations.
            if (!id.isId()) {
                entries.append(entry);
                keepsId.append(false);
                return;
            }
            // A later image with the same id replaces the earlier one in place.
            const auto existing = positionById.constFind(id);
            if (existing != positionById.cend()) {
                entries[*existing] = entry;
                keepsId[*existing] = fitsId;
                return;
            }
            positionById.insert(id, entries.size());
            entries.append(entry);
            keepsId.append(fitsId);
        });
    }

    void readAnnotations(JsonValue &array)
    {
        annotationsByImage.clear();
        // Annotations mostly come in runs of one image and one category.
        ImageAnnotations *bucket = nullptr;
        CocoId bucketImage;
        int category = -1;
        CocoId lastCategory;
        array.forEachElement([&](JsonValue &element) {
            if (!element.isObject())
                return;
            annotation.read(element, flagKeys);
            if (!annotation.image.isId())
                return;   // it belongs to no image
            if (!bucket || !(annotation.image == bucketImage)) {
                bucket = &annotationsByImage[annotation.image];
                bucketImage = annotation.image;
            }
            if (category < 0 || !(annotation.category == lastCategory)) {
                category = categoryIndex(annotation.category);
                lastCategory = annotation.category;
            }
            for (Annotation &a : annotation.annotations()) {
                // The finite-number rule: a shape that single precision
                // cannot hold is dropped.
                if (!geometryFitsFloat(a))
                    continue;
                bucket->annotations.append(std::move(a));
                bucket->categories.append(category);
            }
        });
    }

    int categoryIndex(const CocoId &id)
    {
        const auto known = categoryIndexById.constFind(id);
        if (known != categoryIndexById.cend())
            return *known;
        categoryIds.append(id);
        return *categoryIndexById.insert(id, int(categoryIds.size() - 1));
    }

    CocoImageResolver resolver;
    CocoAnnotationReader annotation;
    JsonStringPool flagKeys;
    QHash<CocoId, int> categoryIndexById;
};

} // namespace

bool CocoHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    JsonText text;
    if (!text.load(path, kMaxDocumentFileBytes, JsonText::Mapping::IfLarge)) {
        ImportFailure::noteCannotLoad(path, kMaxDocumentFileBytes);
        return false;
    }
    CocoDocumentReader reader(path);
    const bool read = reader.read(text);
    // A large file is read where it lies on the disk: another program may
    // have cut it short or rewritten it meanwhile.
    if (text.changedSinceLoad()) {
        ImportFailure::note(path, QStringLiteral("the file changed while it was read."));
        return false;
    }
    if (!read) {
        ImportFailure::noteDamagedJson(path);
        return false;
    }
    text = JsonText();
    if (reader.entries.isEmpty()) {
        ImportFailure::note(path, QStringLiteral("the file lists no images."));
        return false;
    }
    QList<ImageEntry> &entries = reader.entries;
    assignFreeIds(entries, reader.keepsId);

    // Each image's annotations, with their class names; annotations of an
    // image id that no image has are left out.
    const QStringList classNames = reader.classNamesOfCategoryIds();
    for (auto it = reader.positionById.cbegin(); it != reader.positionById.cend(); ++it) {
        const auto found = reader.annotationsByImage.find(it.key());
        if (found == reader.annotationsByImage.end())
            continue;
        QList<Annotation> &labels = found->annotations;
        for (qsizetype i = 0; i < labels.size(); ++i)
            labels[i].className = classNames.at(found->categories.at(i));
        entries[it.value()].labels = std::move(labels);
    }

    for (const QString &name : std::as_const(reader.classOrder))
        dataset.addClass(name, QColor());
    if (reader.schema.isInUse() && !dataset.keypointSchema.isInUse())
        dataset.setKeypointSchema(reader.schema);
    const int total = int(entries.size());
    for (int i = 0; i < total; ++i) {
        dataset.addImage(entries.at(i));
        if (progress)
            progress(i + 1, total);
    }
    return true;
}

} // namespace Quillmark
