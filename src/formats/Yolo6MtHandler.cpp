#include "formats/Yolo6MtHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DarknetHandler.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/Yolo5ObbHandler.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"
#include "model/FiniteNumber.h"

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
    return geometryFitsFloat(*a);
}

} // namespace

QString Yolo6MtHandler::name() const
{
    return QStringLiteral("YOLOv6 MT");
}
QString Yolo6MtHandler::extension() const
{
    return QStringLiteral("txt");
}

bool Yolo6MtHandler::canImport(const QString &path) const
{
    const QDir root(path);
    return QFileInfo(root.filePath(QStringLiteral("data.yaml"))).isFile() &&
           QFileInfo(root.filePath(QStringLiteral("images"))).isDir() &&
           QFileInfo(root.filePath(QStringLiteral("labels"))).isDir();
}

bool Yolo6MtHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const QStringList names = readYoloDataYaml(root.filePath(QStringLiteral("data.yaml"))).names;
    QStringList labelFiles;
    for (const QString &split : labelSplitNames())
        labelFiles += listFiles(root.filePath(QStringLiteral("labels/") + split), {QStringLiteral("*.txt")});
    ImageFolderIndex index(yoloImageExtensions());
    const auto findImage = [&index](const QString &labelFile) { return findMtImage(index, labelFile); };
    return importLabelFiles(labelFiles, dataset, progress, findImage, classIdLineReader(names, dataset, readMtLine),
                            yoloImageExtensions()) > 0;
}

bool Yolo6MtHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QString subset = QStringLiteral("train");
    const QByteArray yaml = subsetDataYaml({subset}, dataset);
    return ensureFolder(path) && writeDocumentFile(QDir(path).filePath(QStringLiteral("data.yaml")), yaml) &&
           exportSubset(path, subset, dataset, 0, std::move(progress));
}

bool Yolo6MtHandler::exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int,
                                  ProgressCallback progress)
{
    const QDir out(root);
    PerImageFiles files;
    files.imagesDir = out.filePath(QStringLiteral("images/") + subset);
    files.labelsDir = out.filePath(QStringLiteral("labels/") + subset);
    if (!ensureFolder(files.imagesDir) || !ensureFolder(files.labelsDir))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(dataset.classNames());
    files.labelBytes = [&classIndex](const ImageEntry &image) { return boxOnlyLabelLines(image, classIndex); };
    return writePerImageFiles(dataset.images, files, progress);
}

QByteArray Yolo6MtHandler::subsetDataYaml(const QStringList &written, const Dataset &dataset) const
{
    return splitListDataYaml(subsetImageFolders(QStringLiteral("./images/%1"), written), dataset.classNames());
}

} // namespace Quillmark
