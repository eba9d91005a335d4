#include "formats/YoloPoseHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ClassListFile.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/NumberFormat.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"
#include "model/FiniteNumber.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace Quillmark {

namespace {

QStringList textFilesBelow(const QString &folder)
{
    return listFilesRecursively(folder, {QStringLiteral("*.txt")});
}

bool hasFileName(const QString &path, const QStringList &lowerNames)
{
    return lowerNames.contains(QFileInfo(path).fileName().toLower());
}

// A keypoint's visibility as pose files write it: a whole number 0, 1 or 2.
bool isVisibilityField(QByteArrayView field)
{
    int value = -1;
    return !field.contains('.') && parseInt(field, &value) && value >= 0 && value <= 2;
}

// A first line of a box in 0..1 followed by keypoint triplets, each ending in
// a visibility. The outline of a YOLO segmentation line can have the same
// length (a pentagon's eleven fields), but its every third field is a
// coordinate, which the YOLO writer gives a decimal point even at 0 or 1.
bool isPoseFirstLine(const LabelFields &fields)
{
    const qsizetype n = fields.size();
    if (n <= 5 || (n - 5) % 3 != 0)
        return false;
    if (!std::all_of(fields.cbegin() + 1, fields.cbegin() + 5, isUnitNumber))
        return false;
    for (qsizetype i = 7; i < n; i += 3) {
        if (!isVisibilityField(fields.at(i)))
            return false;
    }
    return true;
}

// Whether one of the files passes the first-line test, looking at no more
// than `budget` files with a non-blank first line (the budget is shared by
// the calls of one detection).
bool anyPoseFirstLine(const QStringList &files, const QStringList &skippedNames, int &budget)
{
    LabelFields fields;
    QByteArray line;
    for (const QString &file : files) {
        if (budget <= 0)
            return false;
        if (hasFileName(file, skippedNames) || !firstLabelLine(file, fields, &line))
            continue;
        if (isPoseFirstLine(fields))
            return true;
        --budget;
    }
    return false;
}

QString findPoseImage(ImageFolderIndex &index, const QString &labelPath)
{
    const QFileInfo label(labelPath);
    const QString dir = label.absolutePath();
    const QString base = label.completeBaseName();
    const QStringList candidates = {
        dir + QStringLiteral("/../images"),
        dir + QStringLiteral("/../../images/") + QFileInfo(dir).fileName(),
        dir + QStringLiteral("/images"),
        dir,
    };
    for (const QString &folder : candidates) {
        const QString found = index.find(folder, base);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QPointF scaledPoint(QByteArrayView x, QByteArrayView y, QSize size)
{
    const float fx = coordinateField(x);
    const float fy = coordinateField(y);
    if (size.width() < 1 || size.height() < 1)
        return {fx, fy};
    return {double(fx * float(size.width())), double(fy * float(size.height()))};
}

bool readPoseLine(const LabelFields &fields, const QStringList &names, QSize size, const YoloDataYaml &shape,
                  Annotation *a)
{
    const qsizetype n = fields.size();
    int classId = 0;
    if (n < 5 || !parseInt(fields.at(0), &classId))
        return false;
    a->className = classNameForId(classId, names);
    a->kind = BoundingBox;
    a->bbox = boxFromCentre(coordinateField(fields.at(1)), coordinateField(fields.at(2)), coordinateField(fields.at(3)),
                            coordinateField(fields.at(4)), size);
    const qsizetype extra = n - 5;
    const bool pairs = shape.keypointDims == 2 && shape.keypointCount > 0 && extra == 2 * shape.keypointCount;
    if (pairs || (extra > 0 && extra % 3 == 0)) {
        const int step = pairs ? 2 : 3;
        a->kind = Keypoint;
        for (qsizetype at = 5; at + step <= n; at += step) {
            a->points.append(scaledPoint(fields.at(at), fields.at(at + 1), size));
            a->keypointVis.append(pairs ? 2 : intOr(fields.at(at + 2)));
        }
    } else if (extra > 0 && n % 2 == 1) {
        a->kind = Polygon;
        for (qsizetype at = 5; at + 2 <= n; at += 2)
            a->points.append(scaledPoint(fields.at(at), fields.at(at + 1), size));
    }
    return geometryFitsFloat(*a);
}

QByteArray poseDataYaml(const QStringList &imageFolders, const QStringList &classNames, int keypointCount,
                        const QStringList &keypointNames)
{
    static const char *const keys[] = {"train", "val", "test"};
    QString text = dataYamlRootComment();
    for (int i = 0; i < 3 && i < imageFolders.size(); ++i) {
        if (!imageFolders.at(i).isEmpty())
            text += QLatin1String(keys[i]) + QStringLiteral(": ") + imageFolders.at(i) + QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    text += QStringLiteral("nc: %1\n").arg(classNames.size());
    // Without "flip_idx" a trainer does not mirror the pictures at all.
    if (keypointCount > 0)
        text += yamlKeypointShape(keypointNames, keypointCount);
    text += QStringLiteral("\nnames:\n");
    for (const QString &name : classNames)
        text += QStringLiteral("  - ") + yamlScalar(name) + QLatin1Char('\n');
    return text.toUtf8();
}

// Writes a normalised value: clamped to 0..1 when the image size is known;
// with no size to be had, the pixel value as it stands (as the YOLO writer
// does) rather than a clamped value that no longer says anything.
void appendPoseValue(QByteArray &out, double value, bool known)
{
    out.append(' ');
    const float f = float(value);
    appendGeneral6(out, double(known ? std::clamp(f, 0.0f, 1.0f) : f));
}

QByteArray poseLabelBytes(const ImageEntry &image, const YoloClassIndex &classIndex, int keypointCount)
{
    const QSize size = knownImageSize(image);
    const bool known = size.width() >= 1 && size.height() >= 1;
    const double w = known ? size.width() : 1.0;
    const double h = known ? size.height() : 1.0;
    QByteArray text;
    for (const Annotation &a : image.labels) {
        if (a.kind != Keypoint)
            continue;
        text.append(QByteArray::number(classIndex.value(a.className, 0)));
        const QRectF box = keypointSetBox(a);
        appendPoseValue(text, (box.x() + box.width() * 0.5) / w, known);
        appendPoseValue(text, (box.y() + box.height() * 0.5) / h, known);
        appendPoseValue(text, box.width() / w, known);
        appendPoseValue(text, box.height() / h, known);
        for (qsizetype j = 0; j < a.points.size(); ++j) {
            appendPoseValue(text, float(a.points.at(j).x()) / float(w), known);
            appendPoseValue(text, float(a.points.at(j).y()) / float(h), known);
            text.append(' ');
            text.append(QByteArray::number(j < a.keypointVis.size() ? a.keypointVis.at(j) : 2));
        }
        for (qsizetype j = a.points.size(); j < keypointCount; ++j)
            text.append(" 0 0 0");
        text.append('\n');
    }
    return text;
}

} // namespace

QString YoloPoseHandler::name() const
{
    return QStringLiteral("YOLO Pose");
}
QString YoloPoseHandler::extension() const
{
    return QStringLiteral("txt");
}

bool YoloPoseHandler::canImport(const QString &path) const
{
    const QDir root(path);
    const QString yaml = root.filePath(QStringLiteral("data.yaml"));
    if (QFileInfo(yaml).isFile() && readRegularFileHead(yaml, 4096).contains("kpt_shape"))
        return true;
    int budget = kMaxProbedLabelFiles;
    const QString labels = root.filePath(QStringLiteral("labels"));
    if (QFileInfo(labels).isDir() && anyPoseFirstLine(textFilesBelow(labels), {}, budget))
        return true;
    static const QStringList skipped = {QStringLiteral("classes.txt"), QStringLiteral("data.txt")};
    return anyPoseFirstLine(textFilesBelow(path), skipped, budget);
}

QStringList collectPoseLabelFiles(const QString &root)
{
    const QDir dir(root);
    QStringList files = textFilesBelow(dir.filePath(QStringLiteral("labels")));
    if (!files.isEmpty())
        return files;
    for (const QString &split : labelSplitNames())
        files += textFilesBelow(dir.filePath(split + QStringLiteral("/labels")));
    if (!files.isEmpty())
        return files;
    static const QStringList skipped = {QStringLiteral("classes.txt"), QStringLiteral("data.txt"),
                                        QStringLiteral("notes.txt")};
    const QStringList all = textFilesBelow(root);
    for (const QString &file : all) {
        if (!hasFileName(file, skipped))
            files.append(file);
    }
    return files;
}

bool readPoseLabelFile(const QString &path, const QStringList &classNames, QSize imageSize, const YoloDataYaml &shape,
                       QList<Annotation> *annotations)
{
    annotations->clear();
    return forEachLabelLine(path, [&](const LabelFields &fields) {
        Annotation a;
        if (readPoseLine(fields, classNames, imageSize, shape, &a))
            annotations->append(a);
    });
}

bool YoloPoseHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const QString yamlPath = root.filePath(QStringLiteral("data.yaml"));
    const YoloDataYaml yaml = QFileInfo(yamlPath).isFile() ? readYoloDataYaml(yamlPath) : YoloDataYaml();
    QStringList classNames = yaml.names;
    if (classNames.isEmpty())
        classNames = readNonEmptyClassNames(root.filePath(QStringLiteral("classes.txt")));

    ImageFolderIndex index(yoloImageExtensions());
    const auto findImage = [&index](const QString &labelFile) { return findPoseImage(index, labelFile); };
    const auto readLabels = [&](const QString &labelFile, const QString &, QSize size, QList<Annotation> *labels) {
        return readPoseLabelFile(labelFile, classNames, size, yaml, labels);
    };
    return importLabelFiles(collectPoseLabelFiles(path), dataset, progress, findImage, readLabels,
                            yoloImageExtensions()) > 0;
}

bool YoloPoseHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QByteArray yaml = subsetDataYaml({}, dataset);
    return ensureFolder(path) && writeDocumentFile(QDir(path).filePath(QStringLiteral("data.yaml")), yaml) &&
           exportSubset(path, QString(), dataset, largestKeypointCount(dataset), std::move(progress));
}

QByteArray YoloPoseHandler::subsetDataYaml(const QStringList &written, const Dataset &dataset) const
{
    const QStringList folders = written.isEmpty() ? QStringList{QStringLiteral("images"), QStringLiteral("images")}
                                                  : subsetImageFolders(QStringLiteral("%1/images"), written);
    return poseDataYaml(folders, dataset.classNames(), largestKeypointCount(dataset),
                        dataset.keypointSchema.keypointNames);
}

bool YoloPoseHandler::exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int keypointCount,
                                   ProgressCallback progress)
{
    const QDir out(root);
    const QString prefix = subset.isEmpty() ? QString() : subset + QLatin1Char('/');
    const QString imagesDir = out.filePath(prefix + QStringLiteral("images"));
    const QString labelsDir = out.filePath(prefix + QStringLiteral("labels"));
    if (!ensureFolder(imagesDir) || !ensureFolder(labelsDir))
        return false;
    const QStringList classNames = dataset.classNames();

    // The label files first, then the images: progress runs over both.
    const int n = int(dataset.images.size());
    const auto stage = [&progress, n](int offset) -> ProgressCallback {
        if (!progress)
            return {};
        return [&progress, n, offset](int current, int) { progress(offset + current, 2 * n); };
    };
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    PerImageFiles labels;
    labels.labelsDir = labelsDir;
    labels.labelBytes = [&](const ImageEntry &image) { return poseLabelBytes(image, classIndex, keypointCount); };
    PerImageFiles images;
    images.imagesDir = imagesDir;
    return writePerImageFiles(dataset.images, labels, stage(0)) && writePerImageFiles(dataset.images, images, stage(n));
}

} // namespace Quillmark
