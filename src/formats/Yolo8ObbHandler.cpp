#include "formats/Yolo8ObbHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/NumberFormat.h"
#include "formats/PerImageFiles.h"
#include "formats/RoboflowYoloHandler.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"
#include "model/FiniteNumber.h"

#include <QDir>
#include <QFileInfo>
#include <QPolygonF>
#include <QRegularExpression>

#include <algorithm>

namespace Quillmark {

namespace {

QStringList collectObb8LabelFiles(const QDir &root)
{
    QStringList files;
    for (const QString &split : labelSplitNames())
        files += listFiles(root.filePath(split + QStringLiteral("/labels")), {QStringLiteral("*.txt")});
    return files;
}

bool isObb8Line(const LabelFields &fields)
{
    int classId = 0;
    if (fields.size() != 9 || !parseInt(fields.at(0), &classId))
        return false;
    return std::all_of(fields.cbegin() + 1, fields.cend(), isUnitNumber);
}

// Whether every line of a label file is an oriented box; false too for a file
// without lines or one that cannot be read.
bool holdsOnlyObb8Lines(const QString &file)
{
    bool any = false;
    bool all = true;
    const bool read = forEachLabelLine(file, [&](const LabelFields &fields) {
        any = true;
        all = all && isObb8Line(fields);
    });
    return read && any && all;
}

bool readObb8Line(const LabelFields &fields, const QStringList &names, QSize size, Annotation *a)
{
    if (fields.size() < 9)
        return false;
    int classId = 0;
    float v[8];
    if (!parseInt(fields.at(0), &classId))
        return false;
    for (int i = 0; i < 8; ++i) {
        double value = 0.0;
        if (!parseDouble(fields.at(i + 1), &value))
            return false;
        v[i] = float(value);
    }
    const bool known = size.width() >= 1 && size.height() >= 1;
    const float w = known ? float(size.width()) : 1.0f;
    const float h = known ? float(size.height()) : 1.0f;
    a->className = classNameForId(classId, names);
    a->kind = Polygon;
    for (int i = 0; i < 8; i += 2)
        a->points.append(QPointF(v[i] * w, v[i + 1] * h));
    a->bbox = QPolygonF(a->points).boundingRect();
    return geometryFitsFloat(*a);
}

// The first line says what the dataset holds: import detection takes a
// folder whose label lines all hold four corners for oriented boxes only when
// its data.yaml says so (see declaresOrientedBoxes).
QByteArray obb8DataYaml(const QStringList &imageFolders, const QStringList &classNames)
{
    static const char *const keys[] = {"train", "val", "test"};
    QString text = QStringLiteral("# Oriented bounding boxes (OBB): class x1 y1 x2 y2 x3 y3 x4 y4, corners normalised "
                                  "to the image.\n") +
                   dataYamlRootComment();
    for (int i = 0; i < 3 && i < imageFolders.size(); ++i) {
        if (!imageFolders.at(i).isEmpty())
            text += QLatin1String(keys[i]) + QStringLiteral(": ") + imageFolders.at(i) + QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    text += QStringLiteral("names:\n");
    for (qsizetype i = 0; i < classNames.size(); ++i)
        text += QStringLiteral("  %1: ").arg(i) + yamlScalar(classNames.at(i)) + QLatin1Char('\n');
    text.replace(QLatin1Char('\n'), QLatin1String(kTextLineEnd));
    return text.toUtf8();
}

QByteArray obb8LabelBytes(const ImageEntry &image, const YoloClassIndex &classIndex)
{
    const QSize size = knownImageSize(image);
    const double w = std::max(size.width(), 1);
    const double h = std::max(size.height(), 1);
    QByteArray text;
    for (const Annotation &a : image.labels) {
        const auto corners = orientedBoxCorners(a);
        if (!corners)
            continue;
        text.append(QByteArray::number(classIndex.value(a.className, 0)));
        for (const QPointF &p : *corners) {
            text.append(' ');
            appendGeneral6(text, p.x() / w);
            text.append(' ');
            appendGeneral6(text, p.y() / h);
        }
        text.append(kTextLineEnd);
    }
    return text;
}

} // namespace

QString Yolo8ObbHandler::name() const
{
    return QStringLiteral("YOLOv8 OBB");
}
QString Yolo8ObbHandler::extension() const
{
    return QStringLiteral("txt");
}

bool Yolo8ObbHandler::canImport(const QString &path) const
{
    const QDir root(path);
    if (!QFileInfo(root.filePath(QStringLiteral("data.yaml"))).isFile())
        return false;
    QString yaml;
    if (readFolderDataYamlText(path, &yaml) && yaml.contains(QLatin1String("roboflow:")))
        return false;
    // Every line of the files looked at must be an oriented box: the YOLO
    // outlines of a segmentation dataset begin with lines of the same length
    // (a box written as its four corners, a quadrilateral), and this reader
    // would cut every longer outline to its first four points.
    LabelFields fields;
    QByteArray line;
    bool found = false;
    int probed = 0;
    for (const QString &file : collectObb8LabelFiles(root)) {
        if (!firstLabelLine(file, fields, &line))
            continue;
        if (!holdsOnlyObb8Lines(file))
            return false;
        found = true;
        if (++probed >= kMaxProbedLabelFiles)
            break;
    }
    return found;
}

bool declaresOrientedBoxes(const QString &folder)
{
    static const QRegularExpression word(QStringLiteral("(?<![A-Za-z])(obb|dota)"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (word.match(QFileInfo(QDir::cleanPath(QDir(folder).absolutePath())).fileName()).hasMatch())
        return true;
    QString yaml;
    return readFolderDataYamlText(folder, &yaml) && word.match(yaml).hasMatch();
}

bool Yolo8ObbHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const QStringList names = readYoloDataYaml(root.filePath(QStringLiteral("data.yaml"))).names;
    ImageFolderIndex index(yoloImageExtensions());
    const auto findImage = [&index](const QString &labelFile) {
        const QFileInfo label(labelFile);
        return index.find(label.absolutePath() + QStringLiteral("/../images"), label.completeBaseName());
    };
    return importLabelFiles(collectObb8LabelFiles(root), dataset, progress, findImage,
                            classIdLineReader(names, dataset, readObb8Line), yoloImageExtensions()) > 0;
}

bool Yolo8ObbHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QString subset = QStringLiteral("train");
    const QByteArray yaml = subsetDataYaml({subset}, dataset);
    return ensureFolder(path) && writeDocumentFile(QDir(path).filePath(QStringLiteral("data.yaml")), yaml) &&
           exportSubset(path, subset, dataset, 0, std::move(progress));
}

QByteArray Yolo8ObbHandler::subsetDataYaml(const QStringList &written, const Dataset &dataset) const
{
    return obb8DataYaml(subsetImageFolders(QStringLiteral("%1/images"), written), dataset.classNames());
}

bool Yolo8ObbHandler::exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int,
                                   ProgressCallback progress)
{
    const QDir out(root);
    PerImageFiles files;
    files.imagesDir = out.filePath(subset + QStringLiteral("/images"));
    files.labelsDir = out.filePath(subset + QStringLiteral("/labels"));
    if (!ensureFolder(files.imagesDir) || !ensureFolder(files.labelsDir))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(dataset.classNames());
    files.labelBytes = [&classIndex](const ImageEntry &image) { return obb8LabelBytes(image, classIndex); };
    return writePerImageFiles(dataset.images, files, progress);
}

} // namespace Quillmark
