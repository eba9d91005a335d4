#include "formats/RetinaNetHandler.h"

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

namespace Quillmark {

namespace {

const QString kDefaultFile = QStringLiteral("_annotations.csv");
// The class mapping the trainer starts from, beside the annotations.
const QString kClassesFile = QStringLiteral("classes.csv");

// Rows "name,id", ids from 0 in class order.
QByteArray classMappingBytes(const Dataset &dataset)
{
    QByteArray text;
    const QStringList names = dataset.classNames();
    for (qsizetype i = 0; i < names.size(); ++i)
        appendCsvRecord(text, {names.at(i), QString::number(i)});
    return text;
}

enum class RowKind { Invalid, Box, NoBoxes };

// What a row holds; the corners of a box row in `corners`.
RowKind classifyRow(const QStringList &cells, int corners[4])
{
    if (cells.size() < 6 || cells.at(0).isEmpty())
        return RowKind::Invalid;
    const bool allEmpty =
        std::all_of(cells.cbegin() + 1, cells.cbegin() + 6, [](const QString &cell) { return cell.isEmpty(); });
    if (allEmpty)
        return RowKind::NoBoxes;
    return readCornerCells(cells, 1, corners) ? RowKind::Box : RowKind::Invalid;
}

} // namespace

QString RetinaNetHandler::name() const
{
    return QStringLiteral("RetinaNet");
}
QString RetinaNetHandler::extension() const
{
    return QStringLiteral("csv");
}

bool RetinaNetHandler::canImport(const QString &path) const
{
    QByteArray line;
    if (!readFirstLine(csvDatasetFile(path, kDefaultFile), 4096, &line))
        return false;
    QStringList cells;
    if (!CsvReader(line).next(&cells))
        return false;
    int corners[4];
    return classifyRow(cells, corners) != RowKind::Invalid;
}

bool RetinaNetHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    CsvFile file;
    if (!file.open(csvDatasetFile(path, kDefaultFile)))
        return false;
    const int total = file.lineCount;
    CsvReader reader(file);
    ListedImages images(file.folder);
    QStringList cells;
    while (reader.next(&cells)) {
        if (progress)
            progress(reader.linesRead(), total);
        int corners[4];
        const RowKind kind = classifyRow(cells, corners);
        if (kind == RowKind::Invalid)
            continue;
        ImageEntry &entry = images.entryFor(cells.at(0));
        if (kind == RowKind::NoBoxes)
            continue;
        const QString &label = cells.at(5);
        dataset.addClass(label, QColor());
        entry.labels.append(cornerBox(label, corners[0], corners[1], corners[2], corners[3]));
    }
    if (reader.isDamaged())
        return false; // what it lost cannot be told
    for (ImageEntry &entry : images.entries()) {
        const QSize size = probeImageSize(entry.filePath);
        entry.width = size.width();
        entry.height = size.height();
        dataset.addImage(entry);
    }
    return !images.entries().isEmpty();
}

bool RetinaNetHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QString csvPath = csvDatasetFile(path, kDefaultFile);
    if (!ensureFolder(QFileInfo(csvPath).absolutePath()))
        return false;
    QByteArray text;
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        bool wroteBox = false;
        for (const Annotation &a : at.image.labels) {
            if (const std::optional<QRectF> box = annotationBoxWithArea(a)) {
                appendCsvRecord(text, QStringList{at.fileName} + cornerCells(*box) + QStringList{a.className});
                wroteBox = true;
            }
        }
        // The form the format gives images without objects, so that they
        // survive a round trip.
        if (!wroteBox)
            text.append(csvRow({at.fileName})).append(",,,,,").append(kTextLineEnd);
        return true;
    });
    return writeDocumentFile(csvPath, text) &&
           writeDocumentFile(QFileInfo(csvPath).dir().filePath(kClassesFile), classMappingBytes(dataset));
}

} // namespace Quillmark
