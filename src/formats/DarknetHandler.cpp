#include "formats/DarknetHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/ExportNames.h"
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
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace Quillmark {

namespace {

const QString kClassFile = QStringLiteral("_darknet.labels");
const QString kNamesFile = QStringLiteral("obj.names");
const QString kDataFile = QStringLiteral("obj.data");
constexpr qint64 kMaxDataFileBytes = 1024 * 1024;

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
    return QFileInfo(QDir(path).filePath(kClassFile)).isFile() || !findDarknetDataFile(path).isEmpty();
}

QHash<QString, QString> readDarknetDataFile(const QString &path)
{
    QHash<QString, QString> options;
    QByteArray bytes;
    if (!readWholeFile(path, kMaxDataFileBytes, &bytes))
        return options;
    for (const QByteArray &raw : bytes.split('\n')) {
        // darknet drops every blank of a line before it reads it.
        QByteArray line;
        line.reserve(raw.size());
        for (char c : raw) {
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f')
                line.append(c);
        }
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        options.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return options;
}

QString findDarknetDataFile(const QString &folder)
{
    const QString data = QDir(folder).filePath(kDataFile);
    if (QFileInfo(data).isFile())
        return data;
    QStringList candidates = listFiles(folder, {QStringLiteral("*.data")});
    std::sort(candidates.begin(), candidates.end());
    // A folder of some other format's "*.data" files is not read through.
    candidates = candidates.mid(0, kMaxProbedLabelFiles);
    for (const QString &candidate : std::as_const(candidates)) {
        if (readDarknetDataFile(candidate).contains(QStringLiteral("names")))
            return candidate;
    }
    return {};
}

QString resolveDarknetPath(const QString &dataFolder, const QString &named)
{
    QString path = named;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.isEmpty())
        return {};
    if (isAbsoluteFilePath(path))
        return QDir::cleanPath(path);
    const QDir base(dataFolder);
    QStringList candidates = {pathInFolder(base, path), pathInFolder(base, QStringLiteral("../") + path)};
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    if (slash > 0)
        candidates.append(pathInFolder(base, path.mid(slash + 1)));
    for (const QString &candidate : std::as_const(candidates)) {
        if (QFileInfo::exists(candidate))
            return cleanFilePath(candidate);
    }
    return cleanFilePath(candidates.constFirst());
}

QString darknetLabelPath(const QString &imagePath)
{
    const QFileInfo image(imagePath);
    const QString stem = image.completeBaseName();
    const QString beside = image.path() + QLatin1Char('/') + stem + QStringLiteral(".txt");
    if (QFileInfo::exists(beside))
        return beside;
    for (const QString &folder : {QStringLiteral("/images/"), QStringLiteral("/JPEGImages/")}) {
        const QString path = image.path() + QLatin1Char('/');
        const qsizetype at = path.lastIndexOf(folder);
        if (at < 0)
            continue;
        const QString label = path.left(at) + QStringLiteral("/labels/") + path.mid(at + folder.size()) + stem +
                              QStringLiteral(".txt");
        if (QFileInfo::exists(label))
            return label;
    }
    return beside;
}

namespace {

// The picture one line of an image list names. darknet takes the line as it
// is, less its line end, so a name may begin with '#' or a blank; a line
// whose blanks belong to no picture names the picture without them. Empty
// when the line is blank.
QString listedDarknetImage(const QString &folder, QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const QString written = QString::fromUtf8(line);
    const QString trimmed = written.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QString image = resolveDarknetPath(folder, written);
    if (written == trimmed || QFileInfo::exists(image))
        return image;
    return resolveDarknetPath(folder, trimmed);
}

// The pictures the image lists of a data file name, each once, in the order
// of the lists "train", "valid" and "test" (a list named twice is read once).
QStringList listedDarknetImages(const QString &dataFile, const QHash<QString, QString> &options)
{
    const QString folder = QFileInfo(dataFile).absolutePath();
    QStringList images;
    QSet<QString> seenLists;
    QSet<QString> seenImages;
    for (const char *key : {"train", "valid", "test"}) {
        const QString named = options.value(QLatin1String(key));
        if (named.isEmpty())
            continue;
        const QString list = resolveDarknetPath(folder, named);
        if (seenLists.contains(list))
            continue;
        seenLists.insert(list);
        QByteArray bytes;
        if (!readWholeFile(list, kMaxTextFileBytes, &bytes))
            continue;
        for (const QByteArray &raw : bytes.split('\n')) {
            const QString image = listedDarknetImage(folder, raw);
            if (image.isEmpty())
                continue;
            if (seenImages.contains(image))
                continue;
            seenImages.insert(image);
            images.append(image);
        }
    }
    return images;
}

QStringList darknetClassNames(const QString &folder, const QString &dataFile, const QHash<QString, QString> &options)
{
    QStringList names;
    const QString named = options.value(QStringLiteral("names"));
    if (!named.isEmpty() && readClassListFile(resolveDarknetPath(QFileInfo(dataFile).absolutePath(), named), &names))
        return names;
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(kClassFile)).isFile())
        return readNonEmptyClassNames(dir.filePath(kClassFile));
    readClassListFile(dir.filePath(kNamesFile), &names);
    return names;
}

