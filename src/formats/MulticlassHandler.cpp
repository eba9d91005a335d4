#include "formats/MulticlassHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/CsvText.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/ImageProbe.h"
#include "formats/ListedImagePath.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace Quillmark {

namespace {

const QString kTableFile = QStringLiteral("_classes.csv");

bool isBlankRecord(const QStringList &cells)
{
    return cells.size() == 1 && cells.first().isEmpty();
}

} // namespace

QString MulticlassHandler::name() const
{
    return QStringLiteral("Multiclass");
}
QString MulticlassHandler::extension() const
{
    return QStringLiteral("csv");
}

bool MulticlassHandler::canImportFolder(const QString &path) const
{
    QByteArray line;
    if (!readFirstLine(QDir(path).filePath(kTableFile), 4096, &line))
        return false;
    return QString::fromUtf8(line).trimmed().toLower().startsWith(QLatin1String("filename,"));
}

bool MulticlassHandler::importFolder(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    CsvFile file;
    if (!file.open(QDir(path).filePath(kTableFile)))
        return false;
    CsvReader reader(file);
    QStringList header;
    if (!reader.next(&header) || header.size() < 2)
        return false;
    const QStringList classes = header.mid(1);
    const int total = std::max(1, file.lineCount - reader.linesRead());

    QStringList cells;
    QList<ImageEntry> entries; // added once the whole table was read
    int added = 0;
    while (reader.next(&cells)) {
        if (isBlankRecord(cells) || cells.size() < 2)
            continue;
        ImageEntry entry;
        entry.id = added;
        entry.filePath = resolveDatasetImagePath(file.folder, cells.first());
        const QSize size = probeImageSize(entry.filePath);
        entry.width = size.width();
        entry.height = size.height();
        const qsizetype columns = std::min(cells.size() - 1, classes.size());
        for (qsizetype j = 0; j < columns; ++j) {
            if (cells.at(j + 1) == QLatin1String("1") && !classes.at(j).isEmpty())
                entry.labels.append(wholeImageLabel(classes.at(j), entry.width, entry.height));
        }
        entries.append(std::move(entry));
        ++added;
        if (progress)
            progress(std::min(added, total), total);
    }
    if (added == 0 || reader.isDamaged())
        return false;
    for (ImageEntry &entry : entries)
        dataset.addImage(std::move(entry));
    return true;
}

bool MulticlassHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QDir out(path);
    const QStringList classNames = dataset.classNames();
    QByteArray table = csvRow(QStringList{QStringLiteral("filename")} + classNames);
    table.append(kTextLineEnd);

    QStringList row;
    QStringList destinations;
    destinations.reserve(dataset.images.size());
    forEachExportImage(dataset.images, {}, [&](const ExportImage &at) {
        destinations.append(pathInFolder(out, at.fileName));
        QSet<QString> present;
        for (const Annotation &a : at.image.labels)
            present.insert(a.className);
        row.clear();
        row.append(at.fileName);
        for (const QString &name : classNames)
            row.append(present.contains(name) ? QStringLiteral("1") : QStringLiteral("0"));
        appendCsvRecord(table, row);
        return true;
    });
    return writeExportImagesReporting(dataset.images, destinations, progress) &&
           writeDocumentFile(out.filePath(kTableFile), table);
}

// The root of a split export holds the format's folder once per subset.
bool MulticlassHandler::canImport(const QString &path) const
{
    return holdsFolderOrSubsets(path, [this](const QString &folder) { return canImportFolder(folder); });
}

bool MulticlassHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    return importFolderOrSubsets(
        path, dataset, std::move(progress), [this](const QString &folder) { return canImportFolder(folder); },
        [this](const QString &folder, Dataset &into, ProgressCallback share) {
            return importFolder(folder, into, std::move(share));
        });
}

} // namespace Quillmark
