#include "formats/YoloHandler.h"

#include "formats/ClassListFile.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/ImportFailure.h"
#include "formats/LabelLineFields.h"
#include "formats/ParallelReads.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloLabelLines.h"
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <charconv>
#include <vector>

namespace Quillmark {

QString YoloHandler::name() const { return QStringLiteral("YOLO"); }
QString YoloHandler::extension() const { return QStringLiteral("txt"); }

const QStringList &yoloImageExtensions()
{
    static const QStringList extensions = {
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("bmp"), QStringLiteral("tiff"), QStringLiteral("webp"),
    };
    return extensions;
}

namespace {

// The image of a label file, looked for by `findIn(folder, baseName)` in
// images/ below the label's folder, in images/ beside it, in the split folder
// of images/ two levels up, and beside the label file itself.
template <typename FindIn> QString findImageForLabel(const QString &labelPath, FindIn findIn)
{
    const QFileInfo label(labelPath);
    const QString base = label.completeBaseName();
    const QString dir = label.absolutePath();
    const QString dirName = QFileInfo(dir).fileName();
    const QStringList candidates = {
        dir + QStringLiteral("/images"),
        dir + QStringLiteral("/../images"),
        dir + QStringLiteral("/../../images/") + dirName,
        dir,
    };
    for (const QString &candidate : candidates) {
        const QString found = findIn(candidate, base);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

bool isStrictInt(QByteArrayView text)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    long long value = 0;
    const auto result = std::from_chars(begin, end, value, 10);
    return begin != end && result.ec == std::errc() && result.ptr == end;
}

bool isClassList(const QString &path)
{
    return QFileInfo(path).fileName().compare(QLatin1String("classes.txt"), Qt::CaseInsensitive) == 0;
}

// Label files directly in a folder; a "classes.txt" among them is the class
// list, not the labels of an image.
QStringList labelFilesIn(const QString &folder)
{
    QStringList files = listFiles(folder, {QStringLiteral("*.txt")});
    files.removeIf(isClassList);
    return files;
}

QStringList imageNamePatterns()
{
    QStringList patterns;
    for (const QString &extension : yoloImageExtensions())
        patterns.append(QStringLiteral("*.") + extension);
    return patterns;
}

// The folders where a YOLO folder keeps its images: images/ (and its
// subfolders) beside labels/, images/ of every split folder, or, with label
// files lying beside their images, the dataset folder itself and the folders
// of the label files; and wherever a label file's image was found.
QStringList yoloImageFolders(const QString &folder, const QStringList &labelFiles, const QStringList &pairedImages)
{
    const QDir dir(folder);
    QStringList folders;
    if (QFileInfo(dir.filePath(QStringLiteral("labels"))).isDir()) {
        const QString images = QDir::cleanPath(dir.filePath(QStringLiteral("images")));
        folders.append(images);
        for (const QString &sub : listSubfolders(images))
            folders.append(images + QLatin1Char('/') + sub);
    }
    for (const char *split : {"train", "valid", "val", "test"}) {
        const QString splitDir = QDir::cleanPath(dir.filePath(QLatin1String(split)));
        if (QFileInfo(splitDir + QStringLiteral("/labels")).isDir())
            folders.append(splitDir + QStringLiteral("/images"));
    }
    if (folders.isEmpty()) {
        folders.append(QDir::cleanPath(dir.absolutePath()));
        for (const QString &file : labelFiles)
            folders.append(QDir::cleanPath(QFileInfo(file).absolutePath()));
    }
    for (const QString &image : pairedImages) {
        if (!image.isEmpty())
            folders.append(QDir::cleanPath(QFileInfo(image).absolutePath()));
    }
    folders.removeDuplicates();
    return folders;
}

// Images of the dataset's image folders that no label file names: the
// background images, which a YOLO dataset holds without a label file.
QStringList backgroundImages(const QString &folder, const QStringList &labelFiles, const QStringList &pairedImages)
{
    return unpairedImages(yoloImageFolders(folder, labelFiles, pairedImages), pairedImages, imageNamePatterns());
}

} // namespace

QString findYoloImageInDir(const QString &baseName, const QString &folder)
{
    return ImageFolderIndex::findOnce(folder, baseName, yoloImageExtensions());
}

QString findYoloImageForLabel(const QString &labelPath)
{
    return findImageForLabel(
        labelPath, [](const QString &folder, const QString &baseName) { return findYoloImageInDir(baseName, folder); });
}

bool isYoloDetectionLine(const QByteArray &line)
{
    QByteArray spaced = line;
    spaced.replace('\t', ' ');
    const QList<QByteArray> parts = spaced.split(' ');
    if (parts.size() < 5 || !isStrictInt(parts.at(0)))
        return false;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        if (!parseDouble(QByteArrayView(parts.at(i + 1)), &values[i]))
            return false;
    }
    const bool centreInside = values[0] >= 0.0 && values[0] <= 1.0 && values[1] >= 0.0 && values[1] <= 1.0;
    const bool sizePositive = values[2] > 0.0 && values[2] <= 1.0 && values[3] > 0.0 && values[3] <= 1.0;
    return centreInside && sizePositive;
}

bool YoloHandler::canImport(const QString &path) const
{
    const QDir dir(path);
    if (QFileInfo::exists(dir.filePath(QStringLiteral("data.yaml"))))
        return true;
    if (QFileInfo(dir.filePath(QStringLiteral("labels"))).isDir())
        return true;
    const QStringList files = listFilesRecursively(path, {QStringLiteral("*.txt")});
    int probed = 0;
    for (const QString &file : files) {
        if (isClassList(file))
            continue;
        QByteArray line;
        if (!readFirstLine(file, 4096, &line))
            continue;
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (isYoloDetectionLine(line))
            return true;
        if (++probed >= kMaxProbedLabelFiles)
            return false;
    }
    return false;
}

QStringList collectYoloLabelFiles(const QString &folder)
{
    const QDir dir(folder);
    QStringList files;
    const QString labels = dir.filePath(QStringLiteral("labels"));
    if (QFileInfo(labels).isDir()) {
        const QStringList subfolders = listSubfolders(labels);
        if (subfolders.isEmpty()) {
            files = labelFilesIn(labels);
        } else {
            for (const QString &sub : subfolders)
                files += labelFilesIn(labels + QLatin1Char('/') + sub);
        }
    }
    if (!files.isEmpty())
        return files;

    for (const char *split : {"train", "valid", "val", "test"}) {
        const QString splitLabels = dir.filePath(QLatin1String(split) + QStringLiteral("/labels"));
        if (QFileInfo(splitLabels).isDir())
            files += labelFilesIn(splitLabels);
    }
    if (!files.isEmpty())
        return files;

    files = listFilesRecursively(folder, {QStringLiteral("*.txt")});
    files.removeIf(isClassList);
    return files;
}

QStringList readYoloClassNames(const QString &folder, const YoloDataYaml &yaml)
{
    if (!yaml.names.isEmpty())
        return yaml.names;
    // classes.txt beside the dataset, else beside the label files, where
    // labelling tools that write one label folder put it; else the Darknet
    // layout's "obj.names" (or another "*.names"), as CVAT exports YOLO.
    QStringList names;
    const QDir dir(folder);
    if (readClassListFile(dir.filePath(QStringLiteral("classes.txt")), &names) ||
        readClassListFile(dir.filePath(QStringLiteral("labels/classes.txt")), &names))
        return names;
    QStringList nameFiles = listFiles(folder, {QStringLiteral("*.names")});
    std::stable_partition(nameFiles.begin(), nameFiles.end(), [](const QString &file) {
        return QFileInfo(file).fileName() == QLatin1String("obj.names");
    });
    for (const QString &file : std::as_const(nameFiles)) {
        if (readClassListFile(file, &names))
            return names;
    }
    return names;
}

bool YoloHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const YoloDataYaml yaml = loadYoloDataYaml(path);
    const QStringList classNames = readYoloClassNames(path, yaml);
    const YoloLineLayout layout = YoloLineLayout::fromDataYaml(yaml);
    const QStringList labelFiles = collectYoloLabelFiles(path);

