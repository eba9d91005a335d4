#include "formats/DarknetHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"
#include "model/FiniteNumber.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

namespace {

const QString kClassFile = QStringLiteral("_darknet.labels");

// The image of a label file: for each extension in order, beside the label
// file, then in an "images" folder below it.
QString findDarknetImage(ImageFolderIndex &index, const QString &labelPath)
{
    const QFileInfo label(labelPath);
    const QString dir = label.absolutePath();
    const QString imagesDir = dir + QStringLiteral("/images");
    const QString base = label.completeBaseName();
    for (const QString &extension : yoloImageExtensions()) {
        QString found = index.findWithExtension(dir, base, extension);
        if (found.isEmpty())
            found = index.findWithExtension(imagesDir, base, extension);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

} // namespace

QString DarknetHandler::name() const
{
    return QStringLiteral("Darknet");
}
QString DarknetHandler::extension() const
{
    return QStringLiteral("txt");
}

bool DarknetHandler::canImportFolder(const QString &path) const
{
    return QFileInfo(QDir(path).filePath(kClassFile)).isFile();
}

QList<Annotation> readDarknetLabelFile(const QString &path, const QStringList &classNames, QSize imageSize)
{
    QList<Annotation> boxes;
    forEachLabelLine(path, [&](const LabelFields &fields) {
        if (fields.size() < 5)
            return;
        int classId = 0;
        double values[4];
        if (!parseInt(fields.at(0), &classId))
            return;
        for (int i = 0; i < 4; ++i) {
            if (!parseDouble(fields.at(i + 1), &values[i]))
                return;
        }
        Annotation a;
        a.className = classNameForId(classId, classNames);
        a.kind = BoundingBox;
        a.bbox = boxFromCentre(float(values[0]), float(values[1]), float(values[2]), float(values[3]), imageSize);
        if (geometryFitsFloat(a))
            boxes.append(a);
    });
    return boxes;
}

bool DarknetHandler::importFolder(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QStringList classNames = readNonEmptyClassNames(QDir(path).filePath(kClassFile));
    ImageFolderIndex index(yoloImageExtensions());
    const auto findImage = [&index](const QString &labelFile) { return findDarknetImage(index, labelFile); };
    const auto readLabels = [&classNames](const QString &labelFile, const QString &imagePath, QSize size,
                                          QList<Annotation> *labels) {
        *labels = readDarknetLabelFile(labelFile, classNames, size);
        // A text file with neither an image beside it nor a box line (a
        // readme, a class list) is no image of the dataset.
        return !imagePath.isEmpty() || !labels->isEmpty();
    };
    const QStringList labelFiles = listFiles(path, {QStringLiteral("*.txt")});
    // A picture without a .txt beside it is a background image.
    return importLabelFiles(labelFiles, dataset, progress, findImage, readLabels, yoloImageExtensions()) > 0;
}

QByteArray boxOnlyLabelLines(const ImageEntry &image, const YoloClassIndex &classIndex)
{
    QByteArray lines;
    appendYoloLabelLines(lines, boxOnlyImage(image, knownImageSize(image)), classIndex);
    return lines;
}

bool DarknetHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QStringList classNames = dataset.classNames();
    if (!writeDocumentFile(QDir(path).filePath(kClassFile), classListFileBytes(classNames)))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    PerImageFiles files;
    files.labelsDir = path;
    files.labelBytes = [&classIndex](const ImageEntry &image) { return boxOnlyLabelLines(image, classIndex); };
    return writePerImageFiles(dataset.images, files, progress);
}

// The root of a split export holds the format's folder once per subset.
bool DarknetHandler::canImport(const QString &path) const
{
    return holdsFolderOrSubsets(path, [this](const QString &folder) { return canImportFolder(folder); });
}

bool DarknetHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    return importFolderOrSubsets(
        path, dataset, std::move(progress), [this](const QString &folder) { return canImportFolder(folder); },
        [this](const QString &folder, Dataset &into, ProgressCallback share) {
            return importFolder(folder, into, std::move(share));
        });
}

} // namespace Quillmark
