#include "formats/Yolo5ObbHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/FolderListing.h"
#include "formats/ImageFolderIndex.h"
#include "formats/LabelLineFields.h"
#include "formats/NumberFormat.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloDataYaml.h"
#include "formats/YoloHandler.h"
#include "model/FiniteNumber.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPolygonF>
#include <QSet>

namespace Quillmark {

namespace {

QStringList collectLabelTxtFiles(const QDir &root)
{
    QStringList files;
    for (const QString &split : labelSplitNames())
        files += listFiles(root.filePath(split + QStringLiteral("/labelTxt")), {QStringLiteral("*.txt")});
    if (files.isEmpty())
        files = listFiles(root.filePath(QStringLiteral("labelTxt")), {QStringLiteral("*.txt")});
    return files;
}

// <dir>/../images first, then the label file's own folder.
QString findObbImage(ImageFolderIndex &index, const QString &labelPath)
{
    const QFileInfo label(labelPath);
    const QString found = index.find(label.absolutePath() + QStringLiteral("/../images"), label.completeBaseName());
    return found.isEmpty() ? index.find(label.absolutePath(), label.completeBaseName()) : found;
}

// The class name of a line: the ninth field. A name written with spaces
// spreads over the fields up to the difficulty flag, which is then the last
// field and an integer.
QString obbClassName(const LabelFields &fields)
{
    int difficulty = 0;
    if (fields.size() <= 10 || !parseInt(fields.back(), &difficulty))
        return QString::fromUtf8(fields.at(8));
    QByteArray name;
    for (qsizetype i = 8; i + 1 < fields.size(); ++i) {
        if (i > 8)
            name.append(' ');
        name.append(fields.at(i).data(), fields.at(i).size());
    }
    return QString::fromUtf8(name);
}

// DOTA's class names hold no white space: a space is written as "_".
QString dotaClassName(const QString &name)
{
    QString written = name.simplified();
    written.replace(QLatin1Char(' '), QLatin1Char('_'));
    return written;
}

bool readObbLine(const LabelFields &fields, Annotation *a)
{
    if (fields.size() < 9)
        return false;
    double v[8];
    for (int i = 0; i < 8; ++i) {
        if (!parseDouble(fields.at(i), &v[i]))
            return false;
    }
    a->className = obbClassName(fields).trimmed();
    if (a->className.isEmpty())
        return false;
    a->kind = Polygon;
    a->points = {QPointF(v[0], v[1]), QPointF(v[2], v[3]), QPointF(v[4], v[5]), QPointF(v[6], v[7])};
    a->bbox = QPolygonF(a->points).boundingRect();
    return geometryFitsFloat(*a);
}

// The class names as the lines spell them, one spelling per class: two
// names that DOTA's form would make one ("traffic light", "traffic_light")
// keep apart, the later one taking "_2", "_3", ...
QStringList dotaLineNames(const QStringList &classNames)
{
    QStringList spelled;
    spelled.reserve(classNames.size());
    QSet<QString> taken;
    for (const QString &name : classNames) {
        const QString natural = dotaClassName(name);
        QString candidate = natural;
        for (int n = 2; taken.contains(candidate); ++n)
            candidate = natural + QLatin1Char('_') + QString::number(n);
        taken.insert(candidate);
        spelled.append(candidate);
    }
    return spelled;
}

QByteArray obbLabelBytes(const ImageEntry &image, const QHash<QString, QString> &lineNames)
{
    QByteArray text;
    for (const Annotation &a : image.labels) {
        const auto corners = orientedBoxCorners(a);
        if (!corners)
            continue;
        for (const QPointF &p : *corners) {
            text.append(roundedIntegerText(p.x()).toLatin1()).append(' ');
            text.append(roundedIntegerText(p.y()).toLatin1()).append(' ');
        }
        text.append(lineNames.value(a.className, dotaClassName(a.className)).toUtf8()).append(" 0");
        text.append(kTextLineEnd);
    }
    return text;
}

} // namespace

QByteArray splitListDataYaml(const QStringList &imageFolders, const QStringList &classNames,
                             const QStringList &displayNames)
{
    static const char *const keys[] = {"train", "val", "test"};
    QString text = dataYamlRootComment();
    for (int i = 0; i < 3 && i < imageFolders.size(); ++i) {
        if (!imageFolders.at(i).isEmpty())
            text += QLatin1String(keys[i]) + QStringLiteral(": ") + imageFolders.at(i) + QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    text += QStringLiteral("nc: %1\n").arg(classNames.size());
    text += QStringLiteral("names: ") + yamlQuotedList(classNames) + QLatin1Char('\n');
    if (!displayNames.isEmpty())
        text += QStringLiteral("display_names: ") + yamlQuotedList(displayNames) + QLatin1Char('\n');
    text.replace(QLatin1Char('\n'), QLatin1String(kTextLineEnd));
    return text.toUtf8();
}

QString Yolo5ObbHandler::name() const
{
    return QStringLiteral("YOLOv5 OBB");
}
QString Yolo5ObbHandler::extension() const
{
    return QStringLiteral("txt");
}

bool Yolo5ObbHandler::canImport(const QString &path) const
{
    const QDir root(path);
    if (!QFileInfo(root.filePath(QStringLiteral("data.yaml"))).isFile())
        return false;
    for (const QString &split : labelSplitNames()) {
        if (QFileInfo(root.filePath(split + QStringLiteral("/labelTxt"))).isDir())
            return true;
    }
    return QFileInfo(root.filePath(QStringLiteral("labelTxt"))).isDir();
}

bool Yolo5ObbHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    const YoloDataYaml yaml = readYoloDataYaml(root.filePath(QStringLiteral("data.yaml")));
    // The project's own spelling of each listed name, where the data.yaml
    // keeps one.
    QStringList names = yaml.displayNames.size() == yaml.names.size() ? yaml.displayNames : yaml.names;
    QSet<QString> known(names.cbegin(), names.cend());
    // A name of the list that a line spells in DOTA's form reads as itself;
    // the spelling "names" gives a class is its line's, whatever else it
    // might be taken for.
    QHash<QString, QString> listed;
    for (const QString &name : std::as_const(names))
        listed.insert(dotaClassName(name), name);
    for (qsizetype i = 0; i < names.size(); ++i)
        listed.insert(yaml.names.at(i), names.at(i));
    bool namesAdded = false;
    ImageFolderIndex index(yoloImageExtensions());
    const auto findImage = [&index](const QString &labelFile) { return findObbImage(index, labelFile); };
    const auto readLabels = [&](const QString &labelFile, const QString &, QSize, QList<Annotation> *labels) {
        const bool read = forEachLabelLine(labelFile, [&](const LabelFields &fields) {
            Annotation a;
            if (!readObbLine(fields, &a))
                return;
            a.className = listed.value(a.className, a.className);
            if (!known.contains(a.className)) {
                known.insert(a.className);
                names.append(a.className);
            }
            dataset.addClass(a.className, QColor());
            labels->append(a);
        });
        // Every class of the list joins once a label file was read; later
        // files can only add names that their lines added already.
        if (read && !namesAdded) {
            for (const QString &name : names)
                dataset.addClass(name, QColor());
            namesAdded = true;
        }
        return read;
    };
    return importLabelFiles(collectLabelTxtFiles(root), dataset, progress, findImage, readLabels,
                            yoloImageExtensions()) > 0;
}

bool Yolo5ObbHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const QString subset = QStringLiteral("train");
    const QByteArray yaml = subsetDataYaml({subset}, dataset);
    return ensureFolder(path) && writeDocumentFile(QDir(path).filePath(QStringLiteral("data.yaml")), yaml) &&
           exportSubset(path, subset, dataset, 0, std::move(progress));
}

