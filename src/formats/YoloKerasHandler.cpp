#include "formats/YoloKerasHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/ImportFailure.h"
#include "formats/LabelLineFields.h"
#include "formats/ListedImagePath.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "formats/YoloLabelLines.h"
#include "model/JsonLineReader.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace Quillmark {

namespace {

const QString kClassesFile = QStringLiteral("_classes.txt");
const QString kAnnotationsFile = QStringLiteral("_annotations.txt");

// One image line: the name, then the box groups. The name runs up to the
// first field holding a comma, so that a file name with spaces stays whole;
// lines of ordinary names read as their first field.
struct KerasLine {
    QString name;
    QList<QByteArrayView> groups;
};

// Where the name of a line ends: at the first field after the first that
// holds a comma, else at the line's end.
qsizetype kerasNameEnd(QByteArrayView line)
{
    qsizetype start = line.indexOf(' ');
    while (start >= 0) {
        ++start;
        qsizetype end = line.indexOf(' ', start);
        if (end < 0)
            end = line.size();
        if (line.sliced(start, end - start).contains(','))
            return start;
        start = end < line.size() ? end : -1;
    }
    return line.size();
}

KerasLine splitKerasLine(QByteArrayView line)
{
    KerasLine result;
    const qsizetype nameEnd = kerasNameEnd(line);
    result.name = QString::fromUtf8(line.first(nameEnd).trimmed());
    qsizetype start = nameEnd;
    while (start < line.size()) {
        qsizetype end = line.indexOf(' ', start);
        if (end < 0)
            end = line.size();
        if (end > start)
            result.groups.append(line.sliced(start, end - start));
        start = end + 1;
    }
    return result;
}

// Whether a trimmed, non-empty line can be an image line: text without NUL
// bytes whose name is no longer than a name can be.
bool isImageLine(QByteArrayView line)
{
    return !line.contains('\0') && line.first(kerasNameEnd(line)).trimmed().size() <= kMaxFieldBytes;
}

// A box group "x1,y1,x2,y2,class" of integers; fields after the fifth are
// ignored. False for anything else.
bool readGroup(QByteArrayView group, const QStringList &classNames, Annotation *a)
{
    int v[5];
    qsizetype start = 0;
    for (int i = 0; i < 5; ++i) {
        if (start > group.size())
            return false; // fewer than five fields
        qsizetype end = group.indexOf(',', start);
        if (end < 0)
            end = group.size();
        if (!parseInt(group.sliced(start, end - start), &v[i]))
            return false;
        start = end + 1;
    }
    *a = cornerBox(classNameForId(v[4], classNames), v[0], v[1], v[2], v[3]);
    return true;
}

} // namespace

QString YoloKerasHandler::name() const
{
    return QStringLiteral("YOLOv3 Keras");
}
QString YoloKerasHandler::extension() const
{
    return QStringLiteral("txt");
}

bool YoloKerasHandler::canImportFolder(const QString &path) const
{
    const QDir dir(path);
    if (!QFileInfo(dir.filePath(kClassesFile)).exists())
        return false;
    // A list of images is text: its first line names an image.
    const QByteArray head = readRegularFileHead(dir.filePath(kAnnotationsFile), kMaxDetectionBytes);
    QByteArrayView first;
    forEachLine(head, [&first](QByteArrayView line) {
        if (first.isEmpty())
            first = line.trimmed();
    });
    return !first.isEmpty() && isImageLine(first);
}

bool YoloKerasHandler::importFolder(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QFileInfo info(path);
    const QDir base(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    const QStringList classNames = readNonEmptyClassNames(base.filePath(kClassesFile));
    for (const QString &name : classNames)
        dataset.addClass(name, QColor());

    const QString listPath = base.filePath(kAnnotationsFile);
    const qint64 lines = JsonLineReader::countLines(listPath);
    JsonLineReader reader(kMaxRecordBytes);
    if (lines < 0 || !reader.open(listPath)) {
        ImportFailure::noteCannotOpen(listPath);
        return false;
    }
    const int total = int(std::min<qint64>(lines, std::numeric_limits<int>::max()));
    // Added once the whole list was read: a damaged one adds nothing.
    QList<ImageEntry> entries;
    int lineNumber = 0;
    QByteArrayView raw;
    while (reader.next(&raw)) {
        ++lineNumber;
        if (progress)
            progress(std::min(lineNumber, total), total);
        if (lineNumber == 1 && raw.startsWith("\xEF\xBB\xBF"))
            raw = raw.sliced(3);
        const QByteArrayView line = raw.trimmed();
        // A line past the bound, or one no image name can be read from,
        // makes the list damaged: refused whole, not read as a strange name.
        if (reader.lineTooLong()) {
            ImportFailure::noteLineTooLong(listPath, lineNumber, kMaxRecordBytes);
            return false;
        }
        if (!line.isEmpty() && !isImageLine(line)) {
            ImportFailure::note(listPath, QStringLiteral("line %1 names no image (damaged file).").arg(lineNumber));
            return false;
        }
        if (line.isEmpty())
            continue;
        const KerasLine parsed = splitKerasLine(line);
        ImageEntry entry = datasetImageEntry(base, parsed.name, int(entries.size()));
        for (QByteArrayView group : parsed.groups) {
            Annotation a;
            if (readGroup(group, classNames, &a))
                entry.labels.append(a);
        }
        entries.append(std::move(entry));
    }
    if (reader.hasError()) {
        ImportFailure::note(listPath, QStringLiteral("the file could not be read."));
        return false;
    }
    if (entries.isEmpty()) {
        ImportFailure::noteNothingFound(listPath);
        return false;
    }
    for (ImageEntry &entry : entries)
        dataset.addImage(std::move(entry));
    return true;
}

bool YoloKerasHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QDir out(path);
    const QStringList classNames = dataset.classNames();
    QByteArray classes;
    for (const QString &name : classNames)
        classes.append(name.toUtf8()).append(kTextLineEnd);
    if (!writeDocumentFile(out.filePath(kClassesFile), classes))
        return false;

    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    QByteArray text;
    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        text.append(at.fileName.toUtf8());
        for (const Annotation &a : at.image.labels) {
            const std::optional<QRectF> box = annotationBoxWithArea(a);
            if (!box)
                continue;
            text.append(' ');
            text.append(QByteArray::number(roundHalfAwayFromZero(box->left()))).append(',');
            text.append(QByteArray::number(roundHalfAwayFromZero(box->top()))).append(',');
            text.append(QByteArray::number(roundHalfAwayFromZero(box->right()))).append(',');
            text.append(QByteArray::number(roundHalfAwayFromZero(box->bottom()))).append(',');
            text.append(QByteArray::number(classIndex.value(a.className, 0)));
        }
        text.append(kTextLineEnd);
        return true;
    });
    return writeDocumentFile(out.filePath(kAnnotationsFile), text);
}

// The root of a split export holds the format's folder once per subset.
bool YoloKerasHandler::canImport(const QString &path) const
{
    return holdsFolderOrSubsets(path, [this](const QString &folder) { return canImportFolder(folder); });
}

bool YoloKerasHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    return importFolderOrSubsets(
        path, dataset, std::move(progress), [this](const QString &folder) { return canImportFolder(folder); },
        [this](const QString &folder, Dataset &into, ProgressCallback share) {
            return importFolder(folder, into, std::move(share));
        });
}

} // namespace Quillmark
