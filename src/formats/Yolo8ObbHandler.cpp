#include "formats/Yolo8ObbHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/ImageProbe.h"
#include "formats/LabelLineFields.h"
#include "formats/NumberFormat.h"
#include "formats/RoboflowYoloHandler.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/Yolo5ObbHandler.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "formats/YoloLabelLines.h"

#include <QDir>
#include <QFileInfo>
#include <QPolygonF>

#include <algorithm>

namespace Quillmark {

namespace {

QStringList collectObb8LabelFiles(const QDir &root)
{
    QStringList files;
    for (const QString &split : obbSplitNames())
        files += listFiles(root.filePath(split + QStringLiteral("/labels")), {QStringLiteral("*.txt")});
    return files;
}

bool isObb8FirstLine(const LabelFields &fields)
{
    int classId = 0;
    if (fields.size() != 9 || !parseInt(fields.at(0), &classId))
        return false;
    return std::all_of(fields.cbegin() + 1, fields.cend(), isUnitNumber);
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
    return hasFiniteGeometry(*a);
}

QByteArray obb8DataYaml(const QStringList &classNames)
{
    QString text;
    text += QStringLiteral("train: train/images\n");
    text += QStringLiteral("val: valid/images\n");
    text += QStringLiteral("test: test/images\n\n");
    text += QStringLiteral("names:\n");
    for (qsizetype i = 0; i < classNames.size(); ++i)
        text += QStringLiteral("  %1: ").arg(i) + yamlScalar(classNames.at(i)) + QLatin1Char('\n');
    text.replace(QLatin1Char('\n'), QLatin1String(kTextLineEnd));
    return text.toUtf8();
}

QByteArray obb8LabelBytes(const ImageEntry &image, const YoloClassIndex &classIndex)
{
    const QSize size = imageSizeOf(image);
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

QString Yolo8ObbHandler::name() const { return QStringLiteral("YOLOv8 OBB"); }
QString Yolo8ObbHandler::extension() const { return QStringLiteral("txt"); }

bool Yolo8ObbHandler::canImport(const QString &path) const
{
    const QDir root(path);
    if (!QFileInfo(root.filePath(QStringLiteral("data.yaml"))).isFile())
        return false;
    QString yaml;
    if (readFolderDataYamlText(path, &yaml) && yaml.contains(QLatin1String("roboflow:")))
        return false;
    LabelFields fields;
    QByteArray line;
    int probed = 0;
    for (const QString &file : collectObb8LabelFiles(root)) {
        if (!firstLabelLine(file, fields, &line))
            continue;
        if (isObb8FirstLine(fields))
            return true;
        if (++probed >= kMaxProbedLabelFiles)
            return false;
    }
    return false;
}

bool Yolo8ObbHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const QStringList names = readYoloDataYaml(root.filePath(QStringLiteral("data.yaml"))).names;
    const QStringList labelFiles = collectObb8LabelFiles(root);
    const int total = int(labelFiles.size());
    ImageFolderIndex index(yoloImageExtensions());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &labelFile = labelFiles.at(i);
        const QFileInfo label(labelFile);
        const QString imagePath =
            index.find(label.absolutePath() + QStringLiteral("/../images"), label.completeBaseName());
        const QSize size = probeImageSize(imagePath);
        ImageEntry entry;
        const bool read = forEachLabelLine(labelFile, [&](const LabelFields &fields) {
            Annotation a;
            if (!readObb8Line(fields, names, size, &a))
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

bool Yolo8ObbHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QDir out(path);
    const QString imagesDir = out.filePath(QStringLiteral("train/images"));
    const QString labelsDir = out.filePath(QStringLiteral("train/labels"));
    if (!ensureFolder(imagesDir) || !ensureFolder(labelsDir))
        return false;
    const QStringList classNames = dataset.classNames();
    if (!writeDocumentFile(out.filePath(QStringLiteral("data.yaml")), obb8DataYaml(classNames)))
        return false;
    const YoloClassIndex classIndex = yoloClassIndex(classNames);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const QString imagePath = imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
        if (writeExportImage(image, imagePath) == ExportImageResult::Failed)
            return false;
        const QString labelPath = labelsDir + QLatin1Char('/') + stems.at(i) + QStringLiteral(".txt");
        if (!writeFileAtomically(labelPath, obb8LabelBytes(image, classIndex)))
            return false;
    }
    return true;
}

} // namespace Quillmark
