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
    const QStringList candidates = listFiles(path, {QStringLiteral("*.json")});
    return std::any_of(candidates.cbegin(), candidates.cend(), isCocoJsonFile);
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
    }
    object.insert(QStringLiteral("segmentation"), segmentation);
    object.insert(QStringLiteral("bbox"), rectArray(box));
    object.insert(QStringLiteral("area"), box.width() * box.height());
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

QString lastPathComponent(const QString &name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? name : name.mid(cut + 1);
}

QString resolveImagePath(const QDir &base, const QString &fileName)
{
    if (fileName.isEmpty())
        return {};
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    const QString direct = base.filePath(fileName);
    if (QFileInfo::exists(direct))
        return direct;
    return base.filePath(QStringLiteral("images/") + lastPathComponent(fileName));
}

Annotation annotationFromObject(const QJsonObject &object, const QHash<qint64, QString> &categories)
{
    Annotation a;
    a.id = jsonInt(object.value(QLatin1String("id")), 0);
    const qint64 categoryId = jsonInt64(object.value(QLatin1String("category_id")), 0);
    const auto category = categories.constFind(categoryId);
    a.className = category != categories.cend() ? *category : QStringLiteral("class_%1").arg(categoryId);
    a.confidence = 1.0f;

    const QJsonArray values = object.value(QLatin1String("keypoints")).toArray();
    const QJsonArray segmentation = object.value(QLatin1String("segmentation")).toArray();
    if (!values.isEmpty()) {
        a.kind = Keypoint;
        for (qsizetype i = 0; i + 2 < values.size(); i += 3) {
            a.points.append(QPointF(jsonDouble(values.at(i), 0.0), jsonDouble(values.at(i + 1), 0.0)));
            a.keypointVis.append(jsonInt(values.at(i + 2), 0));
        }
    } else if (!segmentation.isEmpty() && segmentation.first().isArray()) {
        const QJsonArray polygon = segmentation.first().toArray();
        a.kind = Polygon;
        for (qsizetype i = 0; i + 1 < polygon.size(); i += 2)
            a.points.append(QPointF(jsonDouble(polygon.at(i), 0.0), jsonDouble(polygon.at(i + 1), 0.0)));
    } else {
        a.kind = BoundingBox;
    }

    const QJsonValue bbox = object.value(QLatin1String("bbox"));
    if (bbox.isArray() && bbox.toArray().size() == 4) {
        const QJsonArray b = bbox.toArray();
        a.bbox = QRectF(jsonDouble(b.at(0), 0.0), jsonDouble(b.at(1), 0.0), jsonDouble(b.at(2), 0.0),
                        jsonDouble(b.at(3), 0.0));
    }
    return a;
}

// Images whose file id is negative or does not fit an entry id cannot keep
// it; they get ids that no other image of the file uses.
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
    const QDir base(QFileInfo(path).absolutePath());

    QHash<qint64, QString> categories;
    const QJsonArray categoryArray = root.value(QLatin1String("categories")).toArray();
    for (const QJsonValue &value : categoryArray) {
        const QJsonObject category = value.toObject();
        categories.insert(jsonInt64(category.value(QLatin1String("id")), 0),
                          jsonString(category.value(QLatin1String("name"))));
    }

    QList<ImageEntry> entries;
    QList<bool> keepsId;
    QHash<qint64, qsizetype> positionById;
    const QJsonArray imageArray = root.value(QLatin1String("images")).toArray();
    for (const QJsonValue &value : imageArray) {
        const QJsonObject object = value.toObject();
        const qint64 fileId = jsonInt64(object.value(QLatin1String("id")), 0);
        ImageEntry entry;
        // The largest int is left out too: the dataset sets its next id to
        // one past every id it is given, which must still be an int.
        const bool fitsId = fileId >= 0 && fileId < std::numeric_limits<int>::max();
        entry.id = fitsId ? int(fileId) : -1;
        entry.width = std::max(jsonInt(object.value(QLatin1String("width")), 0), 0);
        entry.height = std::max(jsonInt(object.value(QLatin1String("height")), 0), 0);
        entry.filePath = resolveImagePath(base, jsonString(object.value(QLatin1String("file_name"))));
        // A later image with the same id replaces the earlier one in place.
        const auto existing = positionById.constFind(fileId);
        if (existing != positionById.cend()) {
            entries[*existing] = entry;
            continue;
        }
        positionById.insert(fileId, entries.size());
        entries.append(entry);
        keepsId.append(fitsId);
    }
    if (entries.isEmpty())
        return false;
    assignFreeIds(entries, keepsId);

    const QJsonArray annotationArray = root.value(QLatin1String("annotations")).toArray();
    for (const QJsonValue &value : annotationArray) {
        const QJsonObject object = value.toObject();
        const auto position = positionById.constFind(jsonInt64(object.value(QLatin1String("image_id")), 0));
        if (position == positionById.cend())
            continue;
        entries[*position].labels.append(annotationFromObject(object, categories));
    }

    const int total = int(entries.size());
    for (int i = 0; i < total; ++i) {
        dataset.addImage(entries.at(i));
        if (progress)
            progress(i + 1, total);
    }
    return true;
}

} // namespace Quillmark
