#include "formats/DarknetHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"

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

QString DarknetHandler::name() const { return QStringLiteral("Darknet"); }
QString DarknetHandler::extension() const { return QStringLiteral("txt"); }

bool DarknetHandler::canImport(const QString &path) const
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
        if (hasFiniteGeometry(a))
            boxes.append(a);
    });
    return boxes;
}

bool DarknetHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir dir(path);
    const QStringList classNames = readNonEmptyClassNames(dir.filePath(kClassFile));
    const QStringList labelFiles = listFiles(path, {QStringLiteral("*.txt")});
    const int total = int(labelFiles.size());
    ImageFolderIndex index(yoloImageExtensions());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &labelFile = labelFiles.at(i);
        const QString imagePath = findDarknetImage(index, labelFile);
        const QSize size = imagePath.isEmpty() ? QSize(0, 0) : probeImageSize(imagePath);
        ImageEntry entry;
        entry.labels = readDarknetLabelFile(labelFile, classNames, size);
        // A text file with neither an image beside it nor a box line (a
        // readme, a class list) is no image of the dataset.
        if (imagePath.isEmpty() && entry.labels.isEmpty()) {
            if (progress)
                progress(i + 1, total);
            continue;
        }
        entry.filePath = imagePath.isEmpty() ? labelFile : imagePath;
        entry.width = size.width();
        entry.height = size.height();
        dataset.addImage(entry);
        ++added;
        if (progress)
            progress(i + 1, total);
    }
    return added > 0;
}

bool DarknetHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QDir out(path);
    const QStringList classNames = dataset.classNames();
    if (!writeDocumentFile(out.filePath(kClassFile), classListFileBytes(classNames)))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    QByteArray lines;
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        lines.clear();
        const ImageEntry &image = dataset.images.at(i);
        appendYoloLabelLines(lines, boxOnlyImage(image, imageSizeOf(image)), classIndex);
        if (!writeFileAtomically(out.filePath(stems.at(i) + QStringLiteral(".txt")), lines))
            return false;
    }
    return true;
}

} // namespace Quillmark
