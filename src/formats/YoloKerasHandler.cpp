#include "formats/YoloKerasHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/LabelLineFields.h"
#include "formats/ListedImagePath.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "formats/YoloLabelLines.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFileInfo>

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

KerasLine splitKerasLine(QByteArrayView line)
{
    KerasLine result;
    qsizetype nameEnd = -1;
    qsizetype start = 0;
    while (start < line.size()) {
        qsizetype end = line.indexOf(' ', start);
        if (end < 0)
            end = line.size();
        if (end > start) {
            const QByteArrayView field = line.sliced(start, end - start);
            if (start > 0 && (nameEnd >= 0 || field.contains(','))) {
                if (nameEnd < 0)
                    nameEnd = start;
                result.groups.append(field);
            }
        }
        start = end + 1;
    }
    const QByteArrayView name = nameEnd < 0 ? line : line.first(nameEnd);
    result.name = QString::fromUtf8(name.trimmed());
    return result;
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
    QFile annotations;
    return openRegularFile(annotations, dir.filePath(kAnnotationsFile));
}

bool YoloKerasHandler::importFolder(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QFileInfo info(path);
    const QDir base(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    const QStringList classNames = readNonEmptyClassNames(base.filePath(kClassesFile));
    for (const QString &name : classNames)
        dataset.addClass(name, QColor());

    QByteArray bytes;
    if (!readWholeFile(base.filePath(kAnnotationsFile), kMaxDocumentFileBytes, &bytes))
        return false;
    int total = 0;
    forEachLine(bytes, [&total](QByteArrayView) { ++total; });
    int images = 0;
    int lineNumber = 0;
    forEachLine(bytes, [&](QByteArrayView raw) {
        if (progress)
            progress(++lineNumber, total);
        const QByteArrayView line = raw.trimmed();
        if (line.isEmpty())
            return;
        const KerasLine parsed = splitKerasLine(line);
        ImageEntry entry = datasetImageEntry(base, parsed.name, images);
        for (QByteArrayView group : parsed.groups) {
            Annotation a;
            if (readGroup(group, classNames, &a))
                entry.labels.append(a);
        }
        dataset.addImage(entry);
        ++images;
    });
    return images > 0;
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
    return canImportFolder(path) ||
           !splitSubsetFolders(path, [this](const QString &folder) { return canImportFolder(folder); }).isEmpty();
}

bool YoloKerasHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const auto holds = [this](const QString &folder) { return canImportFolder(folder); };
    const QStringList subsets = canImportFolder(path) ? QStringList() : splitSubsetFolders(path, holds);
    if (subsets.isEmpty())
        return importFolder(path, dataset, std::move(progress));
    const auto importOne = [this](const QString &folder, Dataset &into, ProgressCallback share) {
        return importFolder(folder, into, std::move(share));
    };
    return importSplitSubsets(subsets, dataset, progress, importOne);
}

} // namespace Quillmark
