#include "formats/LabelMeHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/FolderListing.h"
#include "formats/ImageProbe.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "model/FiniteNumber.h"
#include "model/JsonIndentedWriter.h"
#include "model/JsonParser.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace Quillmark {

QString LabelMeHandler::name() const
{
    return QStringLiteral("LabelMe");
}
QString LabelMeHandler::extension() const
{
    return QStringLiteral("json");
}

// ---- detection ------------------------------------------------------------

namespace {

const QByteArray kImageDataKey = "\"imageData\"";
const QByteArray kImagePathKey = "\"imagePath\"";
const QByteArray kShapesKey = "\"shapes\"";

// Whether an "imageData" key in `text` has a value other than null.
bool hasNonNullImageData(QByteArrayView text)
{
    for (qsizetype at = text.indexOf(kImageDataKey); at >= 0; at = text.indexOf(kImageDataKey, at + 1)) {
        qsizetype i = at + kImageDataKey.size();
        while (i < text.size() && (text.at(i) == ' ' || text.at(i) == '\t' || text.at(i) == '\r' ||
                                   text.at(i) == '\n' || text.at(i) == ':'))
            ++i;
        if (i < text.size() && text.at(i) == '"')
            return true;
    }
    return false;
}

// The first 512 bytes: an embedded image, or the name of one beside shapes.
bool headLooksLikeLabelMe(const QByteArray &head)
{
    if (head.contains(kImageDataKey) && !head.contains(kImageDataKey + ": null") &&
        !head.contains(kImageDataKey + ":null"))
        return true;
    return head.contains(kImagePathKey) && head.contains(kShapesKey);
}

bool startsAsObject(QByteArrayView head)
{
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    return head.trimmed().startsWith('{');
}

// Searches the rest of the file in chunks, each with the end of the one before
// so that no key is cut in two. Every LabelMe file names one of its keys
// early; a file that names none in its first 64 KiB is no LabelMe file, which
// keeps large unrelated JSON files from being read to their end, and one that
// has not named both kinds of key within the detection bound is none either.
bool restLooksLikeLabelMe(QFile &file)
{
    constexpr qint64 chunkBytes = 64 * 1024;
    constexpr qsizetype overlap = 64;
    bool shapes = false;
    bool imagePath = false;
    bool imageData = false;
    QByteArray window;
    file.seek(0);
    for (qint64 read = 0; read < kMaxDetectionBytes; read += chunkBytes) {
        const QByteArray chunk = file.read(chunkBytes);
        if (chunk.isEmpty())
            return false;
        window = window.right(overlap) + chunk;
        shapes = shapes || window.contains(kShapesKey);
        imagePath = imagePath || window.contains(kImagePathKey);
        imageData = imageData || hasNonNullImageData(window);
        if (shapes && (imagePath || imageData))
            return true;
        if (read == 0 && !shapes && !imagePath && !window.contains(kImageDataKey))
            return false;
    }
    return false;
}

} // namespace

bool isLabelMeJsonFile(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    const QByteArray head = file.read(512);
    if (headLooksLikeLabelMe(head))
        return true;
    return startsAsObject(head) && restLooksLikeLabelMe(file);
}

QStringList labelMeFiles(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return {path};
    if (!info.isDir())
        return {};
    return listFilesRecursively(path, {QStringLiteral("*.json")});
}

bool LabelMeHandler::canImport(const QString &path) const
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return isLabelMeJsonFile(path);
    const QStringList files = listFilesRecursively(path, {QStringLiteral("*.json")});
    return std::any_of(files.cbegin(), files.cend(), isLabelMeJsonFile);
}

// ---- import ---------------------------------------------------------------

QString resolveLabelMeImagePath(const QString &folder, const QString &imagePath)
{
    return resolveDatasetImagePath(QDir(folder), imagePath, MissingImage::BesideDatasetFile);
}