// Reads the pictures a data file lists, each with its label file; a picture
// without one is a background picture, one that is missing keeps its label
// file's path (coordinates normalised). -1 when the data file lists nothing.
int importListedImages(const QString &folder, const QString &dataFile, Dataset &dataset,
                       const ProgressCallback &progress)
{
    const QHash<QString, QString> options = readDarknetDataFile(dataFile);
    const QStringList images = listedDarknetImages(dataFile, options);
    if (images.isEmpty())
        return -1;
    const QStringList classNames = darknetClassNames(folder, dataFile, options);
    const int total = int(images.size());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &imagePath = images.at(i);
        const QString labelPath = darknetLabelPath(imagePath);
        const bool hasImage = QFileInfo(imagePath).isFile();
        if (hasImage || QFileInfo(labelPath).isFile()) {
            const QSize size = hasImage ? probeImageSize(imagePath) : QSize(0, 0);
            ImageEntry entry;
            entry.filePath = hasImage ? imagePath : labelPath;
            entry.width = size.width();
            entry.height = size.height();
            entry.labels = readDarknetLabelFile(labelPath, classNames, size);
            dataset.addImage(entry);
            ++added;
        }
        if (progress)
            progress(i + 1, total);
    }
    return added;
}

} // namespace

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
    const QString dataFile = findDarknetDataFile(path);
    if (!dataFile.isEmpty()) {
        const int listed = importListedImages(path, dataFile, dataset, progress);
        if (listed >= 0)
            return listed > 0;
    }
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
    const QByteArray classList = classListFileBytes(classNames);
    if (!writeDocumentFile(QDir(path).filePath(kClassFile), classList) ||
        !writeDocumentFile(QDir(path).filePath(kNamesFile), classList))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    PerImageFiles files;
    files.labelsDir = path;
    files.labelBytes = [&classIndex](const ImageEntry &image) { return boxOnlyLabelLines(image, classIndex); };
    return writePerImageFiles(dataset.images, files, progress);
}

namespace {

// The image list of one subset: its pictures as the export names them,
// relative to the root.
QByteArray imageListBytes(const IExportIndexWriter::Subset &subset)
{
    const QString prefix = subset.folder.isEmpty() ? QString() : subset.folder + QLatin1Char('/');
    const QStringList stems = uniqueExportStems(subset.images);
    QByteArray bytes;
    for (qsizetype i = 0; i < subset.images.size(); ++i)
        bytes.append((prefix + exportFileName(stems.at(i), subset.images.at(i).filePath)).toUtf8()).append('\n');
    return bytes;
}

QString imageListName(const QString &subset)
{
    return (subset.isEmpty() ? QStringLiteral("train") : subset) + QStringLiteral(".txt");
}

} // namespace

bool DarknetHandler::writeExportIndex(const QString &root, const QList<Subset> &subsets, const QStringList &classNames)
{
    const QDir dir(root);
    if (!writeDocumentFile(dir.filePath(kNamesFile), classListFileBytes(classNames)) ||
        !ensureFolder(dir.filePath(QStringLiteral("backup"))))
        return false;
    QStringList lists;
    for (const Subset &subset : subsets) {
        const QString list = imageListName(subset.folder);
        if (!writeDocumentFile(dir.filePath(list), imageListBytes(subset)))
            return false;
        lists.append(list);
    }
    // Without a validation subset darknet validates on the training pictures.
    const QString train = lists.value(0, QStringLiteral("train.txt"));
    const QString valid = lists.contains(QStringLiteral("valid.txt")) ? QStringLiteral("valid.txt") : train;
    QString text = QStringLiteral(
        "# darknet data file. Train from this folder:\n"
        "#   darknet detector train obj.data <network>.cfg <weights>\n"
        "# Every path here and in the image lists is relative to this folder; the\n"
        "# label file of a picture lies beside it, named as it with \".txt\".\n");
    text += QStringLiteral("classes = %1\n").arg(classNames.size());
    text += QStringLiteral("train = %1\n").arg(train);
    text += QStringLiteral("valid = %1\n").arg(valid);
    if (lists.contains(QStringLiteral("test.txt")))
        text += QStringLiteral("test = test.txt\n");
    text += QStringLiteral("names = obj.names\nbackup = backup/\n");
    return writeDocumentFile(dir.filePath(kDataFile), text.toUtf8());
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