    ImageFolderIndex index(yoloImageExtensions());
    const auto findIn = [&index](const QString &folder, const QString &baseName) {
        return index.find(folder, baseName);
    };
    QStringList imagePaths;
    imagePaths.reserve(labelFiles.size());
    for (const QString &labelFile : labelFiles)
        imagePaths.append(findImageForLabel(labelFile, findIn));
    const QStringList backgrounds = backgroundImages(path, labelFiles, imagePaths);
    const int labelled = int(labelFiles.size());
    const int total = labelled + int(backgrounds.size());

    // Each picture's header and label file are read on several threads at
    // once; the entries, and what went wrong with them, come in in order.
    std::vector<ImageEntry> entries(static_cast<size_t>(total));
    std::vector<QString> failures(static_cast<size_t>(total));
    const auto imagePathOf = [&](int i) { return i < labelled ? imagePaths.at(i) : backgrounds.at(i - labelled); };
    readInParallel(
        total,
        [&](int i) {
            const ImportFailure failure; // this picture's notes
            ImageEntry &entry = entries[size_t(i)];
            const QString imagePath = imagePathOf(i);
            if (!imagePath.isEmpty()) {
                const QSize size = probeImageSize(imagePath);
                entry.width = size.width();
                entry.height = size.height();
            }
            if (i < labelled) {
                entry.filePath = imagePath.isEmpty() ? labelFiles.at(i) : imagePath;
                entry.labels = readYoloLabelFile(labelFiles.at(i), classNames, entry.width, entry.height, layout);
            } else {
                entry.filePath = imagePath;
            }
            failures[size_t(i)] = failure.reason();
        },
        progress);

    int added = 0;
    for (int i = 0; i < total; ++i) {
        if (!failures[size_t(i)].isEmpty())
            ImportFailure::note(QString(), failures[size_t(i)]);
        // A text file with neither an image nor a label line (the Darknet
        // layout's image list "train.txt", a readme) is no image.
        const ImageEntry &entry = entries[size_t(i)];
        if (!imagePathOf(i).isEmpty() || !entry.labels.isEmpty()) {
            dataset.addImage(entry);
            ++added;
        }
    }
    return added > 0;
}

bool YoloHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QDir out(path);
    const QStringList classNames = dataset.classNames();
    if (!writeDocumentFile(out.filePath(QStringLiteral("classes.txt")), classListFileBytes(classNames)))
        return false;

    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    const YoloBoxLines boxes = yoloBoxLinesOf(dataset.images);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    QByteArray lines;
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        lines.clear();
        appendYoloLabelLines(lines, dataset.images.at(i), classIndex, boxes);
        if (!writeFileAtomically(pathInFolder(out, stems.at(i) + QStringLiteral(".txt")), lines))
            return false;
    }
    return true;
}

} // namespace Quillmark