namespace {

// What a LabelMe file holds.
struct LabelMeContent {
    bool hasShapes = false;
    bool hasImagePath = false;
    bool hasImageData = false;
    QString imagePath;
    QByteArray imageData; // the Base64 text, when read
    bool embedsImage = false;
    int width = 0;
    int height = 0;
    QList<Annotation> annotations;
};

enum class Detail {
    Everything,
    ImageSources, // only what names or holds the image; shapes are checked, not kept
};

QList<QPointF> readPoints(JsonValue &value)
{
    QList<QPointF> points;
    value.forEachElement([&](JsonValue &element) {
        double xy[2] = {0.0, 0.0};
        int count = 0;
        element.forEachElement([&](JsonValue &coordinate) {
            if (count < 2)
                xy[count] = coordinate.toDouble(0.0);
            else
                coordinate.skip();
            ++count;
        });
        if (count >= 2)
            points.append(QPointF(xy[0], xy[1]));
    });
    return points;
}

QRectF pointBounds(const QList<QPointF> &points)
{
    return points.size() < 2 ? QRectF() : QPolygonF(points).boundingRect();
}

// A LabelMe circle is given by its centre and a point on its edge.
QList<QPointF> circleOutline(const QList<QPointF> &points)
{
    if (points.size() < 2)
        return points;
    const QPointF edge = points.at(1) - points.at(0);
    const double radius = std::hypot(edge.x(), edge.y());
    return ellipseOutline(points.at(0), radius, radius);
}

// A keypoint set is written as one "point" shape per labelled point, the
// points of a set sharing a group_id, each naming its place in the set as
// "keypoint <n>" (from 1) in its description, followed by ", occluded" for an
// occluded point.
const QString kKeypointDescription = QStringLiteral("keypoint %1");
const QString kOccludedSuffix = QStringLiteral(", occluded");

// The object a shape is part of. A point shape may stand for a keypoint of a
// set: its group and its place in the set (both -1 for any other shape). A
// polygon of a group is a part of an object whose other parts are the
// polygons of that group and label (-1 for any other shape).
struct GroupOfShape {
    int group = -1;
    int index = -1;
    bool occluded = false;
    int polygonGroup = -1;
};

int keypointIndexOf(QString description)
{
    static const QString prefix = QStringLiteral("keypoint ");
    if (!description.startsWith(prefix))
        return -1;
    if (description.endsWith(kOccludedSuffix))
        description.chop(kOccludedSuffix.size());
    bool ok = false;
    const int number = description.mid(prefix.size()).toInt(&ok);
    return ok && number >= 1 && number <= 4096 ? number - 1 : -1;
}

// One shape as an annotation; false for a shape without a label or beyond
// single precision.
bool readShape(JsonValue &value, Annotation *annotation, GroupOfShape *shapeGroup)
{
    QString label;
    QString type;
    QString description;
    int group = -1;
    QList<QPointF> points;
    value.forEachMember([&](std::string_view key, JsonValue &member) {
        if (key == "label")
            label = member.toString().trimmed();
        else if (key == "shape_type")
            type = member.toString();
        else if (key == "points")
            points = readPoints(member);
        else if (key == "description")
            description = member.toString();
        else if (key == "group_id")
            group = member.isNumber() ? member.toInt(-1) : -1;
    });
    *shapeGroup = GroupOfShape();
    if (type == QLatin1String("point") && group >= 0 && points.size() == 1)
        *shapeGroup = {group, keypointIndexOf(description), description.endsWith(kOccludedSuffix)};
    if (shapeGroup->index < 0)
        shapeGroup->group = -1;
    // Only plain polygons are parts; circles, boxes and lines of a group
    // stay shapes of their own.
    if (type == QLatin1String("polygon") && group >= 0 && points.size() >= 3)
        shapeGroup->polygonGroup = group;
    if (label.isEmpty())
        return false;
    *annotation = Annotation();
    annotation->className = label;
    annotation->confidence = 1.0f;
    // A mask shape keeps its pixels in a picture of its own and names their
    // box by two corners, as a rectangle does.
    if (type == QLatin1String("rectangle") || type == QLatin1String("mask")) {
        annotation->kind = BoundingBox;
        annotation->bbox = pointBounds(points);
    } else if (type == QLatin1String("point")) {
        annotation->kind = Point;
        annotation->points = points;
        if (!points.isEmpty())
            annotation->bbox = QRectF(points.first().x() - 1.0, points.first().y() - 1.0, 2.0, 2.0);
    } else {
        // Line strips stay open; every other type, circles and unknown ones
        // included, is an outline.
        const bool line = type == QLatin1String("line") || type == QLatin1String("linestrip");
        annotation->kind = line ? Polyline : Polygon;
        annotation->points = type == QLatin1String("circle") ? circleOutline(points) : points;
        annotation->bbox = pointBounds(annotation->points);
    }
    // The finite-number rule: a shape that single precision cannot hold is
    // left out.
    return geometryFitsFloat(*annotation);
}

// Places a point shape's point in its set, unlabelled places filling the gap.
void addKeypoint(Annotation &set, const GroupOfShape &keypoint, const QPointF &at)
{
    while (set.points.size() <= keypoint.index) {
        set.points.append(QPointF());
        set.keypointVis.append(0);
    }
    set.points[keypoint.index] = at;
    set.keypointVis[keypoint.index] = keypoint.occluded ? 1 : 2;
    set.bbox = keypointBounds(set);
}

bool readLabelMeContent(const QString &path, Detail detail, LabelMeContent *content)
{
    JsonText text;
    if (!text.load(path, kMaxDocumentFileBytes))
        return false;
    JsonParser parser;
    bool isObject = false;
    const bool parsed = parser.parse(text, [&](JsonValue &root) {
        isObject = root.isObject();
        root.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "imagePath") {
                content->hasImagePath = true;
                content->imagePath = value.toString();
            } else if (key == "imageData") {
                content->hasImageData = true;
                if (detail == Detail::Everything) {
                    content->imageData = value.toUtf8();
                    content->embedsImage = !content->imageData.isEmpty();
                } else {
                    content->embedsImage = !value.rawString().isEmpty();
                }
            } else if (key == "imageWidth") {
                content->width = value.toInt(0);
            } else if (key == "imageHeight") {
                content->height = value.toInt(0);
            } else if (key == "shapes") {
                content->hasShapes = true;
                content->annotations.clear();
                if (detail == Detail::ImageSources)
                    return;
                QHash<QPair<QString, int>, qsizetype> sets; // (label, group) -> annotation
                QList<qint64> polygonGroups;                // one per annotation
                value.forEachElement([&](JsonValue &element) {
                    Annotation annotation;
                    GroupOfShape shapeGroup;
                    if (!readShape(element, &annotation, &shapeGroup))
                        return;
                    if (shapeGroup.group < 0) {
                        content->annotations.append(annotation);
                        polygonGroups.append(shapeGroup.polygonGroup);
                        return;
                    }
                    const QPair<QString, int> key{annotation.className, shapeGroup.group};
                    auto found = sets.constFind(key);
                    if (found == sets.cend()) {
                        Annotation set;
                        set.className = annotation.className;
                        set.kind = Keypoint;
                        content->annotations.append(set);
                        polygonGroups.append(-1);
                        found = sets.insert(key, content->annotations.size() - 1);
                    }
                    addKeypoint(content->annotations[found.value()], shapeGroup, annotation.points.first());
                });
                // The polygons of one object, which LabelMe gives as shapes
                // of one group, are one object again.
                joinGroupedPolygons(content->annotations, polygonGroups);
            }
        });
    });
    return parsed && isObject && (content->hasShapes || content->hasImagePath || content->hasImageData);
}

