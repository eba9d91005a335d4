#include "formats/Yolo6MtHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/Yolo5ObbHandler.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

namespace {

// A label file in root/labels/<split> pairs with an image in root/images/<split>.
QString findMtImage(ImageFolderIndex &index, const QString &labelPath)
{
    const QFileInfo label(labelPath);
    const QString dir = label.absolutePath();
    const QString split = QFileInfo(dir).fileName();
    return index.find(dir + QStringLiteral("/../../images/") + split, label.completeBaseName());
}

bool readMtLine(const LabelFields &fields, const QStringList &names, QSize size, Annotation *a)
{
    if (fields.size() < 5)
        return false;
    int classId = 0;
    double v[4];
    if (!parseInt(fields.at(0), &classId))
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!parseDouble(fields.at(i + 1), &v[i]))
            return false;
    }
    a->className = classNameForId(classId, names);
    a->kind = BoundingBox;
    a->bbox = boxFromCentre(float(v[0]), float(v[1]), float(v[2]), float(v[3]), size);
    return hasFiniteGeometry(*a);
}

} // namespace

QString Yolo6MtHandler::name() const { return QStringLiteral("YOLOv6 MT"); }
QString Yolo6MtHandler::extension() const { return QStringLiteral("txt"); }

bool Yolo6MtHandler::canImport(const QString &path) const
{
    const QDir root(path);
    return QFileInfo(root.filePath(QStringLiteral("data.yaml"))).isFile()
           && QFileInfo(root.filePath(QStringLiteral("images"))).isDir()
           && QFileInfo(root.filePath(QStringLiteral("labels"))).isDir();
}

bool Yolo6MtHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const QStringList names = readYoloDataYaml(root.filePath(QStringLiteral("data.yaml"))).names;
    QStringList labelFiles;
    for (const QString &split : obbSplitNames())
        labelFiles += listFiles(root.filePath(QStringLiteral("labels/") + split), {QStringLiteral("*.txt")});
    const int total = int(labelFiles.size());
    ImageFolderIndex index(yoloImageExtensions());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &labelFile = labelFiles.at(i);
        const QString imagePath = findMtImage(index, labelFile);
        const QSize size = probeImageSize(imagePath);
        ImageEntry entry;
        const bool read = forEachLabelLine(labelFile, [&](const LabelFields &fields) {
            Annotation a;
            if (!readMtLine(fields, names, size, &a))
                return;
            dataset.addClass(a.className, QColor());
            entry.labels.append(a);
        });
        if (read) {
            if (added == 0) {
                for (const QString &name : names)
                    dataset.addClass(name, QColor());
            }
            entry.filePath = imagePath.isEmpty() ? labelFile : imagePath;
            entry.width = size.width();
            entry.height = size.height();
            dataset.addImage(entry);
            ++added;
        }
        if (progress)
            progress(i + 1, total);
    }
    return added > 0;
}

bool Yolo6MtHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QDir out(path);
    const QString imagesDir = out.filePath(QStringLiteral("images/train"));
    const QString labelsDir = out.filePath(QStringLiteral("labels/train"));
    if (!ensureFolder(imagesDir) || !ensureFolder(labelsDir))
        return false;
    const QStringList classNames = dataset.classNames();
    if (!writeDocumentFile(out.filePath(QStringLiteral("data.yaml")), splitListDataYaml(QStringLiteral("./images/%1"), classNames)))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    QByteArray lines;
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const QString imagePath = imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
        if (writeExportImage(image, imagePath) == ExportImageResult::Failed)
            return false;
        lines.clear();
        appendYoloLabelLines(lines, boxOnlyImage(image, imageSizeOf(image)), classIndex);
        if (!writeFileAtomically(labelsDir + QLatin1Char('/') + stems.at(i) + QStringLiteral(".txt"), lines))
            return false;
    }
    return true;
}

} // namespace Quillmark
