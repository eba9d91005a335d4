#include "formats/CocoHandler.h"

#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"

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

namespace Quillmark {

QString CocoHandler::name() const { return QStringLiteral("COCO"); }
QString CocoHandler::extension() const { return QStringLiteral("json"); }

bool isCocoJsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QByteArray keys[3] = {"\"annotations\"", "\"categories\"", "\"images\""};
    bool found[3] = {false, false, false};
    // Keep the tail of the previous chunk so that a key split across two
    // chunks is still seen.
    constexpr qint64 chunkSize = 8192;
    const qsizetype overlap = keys[0].size() - 1;
    QByteArray window;
    while (true) {
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty())
            return false;
        window = window.right(overlap) + chunk;
        for (int k = 0; k < 3; ++k)
            found[k] = found[k] || window.contains(keys[k]);
        if (found[0] && (found[1] || found[2]))
            return true;
    }
}

bool CocoHandler::canImport(const QString &path) const
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return isCocoJsonFile(path);
    // The folder's own files, then those of annotations/: the root of the
    // release layout (annotations/instances_val2017.json beside val2017/).
    for (const QString &folder : {path, QDir(path).filePath(QStringLiteral("annotations"))}) {
        const QStringList candidates = listFiles(folder, {QStringLiteral("*.json")});
        if (std::any_of(candidates.cbegin(), candidates.cend(), isCocoJsonFile))
            return true;
    }
    return false;
}

namespace {

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
        if (!object.contains(it.key()) || it.key() == QLatin1String("iscrowd"))
            object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
}

int visibilityAt(const Annotation &a, int i)
{
    return i < a.keypointVis.size() ? a.keypointVis.at(i) : 2;
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
    } else if (a.kind == Polygon && !a.points.isEmpty()) {
        QJsonArray flat;
        for (const QPointF &p : a.points) {
            flat.append(p.x());
            flat.append(p.y());
        }
        segmentation.append(flat);
        box = pointsBounds(a.points);
        area = polygonArea(a.points);
    }
    object.insert(QStringLiteral("segmentation"), segmentation);
    object.insert(QStringLiteral("bbox"), rectArray(box));
    object.insert(QStringLiteral("area"), area >= 0.0 ? area : box.width() * box.height());
    insertFlags(object, a);
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
    const QStringList stems = uniqueExportStems(dataset.images);

    QJsonArray images;
    QJsonArray annotations;
    int nextAnnotationId = 1;
    const int total = int(dataset.images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &entry = dataset.images.at(i);
        QJsonObject image;
        image.insert(QStringLiteral("id"), entry.id);
        image.insert(QStringLiteral("file_name"), exportFileName(stems.at(i), entry.filePath));
        image.insert(QStringLiteral("width"), std::max(entry.width, 0));
        image.insert(QStringLiteral("height"), std::max(entry.height, 0));
        images.append(image);
        for (const Annotation &a : entry.labels) {
            annotations.append(annotationObject(a, nextAnnotationId++, entry.id, categoryIds.value(a.className),
                                                widths.value(a.className, 0)));
        }
    }

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

// Keys of an annotation object that the reader turns into geometry, class
// and id; every other member is a flag of the annotation ("iscrowd",
// "ignore", "attributes", ...), kept among its attributes and written back.
const QStringList &structuralAnnotationKeys()
{
    static const QStringList keys = {"area",     "bbox",      "category_id",   "id",
                                     "image_id", "keypoints", "num_keypoints", "segmentation"};
    return keys;
}

QString lastPathComponent(const QString &name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? name : name.mid(cut + 1);
}

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
        if (QDir::isAbsolutePath(fileName))
            return fileName;
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
        return m_base.filePath(QStringLiteral("images/") + lastPathComponent(fileName));
    }

private:
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
        const QString last = lastPathComponent(fileName);
        if (last == fileName)
            return contains(folder, fileName) ? folder.dir.filePath(fileName) : QString();
        const QString direct = folder.dir.filePath(fileName);
        if (QFileInfo::exists(direct))
            return direct;
        return contains(folder, last) ? folder.dir.filePath(last) : QString();
    }

    QDir m_base;
    QList<Folder> m_folders;
    int m_last = 0;
};

// Ids are keyed by their JSON value: numbers by their integer value (as
// before), strings by their text, so that string ids never fall together into
// the default id. Anything else takes the default 0.
QString idKey(const QJsonValue &value)
{
    if (value.isString())
        return QLatin1Char('"') + value.toString();
    return QString::number(jsonInt64(value, 0));
}

QList<QPointF> flatPoints(const QJsonArray &values)
{
    QList<QPointF> points;
    points.reserve(values.size() / 2);
    for (qsizetype i = 0; i + 1 < values.size(); i += 2)
        points.append(QPointF(jsonDouble(values.at(i), 0.0), jsonDouble(values.at(i + 1), 0.0)));
    return points;
}

QRectF boundsOfPoints(const QList<QPointF> &points)
{
    if (points.isEmpty())
        return {};
    return pointsBounds(points);
}

QVariantMap flagsOf(const QJsonObject &object)
{
    QVariantMap flags;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (structuralAnnotationKeys().contains(it.key()))
            continue;
        // The usual "not a crowd" is the default, not worth keeping.
        if (it.key() == QLatin1String("iscrowd") && jsonInt64(it.value(), -1) == 0)
            continue;
        flags.insert(it.key(), it.value().toVariant());
    }
    return flags;
}