// The file suffixes that fit images of a format, the usual one first.
QStringList suffixesOf(const QByteArray &format)
{
    if (format == "jpeg" || format == "jpg")
        return {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe")};
    if (format == "tiff" || format == "tif")
        return {QStringLiteral("tiff"), QStringLiteral("tif")};
    return {QString::fromLatin1(format)};
}

// The name an embedded image is written under: the last component of
// "imagePath", or the JSON file's own name when that is empty or no name at
// all; with a suffix that fits the format the bytes are in.
QString embeddedImageName(const QString &imagePath, const QString &jsonPath, const QByteArray &format)
{
    QString name = fileNamePart(imagePath);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QFileInfo(jsonPath).completeBaseName();
    const QStringList suffixes = suffixesOf(format);
    const QFileInfo info(name);
    if (suffixes.contains(info.suffix().toLower()))
        return name;
    const QString stem = info.suffix().isEmpty() ? name : info.completeBaseName();
    return (stem.isEmpty() ? QStringLiteral("image") : stem) + QLatin1Char('.') + suffixes.first();
}

bool holdsBytes(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() != bytes.size())
        return false;
    QByteArray existing;
    return readWholeFile(path, bytes.size(), &existing) && existing == bytes;
}

// The file an embedded image is kept in beside the JSON file: the named one
// when it is free or already holds these very bytes, else the first of
// "<stem>_2.<suffix>", "<stem>_3.<suffix>", ... that is. Another image's
// file is never taken. Empty when the image could not be written.
QString placeEmbeddedImage(const QDir &folder, const QString &name, const QByteArray &bytes)
{
    const QFileInfo info(name);
    for (int n = 1; n <= 1000; ++n) {
        const QString candidate =
            n == 1 ? name : QStringLiteral("%1_%2.%3").arg(info.completeBaseName()).arg(n).arg(info.suffix());
        const QString path = pathInFolder(folder, candidate);
        if (holdsBytes(path, bytes))
            return path;
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            continue;
        return writeFileAtomically(path, bytes) ? path : QString();
    }
    return {};
}