bool Yolo5ObbHandler::exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int,
                                   ProgressCallback progress)
{
    const QDir out(root);
    PerImageFiles files;
    files.imagesDir = out.filePath(subset + QStringLiteral("/images"));
    files.labelsDir = out.filePath(subset + QStringLiteral("/labelTxt"));
    const QStringList classNames = dataset.classNames();
    const QStringList spelled = dotaLineNames(classNames);
    QHash<QString, QString> lineNames;
    for (qsizetype i = 0; i < classNames.size(); ++i)
        lineNames.insert(classNames.at(i), spelled.at(i));
    files.labelBytes = [&lineNames](const ImageEntry &image) { return obbLabelBytes(image, lineNames); };
    if (!ensureFolder(files.imagesDir) || !ensureFolder(files.labelsDir))
        return false;
    return writePerImageFiles(dataset.images, files, progress);
}

// The trainers of the format take a line's class from its ninth field and
// drop a picture whose class the data.yaml does not list: "names" spells the
// classes as the lines do. When that is not as the project spells them,
// "display_names" keeps the project's spelling for the way back.
QByteArray Yolo5ObbHandler::subsetDataYaml(const QStringList &written, const Dataset &dataset) const
{
    const QStringList classNames = dataset.classNames();
    const QStringList lineNames = dotaLineNames(classNames);
    return splitListDataYaml(subsetImageFolders(QStringLiteral("%1/images"), written), lineNames,
                             lineNames == classNames ? QStringList() : classNames);
}

} // namespace Quillmark
