#include "formats/CreateMLHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImportFailure.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "model/FiniteNumber.h"
#include "model/JsonIndentedWriter.h"
#include "model/JsonParser.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPolygonF>

namespace Quillmark {

QString CreateMLHandler::name() const
{
    return QStringLiteral("CreateML");
}
QString CreateMLHandler::extension() const
{
    return QStringLiteral("json");
}

bool isCreateMLJsonFile(const QString &path)
{
    const QByteArray head = readRegularFileHead(path, 512);
    QByteArray start = head.trimmed();
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3).trimmed();
    if (!start.startsWith('['))
        return false;
    if (head.contains("\"coordinates\""))
        return true;
    // A file whose first images have no boxes yet: their keys.
    return head.contains("\"annotations\"") && head.contains("\"image\"");
}

bool CreateMLHandler::canImport(const QString &path) const
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return isCreateMLJsonFile(path);
    const QStringList candidates = listFiles(path, {QStringLiteral("*.json")});
    return std::any_of(candidates.cbegin(), candidates.cend(), isCreateMLJsonFile);
}

namespace {

// One image of the file as read, before its picture is looked for.
struct CreateMLImage {
    QString name;
    QList<Annotation> annotations;
};

Annotation readAnnotation(JsonValue &value, bool *keep)
{
    Annotation annotation;
    annotation.kind = BoundingBox;
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    value.forEachMember([&](std::string_view key, JsonValue &member) {
        if (key == "label") {
            annotation.className = member.toString().trimmed();
        } else if (key == "coordinates") {
            x = y = width = height = 0.0;
            member.forEachMember([&](std::string_view name, JsonValue &number) {
                if (name == "x")
                    x = number.toDouble(0.0);
                else if (name == "y")
                    y = number.toDouble(0.0);
                else if (name == "width")
                    width = number.toDouble(0.0);
                else if (name == "height")
                    height = number.toDouble(0.0);
            });
        }
    });
    annotation.bbox = QRectF(x - width * 0.5, y - height * 0.5, width, height);
    // The finite-number rule: a box that single precision cannot hold is left out.
    *keep = !annotation.className.isEmpty() && geometryFitsFloat(annotation);
    return annotation;
}

CreateMLImage readImage(JsonValue &value)
{
    CreateMLImage image;
    value.forEachMember([&](std::string_view key, JsonValue &member) {
        if (key == "image") {
            image.name = member.toString();
        } else if (key == "annotations") {
            image.annotations.clear();
            member.forEachElement([&](JsonValue &element) {
                bool keep = false;
                const Annotation annotation = readAnnotation(element, &keep);
                if (keep)
                    image.annotations.append(annotation);
            });
        }
    });
    return image;
}

QRectF exportedBox(const Annotation &annotation)
{
    if (annotation.kind == BoundingBox || annotation.points.isEmpty())
        return annotation.bbox.normalized();
    if (annotation.kind == Keypoint)
        return keypointBounds(annotation);
    // A polygon object of several parts is boxed whole.
    if (annotation.kind == Polygon)
        return polygonObjectBox(annotation);
    return QPolygonF(annotation.points).boundingRect();
}

} // namespace

bool CreateMLHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    JsonText text;
    if (!text.load(path, kMaxDocumentFileBytes)) {
        ImportFailure::noteCannotLoad(path, kMaxDocumentFileBytes);
        return false;
    }
    QList<CreateMLImage> images;
    bool isArray = false;
    JsonParser parser;
    const bool parsed = parser.parse(text, [&](JsonValue &root) {
        isArray = root.isArray();
        root.forEachElement([&](JsonValue &element) { images.append(readImage(element)); });
    });
    if (!parsed) {
        ImportFailure::noteDamagedJson(path);
        return false;
    }
    if (!isArray || images.isEmpty()) {
        ImportFailure::note(path, QStringLiteral("the file holds no list of annotated images."));
        return false;
    }

    const QDir base(QFileInfo(path).absolutePath());
    const int total = int(images.size());
    for (int i = 0; i < total; ++i) {
        ImageEntry entry = datasetImageEntry(base, images.at(i).name, i);
        entry.labels = images.at(i).annotations;
        dataset.addImage(entry);
        if (progress)
            progress(i + 1, total);
    }
    return true;
}

bool CreateMLHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    JsonIndentedWriter w(&buffer);
    w.beginArray();
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        w.beginObject();
        w.key("annotations");
        w.beginArray();
        for (const Annotation &annotation : at.image.labels) {
            const QRectF box = exportedBox(annotation);
            w.beginObject();
            w.key("coordinates");
            w.beginObject();
            w.key("height");
            w.value(box.height());
            w.key("width");
            w.value(box.width());
            w.key("x");
            w.value(box.left() + box.width() * 0.5);
            w.key("y");
            w.value(box.top() + box.height() * 0.5);
            w.endObject();
            w.key("label");
            w.value(annotation.className);
            w.endObject();
        }
        w.endArray();
        w.key("image");
        w.value(at.fileName);
        w.endObject();
        return true;
    });
    w.endArray();
    if (!w.finish())
        return false;
    return writeDocumentFile(path, bytes);
}

} // namespace Quillmark