struct ChosenImage {
    QString filePath;
    QByteArray bytes; // pixels kept in memory when they could not be written
    QSize size;
    bool found = false;
};

// The embedded image, when the bytes are an image.
bool takeEmbeddedImage(const QString &jsonPath, const LabelMeContent &content, ChosenImage *chosen)
{
    const QByteArray bytes = QByteArray::fromBase64(content.imageData);
    QByteArray format;
    const QSize size = probeImageData(bytes, &format);
    if (size.isEmpty())
        return false;
    const QDir folder(QFileInfo(jsonPath).absolutePath());
    const QString name = embeddedImageName(content.imagePath, jsonPath, format);
    chosen->filePath = placeEmbeddedImage(folder, name, bytes);
    if (chosen->filePath.isEmpty()) {
        // A folder we may not write to: the pixels stay in memory, under a
        // bare name as the pixels of a package do, so that nothing takes the
        // file of another picture for them.
        chosen->filePath = name;
        chosen->bytes = bytes;
    }
    chosen->size = size;
    chosen->found = true;
    return true;
}

ChosenImage chooseImage(const QString &jsonPath, const LabelMeContent &content, bool preferExternal)
{
    ChosenImage chosen;
    const QString resolved = resolveLabelMeImagePath(QFileInfo(jsonPath).absolutePath(), content.imagePath);
    const bool external = !resolved.isEmpty() && QFileInfo(resolved).isFile();
    if (preferExternal && external) {
        chosen.filePath = resolved;
        chosen.found = true;
        return chosen;
    }
    if (content.embedsImage && takeEmbeddedImage(jsonPath, content, &chosen))
        return chosen;
    if (external) {
        chosen.filePath = resolved;
        chosen.found = true;
        return chosen;
    }
    chosen.filePath = jsonPath;
    return chosen;
}

} // namespace

