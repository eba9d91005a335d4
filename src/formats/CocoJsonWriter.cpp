#include "formats/CocoJsonWriter.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportNames.h"
#include "model/AnnotationKind.h"
#include "model/GeometryAttributes.h"
#include "model/JobQueue.h"
#include "model/JsonIndentedWriter.h"

#include <QBuffer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <vector>

namespace Quillmark {

namespace {

QJsonArray rectArray(const QRectF &r)
{
    return QJsonArray{r.x(), r.y(), r.width(), r.height()};
}

// The annotation's flags, as read from a COCO file or another format, back
// as members of the object; COCO's own keys are never overwritten, and the
// geometry the object came with is written in its own place. The crowd flag
// is written as COCO's loaders test it, 0 or 1, whatever form it was kept in
// (a "0" text would be taken for a crowd).
void insertFlags(QJsonObject &object, const Annotation &a)
{
    for (auto it = a.attributes.cbegin(); it != a.attributes.cend(); ++it) {
        if (it.key() == GeometryAttribute::Crowd)
            object.insert(it.key(), isCrowdRegion(a) ? 1 : 0);
        else if (!isGeometryAttribute(it.key()) && !object.contains(it.key()))
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
    const QJsonValue mask = QJsonValue::fromVariant(a.attributes.value(GeometryAttribute::Mask));
    if ((a.kind == BoundingBox || a.kind == Keypoint) && isRunLengthMask(mask)) {
        object.insert(QStringLiteral("segmentation"), mask);
        bool known = false;
        const double area = a.attributes.value(GeometryAttribute::Area).toDouble(&known);
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

QJsonArray flatPart(const QList<QPointF> &points)
{
    QJsonArray flat;
    for (const QPointF &p : points) {
        flat.append(p.x());
        flat.append(p.y());
    }
    return flat;
}

QJsonArray keypointTriplets(const Annotation &a, int keypointWidth, int *labelled)
{
    QJsonArray keypoints;
    *labelled = 0;
    const int width = std::max(keypointWidth, int(a.points.size()));
    for (int j = 0; j < width; ++j) {
        if (j < a.points.size()) {
            keypoints.append(a.points.at(j).x());
            keypoints.append(a.points.at(j).y());
            keypoints.append(visibilityAt(a, j));
            *labelled += visibilityAt(a, j) > 0 ? 1 : 0;
        } else {
            keypoints.append(0);
            keypoints.append(0);
            keypoints.append(0);
        }
    }
    return keypoints;
}

// What an annotation object holds besides its ids.
struct CocoObject {
    QRectF box;
    double area = 0.0;
    QList<QList<QPointF>> segmentation; // polygons
    QList<QPointF> keypoints;           // a keypoint set's points, with their visibilities
    bool hasKeypoints = false;
};

CocoObject cocoObject(const Annotation &a)
{
    CocoObject o;
    o.box = a.bbox;
    double area = -1.0;
    if (a.kind == Keypoint) {
        o.hasKeypoints = true;
        o.box = keypointSetBox(a);
    } else if (a.kind == Polygon && !a.points.isEmpty()) {
        // The area COCO evaluation buckets objects by is the outline's own
        // (the shoelace formula), or the one an object of several parts came
        // with (its mask's), which the parts' sum only comes near.
        o.segmentation = objectParts(a);
        area = 0.0;
        for (const QList<QPointF> &part : o.segmentation)
            area += outlineArea(part);
        o.box = polygonObjectBox(a);
        bool known = false;
        const double keptArea = a.attributes.value(GeometryAttribute::Area).toDouble(&known);
        if (o.segmentation.size() > 1 && known && keptArea >= 0.0)
            area = keptArea;
    } else if ((a.kind == Polyline || a.kind == Point) && !a.points.isEmpty()) {
        // A line or a point has no region to segment; its box is that of its
        // points (a point's has no area).
        o.box = pointsBounds(a.kind == Point ? QList<QPointF>{a.points.first()} : a.points);
    }
    o.area = area >= 0.0 ? area : o.box.width() * o.box.height();
    return o;
}

// Whether the annotation is written with more than COCO's own members: flags
// it came with, or a crowd region's mask.
bool carriesMore(const Annotation &a)
{
    for (auto it = a.attributes.cbegin(); it != a.attributes.cend(); ++it) {
        if (!isGeometryAttribute(it.key()) || it.key() == GeometryAttribute::Crowd ||
            it.key() == GeometryAttribute::Mask)
            return true;
    }
    return false;
}

// The annotation as one JSON object, for the few that carry more than COCO's
// own members.
QJsonObject annotationObject(const Annotation &a, const CocoObject &o, int id, int imageId, int categoryId,
                             int keypointWidth)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("image_id"), imageId);
    object.insert(QStringLiteral("category_id"), categoryId);
    object.insert(QStringLiteral("iscrowd"), 0);
    if (o.hasKeypoints) {
        int labelled = 0;
        object.insert(QStringLiteral("keypoints"), keypointTriplets(a, keypointWidth, &labelled));
        object.insert(QStringLiteral("num_keypoints"), labelled);
    }
    QJsonArray segmentation;
    for (const QList<QPointF> &part : o.segmentation)
        segmentation.append(flatPart(part));
    object.insert(QStringLiteral("segmentation"), segmentation);
    object.insert(QStringLiteral("bbox"), rectArray(o.box));
    object.insert(QStringLiteral("area"), o.area);
    insertFlags(object, a);
    writeCrowdRegion(object, a);
    return object;
}

// The annotation written member by member, in the key order of a JSON
// object, as annotationObject would give it.
void writeAnnotation(JsonIndentedWriter &w, const Annotation &a, const CocoObject &o, int id, int imageId,
                     int categoryId, int keypointWidth)
{
    w.beginObject();
    w.key("area");
    w.value(o.area);
    w.key("bbox");
    w.beginArray();
    w.value(o.box.x());
    w.value(o.box.y());
    w.value(o.box.width());
    w.value(o.box.height());
    w.endArray();
    w.key("category_id");
    w.value(categoryId);
    w.key("id");
    w.value(id);
    w.key("image_id");
    w.value(imageId);
    w.key("iscrowd");
    w.value(0);
    if (o.hasKeypoints) {
        const int width = std::max(keypointWidth, int(a.points.size()));
        int labelled = 0;
        w.key("keypoints");
        w.beginArray();
        for (int j = 0; j < width; ++j) {
            if (j < a.points.size()) {
                w.value(a.points.at(j).x());
                w.value(a.points.at(j).y());
                w.value(visibilityAt(a, j));
                labelled += visibilityAt(a, j) > 0 ? 1 : 0;
            } else {
                w.value(0);
                w.value(0);
                w.value(0);
            }
        }
        w.endArray();
        w.key("num_keypoints");
        w.value(labelled);
    }
    w.key("segmentation");
    w.beginArray();
    for (const QList<QPointF> &part : o.segmentation) {
        w.beginArray();
        for (const QPointF &p : part) {
            w.value(p.x());
            w.value(p.y());
        }
        w.endArray();
    }
    w.endArray();
    w.endObject();
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

namespace {

// What every annotation object needs of the whole dataset.
struct CocoContext {
    QHash<QString, int> categoryIds;
    QHash<QString, int> widths;
};

// The annotations of images [first, end), their ids from `firstId` on, as
// items of the "annotations" array, each after ",\n"; progress (i + 1, n)
// before image i when given.
QByteArray annotationItems(const QList<ImageEntry> &images, int first, int end, int firstId,
                           const CocoContext &context, const ProgressCallback &progress = {})
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    JsonIndentedWriter w(&buffer);
    w.continueInside(2);
    int id = firstId;
    for (int i = first; i < end; ++i) {
        if (progress)
            progress(i + 1, int(images.size()));
        const ImageEntry &entry = images.at(i);
        for (const Annotation &a : entry.labels) {
            const int categoryId = context.categoryIds.value(a.className);
            const int keypointWidth = context.widths.value(a.className, 0);
            const CocoObject o = cocoObject(a);
            if (carriesMore(a))
                w.value(QJsonValue(annotationObject(a, o, id, entry.id, categoryId, keypointWidth)));
            else
                writeAnnotation(w, a, o, id, entry.id, categoryId, keypointWidth);
            ++id;
        }
    }
    w.finish();
    return bytes;
}

// The images a thread writes the annotations of at a time.
constexpr int kImagesPerPiece = 512;

// The items of the "annotations" array, in pieces written on several threads
// for a dataset of many images; progress (i, n) for every image i from 1 on,
// told on the calling thread.
QList<QByteArray> annotationPieces(const QList<ImageEntry> &images, const CocoContext &context,
                                   const ProgressCallback &progress)
{
    const int total = int(images.size());
    const int pieces = (total + kImagesPerPiece - 1) / kImagesPerPiece;
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    if (pieces <= 1 || threads < 2)
        return {annotationItems(images, 0, total, 1, context, progress)};
    QList<int> firstIds(pieces);
    int nextId = 1;
    for (int p = 0; p < pieces; ++p) {
        firstIds[p] = nextId;
        for (int i = p * kImagesPerPiece; i < std::min(total, (p + 1) * kImagesPerPiece); ++i)
            nextId += int(images.at(i).labels.size());
    }
    std::vector<QByteArray> written(static_cast<size_t>(pieces));
    std::atomic<int> done{0};
    int told = 0;
    const auto tell = [&] {
        if (!progress)
            return;
        for (const int now = done.load(); told < now;)
            progress(++told, total);
    };
    {
        JobQueue queue(threads, 2 * threads);
        for (int p = 0; p < pieces; ++p) {
            queue.submit([&, p](int) {
                const int first = p * kImagesPerPiece;
                const int end = std::min(total, first + kImagesPerPiece);
                written[size_t(p)] = annotationItems(images, first, end, firstIds.at(p), context);
                done += end - first;
            });
            tell();
        }
        while (!queue.finishWithin(20))
            tell();
    }
    tell();
    QList<QByteArray> items;
    items.reserve(pieces);
    for (QByteArray &piece : written)
        items.append(std::move(piece));
    return items;
}

} // namespace

bool writeCocoJson(QIODevice &device, const Dataset &dataset, const ProgressCallback &progress)
{
    const QStringList classNames = dataset.classNames();
    CocoContext context;
    for (int i = classNames.size() - 1; i >= 0; --i)
        context.categoryIds.insert(classNames.at(i), i + 1);
    context.widths = keypointWidths(dataset);

    // Streamed, in the key order of a JSON object: a dataset of many images
    // makes a document of many megabytes, which a tree would hold twice.
    JsonIndentedWriter w(&device);
    w.beginObject();
    w.key("annotations");
    w.beginArray();
    w.finish();
    bool first = true;
    for (const QByteArray &piece : annotationPieces(dataset.images, context, progress)) {
        if (piece.isEmpty())
            continue;
        // The first item follows the bracket without a comma.
        const QByteArrayView text = first ? QByteArrayView(piece).sliced(1) : QByteArrayView(piece);
        first = false;
        if (device.write(text.data(), text.size()) != text.size())
            return false;
    }
    w.endArray();
    w.key("categories");
    w.value(QJsonValue(categoriesArray(classNames, context.widths, dataset.keypointSchema)));
    w.key("images");
    w.beginArray();
    const QList<ImageEntry> &images = dataset.images;
    const QStringList stems = uniqueExportStems(images);
    for (int i = 0; i < images.size(); ++i) {
        const ImageEntry &entry = images.at(i);
        w.beginObject();
        w.key("file_name");
        w.value(exportFileName(stems.at(i), entry.filePath));
        w.key("height");
        w.value(std::max(entry.height, 0));
        w.key("id");
        w.value(entry.id);
        w.key("width");
        w.value(std::max(entry.width, 0));
        w.endObject();
    }
    w.endArray();
    w.endObject();
    return w.finish();
}

QByteArray cocoJsonBytes(const Dataset &dataset, const ProgressCallback &progress)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    writeCocoJson(buffer, dataset, progress);
    return bytes;
}

} // namespace Quillmark