// One annotation object as one annotation, or one per part of a segmentation
// made of several polygons (each part then has its own box).
QList<Annotation> annotationsFromObject(const QJsonObject &object, const QHash<QString, QString> &categories)
{
    Annotation a;
    a.id = jsonInt(object.value(QLatin1String("id")), 0);
    const QJsonValue categoryValue = object.value(QLatin1String("category_id"));
    const auto category = categories.constFind(idKey(categoryValue));
    a.className = category != categories.cend()
                      ? *category
                      : QStringLiteral("class_%1")
                            .arg(categoryValue.isString() ? categoryValue.toString()
                                                          : QString::number(jsonInt64(categoryValue, 0)));
    a.confidence = 1.0f;
    a.attributes = flagsOf(object);

    const QJsonValue bbox = object.value(QLatin1String("bbox"));
    if (bbox.isArray() && bbox.toArray().size() == 4) {
        const QJsonArray b = bbox.toArray();
        a.bbox = QRectF(jsonDouble(b.at(0), 0.0), jsonDouble(b.at(1), 0.0), jsonDouble(b.at(2), 0.0),
                        jsonDouble(b.at(3), 0.0));
    }

    const QJsonArray values = object.value(QLatin1String("keypoints")).toArray();
    const QJsonArray segmentation = object.value(QLatin1String("segmentation")).toArray();
    if (!values.isEmpty()) {
        a.kind = Keypoint;
        for (qsizetype i = 0; i + 2 < values.size(); i += 3) {
            a.points.append(QPointF(jsonDouble(values.at(i), 0.0), jsonDouble(values.at(i + 1), 0.0)));
            a.keypointVis.append(jsonInt(values.at(i + 2), 0));
        }
        return {a};
    }
    if (segmentation.isEmpty() || !segmentation.first().isArray())
        return {a}; // a box: no segmentation, or a run-length mask

    a.kind = Polygon;
    QList<QList<QPointF>> parts;
    for (const QJsonValue &part : segmentation) {
        if (part.isArray())
            parts.append(flatPoints(part.toArray()));
    }
    if (parts.size() == 1) {
        a.points = parts.first();
        return {a};
    }
    QList<Annotation> pieces;
    for (const QList<QPointF> &part : std::as_const(parts)) {
        if (part.size() < 3)
            continue;
        Annotation piece = a;
        piece.points = part;
        piece.bbox = boundsOfPoints(part);
        pieces.append(piece);
    }
    if (pieces.isEmpty())
        pieces.append(a); // no usable part: the object as a polygon without points
    return pieces;
}

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

} // namespace

bool CocoHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxDocumentFileBytes, &bytes))
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    bytes = QByteArray();
    if (error.error != QJsonParseError::NoError)
        return false;
    const QJsonObject root = document.object();

    // Every category is a class, used or not; the first keypoint category
    // gives the keypoint schema.
    QHash<QString, QString> categories;
    QStringList classOrder;
    KeypointSchema schema;
    const QJsonArray categoryArray = root.value(QLatin1String("categories")).toArray();
    for (const QJsonValue &value : categoryArray) {
        if (!value.isObject())
            continue;
        const QJsonObject category = value.toObject();
        const QString name = jsonString(category.value(QLatin1String("name")));
        categories.insert(idKey(category.value(QLatin1String("id"))), name);
        classOrder.append(name);
        if (schema.keypointNames.isEmpty() && category.value(QLatin1String("keypoints")).toArray().size() > 0)
            schema = schemaFromCategory(category);
    }

    CocoImageResolver resolver(path);
    QList<ImageEntry> entries;
    QList<bool> keepsId;
    QHash<QString, qsizetype> positionById;
    const QJsonArray imageArray = root.value(QLatin1String("images")).toArray();
    for (const QJsonValue &value : imageArray) {
        if (!value.isObject())
            continue;
        const QJsonObject object = value.toObject();
        const QJsonValue idValue = object.value(QLatin1String("id"));
        const qint64 fileId = jsonInt64(idValue, 0);
        ImageEntry entry;
        // The largest int is left out too: the dataset sets its next id to
        // one past every id it is given, which must still be an int.
        const bool fitsId = !idValue.isString() && fileId >= 0 && fileId < std::numeric_limits<int>::max();
        entry.id = fitsId ? int(fileId) : -1;
        entry.width = std::max(jsonInt(object.value(QLatin1String("width")), 0), 0);
        entry.height = std::max(jsonInt(object.value(QLatin1String("height")), 0), 0);
        entry.filePath = resolver.resolve(jsonString(object.value(QLatin1String("file_name"))));
        // A later image with the same id replaces the earlier one in place.
        const QString key = idKey(idValue);
        const auto existing = positionById.constFind(key);
        if (existing != positionById.cend()) {
            entries[*existing] = entry;
            keepsId[*existing] = fitsId;
            continue;
        }
        positionById.insert(key, entries.size());
        entries.append(entry);
        keepsId.append(fitsId);
    }
    if (entries.isEmpty())
        return false;
    assignFreeIds(entries, keepsId);

    const QJsonArray annotationArray = root.value(QLatin1String("annotations")).toArray();
    for (const QJsonValue &value : annotationArray) {
        if (!value.isObject())
            continue;
        const QJsonObject object = value.toObject();
        const auto position = positionById.constFind(idKey(object.value(QLatin1String("image_id"))));
        if (position == positionById.cend())
            continue;
        entries[*position].labels.append(annotationsFromObject(object, categories));
    }

    for (const QString &name : std::as_const(classOrder))
        dataset.addClass(name, QColor());
    if (schema.isInUse() && !dataset.keypointSchema.isInUse())
        dataset.setKeypointSchema(schema);
    const int total = int(entries.size());
    for (int i = 0; i < total; ++i) {
        dataset.addImage(entries.at(i));
        if (progress)
            progress(i + 1, total);
    }
    return true;
}

} // namespace Quillmark