bool readLabelMeFile(const QString &path, Dataset &dataset, bool preferExternal)
{
    LabelMeContent content;
    if (!readLabelMeContent(path, Detail::Everything, &content))
        return false;
    const QString jsonPath = QFileInfo(path).absoluteFilePath();
    const ChosenImage chosen = chooseImage(jsonPath, content, preferExternal);
    ImageEntry entry;
    entry.filePath = chosen.filePath;
    entry.imageData = chosen.bytes;
    entry.width = content.width;
    entry.height = content.height;
    if ((entry.width < 1 || entry.height < 1) && chosen.found) {
        const QSize size = chosen.size.isEmpty() ? probeImageSize(chosen.filePath) : chosen.size;
        entry.width = size.width();
        entry.height = size.height();
    }
    entry.labels = content.annotations;
    dataset.addImage(entry);
    return true;
}

bool labelMeFileHasBothImageSources(const QString &path)
{
    LabelMeContent content;
    if (!readLabelMeContent(path, Detail::ImageSources, &content) || !content.embedsImage)
        return false;
    const QString resolved = resolveLabelMeImagePath(QFileInfo(path).absolutePath(), content.imagePath);
    return !resolved.isEmpty() && QFileInfo(resolved).isFile();
}

bool labelMeImportHasBothImageSources(const QString &path)
{
    const QStringList files = labelMeFiles(path);
    return std::any_of(files.cbegin(), files.cend(), labelMeFileHasBothImageSources);
}

bool LabelMeHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QStringList files = labelMeFiles(path);
    const bool preferExternal = useExternalImages == 1;
    const int total = int(files.size());
    bool anyRead = false;
    for (int i = 0; i < total; ++i) {
        anyRead = readLabelMeFile(files.at(i), dataset, preferExternal) || anyRead;
        if (progress)
            progress(i + 1, total);
    }
    return anyRead;
}

// ---- export ---------------------------------------------------------------

