#include "formats/LocationTokens.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/ImageProbe.h"
#include "formats/SafeWrite.h"
#include "model/JsonIndentedWriter.h"
#include "model/JsonParser.h"
#include "model/JsonText.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace Quillmark {

std::optional<QRectF> locationBox(const Annotation &annotation)
{
    return annotationBoxWithArea(annotation);
}

int quantizeLocation(double value, int maxToken)
{
    if (!(value > 0.0))
        return 0; // also NaN
    if (value >= double(maxToken))
        return maxToken;
    return int(std::trunc(value + 0.5));
}

QPointF tokenScale(int width, int height, double steps)
{
    if (width < 1 || height < 1)
        return {steps, steps};
    return {steps / width, steps / height};
}

Annotation tokenBoxAnnotation(const QString &label, const TokenCorners &corners, double steps, int width, int height)
{
    const double sx = (width >= 1 ? width : 1) / steps;
    const double sy = (height >= 1 ? height : 1) / steps;
    Annotation annotation;
    annotation.className = label;
    annotation.kind = BoundingBox;
    annotation.bbox =
        QRectF(QPointF(corners.x1 * sx, corners.y1 * sy), QPointF(corners.x2 * sx, corners.y2 * sy)).normalized();
    return annotation;
}

TokenAnnotations tokenAnnotations(const ImageEntry &entry)
{
    TokenAnnotations result;
    result.size = knownImageSize(entry);
    if (!result.size.isEmpty()) {
        result.annotations = entry.labels;
        return result;
    }
    const QRectF unit(0.0, 0.0, 1.0, 1.0);
    for (const Annotation &annotation : entry.labels) {
        const std::optional<QRectF> box = locationBox(annotation);
        if (box && unit.contains(*box))
            result.annotations.append(annotation);
    }
    return result;
}

void appendLocationRecord(QByteArray &out, const QString &image, const QString &prefix, const QString &suffix)
{
    out += "{\"image\":";
    JsonIndentedWriter::appendString(out, image);
    out += ",\"prefix\":";
    JsonIndentedWriter::appendString(out, prefix);
    out += ",\"suffix\":";
    JsonIndentedWriter::appendString(out, suffix);
    out += "}\n";
}

bool readLocationRecord(JsonParser &parser, QByteArrayView line, LocationRecord *record)
{
    line = line.trimmed();
    if (line.isEmpty())
        return false;
    *record = LocationRecord();
    int members = 0;
    bool isObject = false;
    const bool parsed = parser.parse(line, JsonText::padding, [&](JsonValue &root) {
        isObject = root.isObject();
        root.forEachMember([&](std::string_view key, JsonValue &value) {
            ++members;
            if (key == "image")
                record->image = value.toString();
            else if (key == "prefix")
                record->prefix = value.toString();
            else if (key == "suffix")
                record->suffix = value.toString();
        });
    });
    return parsed && isObject && members > 0;
}

bool writeLocationRecords(const QString &path, const Dataset &dataset, const QString &prefix, SuffixBuilder build,
                          const ProgressCallback &progress)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    QByteArray text;
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        const TokenAnnotations boxes = tokenAnnotations(at.image);
        appendLocationRecord(text, at.fileName, prefix,
                             build(boxes.annotations, boxes.size.width(), boxes.size.height()));
        return true;
    });
    return writeDocumentFile(path, text);
}

ImageEntry locationRecordImage(const QDir &base, const LocationRecord &record, int id, SuffixParser parse)
{
    ImageEntry entry = datasetImageEntry(base, record.image, id);
    entry.labels = parse(record.suffix, entry.width, entry.height);
    return entry;
}

bool hasPrefixValue(QByteArrayView head, QByteArrayView valueStart)
{
    const QByteArrayView key("\"prefix\"");
    for (qsizetype at = head.indexOf(key); at >= 0; at = head.indexOf(key, at + 1)) {
        qsizetype i = at + key.size();
        auto skipBlanks = [&] {
            while (i < head.size() && QByteArrayView(" \t\r\n").contains(head.at(i)))
                ++i;
        };
        skipBlanks();
        if (i >= head.size() || head.at(i) != ':')
            continue;
        ++i;
        skipBlanks();
        if (i < head.size() && head.at(i) == '"' && head.sliced(i + 1).startsWith(valueStart))
            return true;
    }
    return false;
}

} // namespace Quillmark
