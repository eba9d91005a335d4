#include "formats/YoloTfHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/CsvText.h"
#include "formats/ExportNames.h"
#include "formats/ImageProbe.h"
#include "formats/ListedImagePath.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace Quillmark {

namespace {

const QString kDefaultFile = QStringLiteral("_annotations.csv");

} // namespace

QString YoloTfHandler::name() const
{
    return QStringLiteral("YOLO TensorFlow");
}
QString YoloTfHandler::extension() const
{
    return QStringLiteral("csv");
}

bool YoloTfHandler::canImport(const QString &path) const
{
    QByteArray line;
    if (!readFirstLine(csvDatasetFile(path, kDefaultFile), 4096, &line))
        return false;
    const QString header = QString::fromUtf8(line).trimmed().toLower();
    return header.startsWith(QLatin1String("filename")) && header.contains(QLatin1String("xmin"));
}

bool YoloTfHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    CsvFile file;
    if (!file.open(csvDatasetFile(path, kDefaultFile)))
        return false;
    const int total = file.lineCount;
    CsvReader reader(file);
    QStringList fields;
    if (!reader.next(&fields))
        return false; // an empty file
    if (progress)
        progress(reader.linesRead(), total);

    ListedImages images(file.folder);
    while (reader.next(&fields)) {
        if (progress)
            progress(reader.linesRead(), total);
        if (fields.size() < 8)
            continue;
        int corners[4];
        if (!readCornerCells(fields, 4, corners))
            continue;
        bool created = false;
        ImageEntry &entry = images.entryFor(fields.at(0), &created);
        if (created) {
            entry.width = std::max(0, intOr(QStringView(fields.at(1))));
            entry.height = std::max(0, intOr(QStringView(fields.at(2))));
        }
        const QString &className = fields.at(3);
        dataset.addClass(className, QColor());
        entry.labels.append(cornerBox(className, corners[0], corners[1], corners[2], corners[3]));
    }
    if (reader.isDamaged())
        return false; // what it lost cannot be told
    for (const ImageEntry &entry : images.entries())
        dataset.addImage(entry);
    return !images.entries().isEmpty();
}

bool YoloTfHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QString csvPath = csvDatasetFile(path, kDefaultFile);
    if (!ensureFolder(QFileInfo(csvPath).absolutePath()))
        return false;
    QByteArray text("filename,width,height,class,xmin,ymin,xmax,ymax");
    text.append(kTextLineEnd);
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        std::optional<QSize> size; // probed only for images that have a row
        for (const Annotation &a : at.image.labels) {
            const std::optional<QRectF> box = annotationBoxWithArea(a);
            if (!box)
                continue;
            if (!size)
                size = knownImageSize(at.image);
            appendCsvRecord(text, QStringList{at.fileName, QString::number(size->width()),
                                              QString::number(size->height()), a.className} +
                                      cornerCells(*box));
        }
        return true;
    });
    return writeDocumentFile(csvPath, text);
}

} // namespace Quillmark