namespace {

// The largest picture embedded in a LabelMe file: its base64 text must stay a
// document that LabelMe and our own reader load whole.
constexpr qint64 kMaxEmbeddedImageBytes = 256LL * 1024 * 1024;

// Encoded pixels that carry an orientation tag (a camera's JPEG turned on
// its side) as the upright picture, in PNG: LabelMe takes the size of the
// embedded data as it is stored, so a sideways picture would put every shape
// in the wrong place. Other bytes are returned as they are.
QByteArray uprightBytes(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (reader.transformation() == QImageIOHandler::TransformationNone)
        return bytes;
    reader.setAutoTransform(true);
    const QImage upright = reader.read();
    if (upright.isNull())
        return bytes;
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    return upright.save(&out, "PNG") ? png : bytes;
}

// The bytes to embed: the image file as it is, else the pixels held in
// memory (as they were encoded, or as PNG); upright either way. Only
// pictures are embedded: a dataset may name any file as its image.
QByteArray embeddedBytes(const ImageEntry &image)
{
    QByteArray bytes;
    if (isAbsoluteFilePath(image.filePath) && QFileInfo(image.filePath).isFile()) {
        if (isPictureFile(image.filePath) && readWholeFile(image.filePath, kMaxEmbeddedImageBytes, &bytes) &&
            isPictureData(bytes))
            return uprightBytes(bytes);
        return {};
    }
    if (!image.imageData.isEmpty())
        return isPictureData(image.imageData) ? uprightBytes(image.imageData) : QByteArray();
    if (image.image.isNull())
        return {};
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.image.save(&buffer, "PNG");
    return bytes;
}

QString shapeType(int kind)
{
    switch (kind) {
    case BoundingBox:
        return QStringLiteral("rectangle");
    case Polyline:
        return QStringLiteral("linestrip");
    case Point:
        return QStringLiteral("point");
    default:
        return QStringLiteral("polygon");
    }
}

void writePoint(JsonIndentedWriter &w, double x, double y)
{
    w.beginArray();
    w.value(x);
    w.value(y);
    w.endArray();
}

// The labelled points of a keypoint set, one "point" shape each, sharing
// `group`; unlabelled points are left out.
void writeKeypointShapes(JsonIndentedWriter &w, const Annotation &set, int group)
{
    for (qsizetype i = 0; i < set.points.size(); ++i) {
        const int visibility = i < set.keypointVis.size() ? set.keypointVis.at(i) : 2;
        if (visibility <= 0)
            continue;
        w.beginObject();
        w.key("description");
        w.value(kKeypointDescription.arg(i + 1) + (visibility == 1 ? kOccludedSuffix : QString()));
        w.key("flags");
        w.beginObject();
        w.endObject();
        w.key("group_id");
        w.value(group);
        w.key("label");
        w.value(set.className);
        w.key("points");
        w.beginArray();
        writePoint(w, set.points.at(i).x(), set.points.at(i).y());
        w.endArray();
        w.key("shape_type");
        w.value(QStringLiteral("point"));
        w.endObject();
    }
}

// One shape; `group` above 0 ties it to the other shapes of its object.
void writeShape(JsonIndentedWriter &w, const Annotation &annotation, const QList<QPointF> &points, int group = 0)
{
    w.beginObject();
    w.key("flags");
    w.beginObject();
    w.endObject();
    w.key("group_id");
    if (group > 0)
        w.value(group);
    else
        w.nullValue();
    w.key("label");
    w.value(annotation.className);
    w.key("points");
    w.beginArray();
    if (annotation.kind == BoundingBox) {
        writePoint(w, annotation.bbox.left(), annotation.bbox.top());
        writePoint(w, annotation.bbox.right(), annotation.bbox.bottom());
    } else {
        for (const QPointF &p : points)
            writePoint(w, p.x(), p.y());
    }
    w.endArray();
    w.key("shape_type");
    w.value(shapeType(annotation.kind));
    w.endObject();
}

// An object of several polygons is one polygon shape per part, the parts
// sharing a group_id, as LabelMe groups the shapes of one instance.
void writePolygonShapes(JsonIndentedWriter &w, const Annotation &annotation, int *group)
{
    const QList<QList<QPointF>> parts = objectParts(annotation);
    if (parts.size() < 2) {
        writeShape(w, annotation, annotation.points);
        return;
    }
    ++*group;
    for (const QList<QPointF> &part : parts)
        writeShape(w, annotation, part, *group);
}

QByteArray labelMeFileBytes(const ImageEntry &image, const QString &imageName, const QByteArray &embedded,
                            const QSize &size)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    JsonIndentedWriter w(&buffer);
    w.beginObject();
    w.key("flags");
    w.beginObject();
    w.endObject();
    w.key("imageData");
    if (embedded.isEmpty())
        w.nullValue();
    else
        w.value(QByteArrayView(embedded.toBase64()));
    w.key("imageHeight");
    w.value(size.height());
    w.key("imagePath");
    w.value(imageName);
    w.key("imageWidth");
    w.value(size.width());
    w.key("shapes");
    w.beginArray();
    int group = 0;
    for (const Annotation &annotation : image.labels) {
        if (annotation.kind == Keypoint)
            writeKeypointShapes(w, annotation, ++group);
        else if (annotation.kind == Polygon)
            writePolygonShapes(w, annotation, &group);
        else
            writeShape(w, annotation, annotation.points);
    }
    w.endArray();
    w.key("version");
    w.value(QStringLiteral("5.2.1"));
    w.endObject();
    w.finish();
    return bytes;
}

} // namespace

bool LabelMeHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const bool embed = useExternalImages == 0;
    const QString folderPrefix = imageFolder.isEmpty() ? QString() : imageFolder + QLatin1Char('/');
    auto contents = [&](const ImageEntry &image, const QString &imageName) {
        const QByteArray embedded = embed ? embeddedBytes(image) : QByteArray();
        // LabelMe checks an embedded image against the size the file gives,
        // so that comes from the embedded pixels themselves.
        const QSize embeddedSize = embedded.isEmpty() ? QSize() : probeImageData(embedded);
        const QSize size = embeddedSize.isEmpty() ? knownImageSize(image) : embeddedSize;
        return labelMeFileBytes(image, folderPrefix + imageName, embedded, size);
    };
    return writeAnnotationFiles(path, dataset, QStringLiteral(".json"), contents, progress);
}

} // namespace Quillmark
