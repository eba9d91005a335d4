#include "formats/ClipHandler.h"

#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageExtensions.h"
#include "formats/ImageProbe.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>

#include <algorithm>

namespace Quillmark {

namespace {

const QString kCaptionFile = QStringLiteral("_tokenization.txt");
const QString kUnlabeled = QStringLiteral("unlabeled");
const QString kMultipleSuffix = QStringLiteral("_multiple");

// One folder of the export: its images, and the class names its caption
// tells (the real names, before they were made fit for a folder name).
struct ClipGroup {
    QStringList captionNames;
    QList<int> images;
};

// The label of an image: its class tokens, sorted, each with the real class
// name it stands for.
QList<QPair<QString, QString>> sortedTokens(const ImageEntry &image)
{
    QMap<QString, bool> multiple;
    for (const Annotation &annotation : image.labels) {
        if (annotation.className.trimmed().isEmpty())
            continue;
        bool &flag = multiple[annotation.className];
        flag = flag || annotation.attributes.value(QStringLiteral("multiple")).toBool();
    }
    QList<QPair<QString, QString>> tokens;
    for (auto it = multiple.cbegin(); it != multiple.cend(); ++it)
        tokens.append({it.value() ? it.key() + kMultipleSuffix : it.key(), it.key()});
    std::sort(tokens.begin(), tokens.end());
    return tokens;
}

// The folder of a label. Blanks separate the classes of a folder name, so a
// blank inside a class name becomes "_"; the whole name is then made fit for
// a folder on any file system, and a labelled image never lands in the folder
// that means "no labels".
QString folderName(const QList<QPair<QString, QString>> &tokens)
{
    if (tokens.isEmpty())
        return kUnlabeled;
    QStringList parts;
    for (const auto &token : tokens) {
        QString part = token.first;
        for (QChar &c : part) {
            if (c.isSpace())
                c = QLatin1Char('_');
        }
        parts.append(part);
    }
    const QString name = portableFileName(parts.join(QLatin1Char(' ')));
    return name == kUnlabeled ? name + QLatin1Char('_') : name;
}

QByteArray captionText(const QMap<QString, ClipGroup> &groups)
{
    QString text;
    for (const ClipGroup &group : groups) {
        if (group.captionNames.isEmpty())
            text += QStringLiteral("An image with no labels\n");
        else
            text += QStringLiteral("An image depicting ") + group.captionNames.join(QStringLiteral(", ")) +
                    QLatin1Char('\n');
    }
    return text.toUtf8();
}

} // namespace

QString ClipHandler::name() const
{
    return QStringLiteral("CLIP");
}
QString ClipHandler::extension() const
{
    return QStringLiteral("txt");
}

bool ClipHandler::canImport(const QString &path) const
{
    return QFileInfo(QDir(path).filePath(kCaptionFile)).isFile();
}

bool ClipHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    const int total = int(dataset.images.size());
    if (total == 0 || !ensureFolder(path))
        return false;
    // Groups in folder-name order (case-sensitive), images in dataset order.
    QMap<QString, ClipGroup> groups;
    for (int i = 0; i < total; ++i) {
        const QList<QPair<QString, QString>> tokens = sortedTokens(dataset.images.at(i));
        ClipGroup &group = groups[folderName(tokens)];
        if (group.images.isEmpty()) {
            for (const auto &token : tokens)
                group.captionNames.append(token.second);
        }
        group.images.append(i);
    }

    const QDir output(path);
    const QStringList stems = uniqueExportStems(dataset.images);
    QList<ImageEntry> images;
    QStringList destinations;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const QString folder = pathInFolder(output, it.key());
        if (!ensureFolder(folder))
            return false;
        for (int i : it.value().images) {
            const ImageEntry &image = dataset.images.at(i);
            images.append(image);
            destinations.append(folder + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath));
        }
    }
    return writeExportImagesReporting(images, destinations, progress) &&
           writeFileAtomically(output.filePath(kCaptionFile), captionText(groups));
}

namespace {

struct FolderClass {
    QString name;
    bool multiple = false;
};

// The classes a folder name stands for; none for "unlabeled".
QList<FolderClass> folderClasses(const QString &folder)
{
    QList<FolderClass> classes;
    if (folder == kUnlabeled)
        return classes;
    const QStringList pieces = folder.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        FolderClass c;
        c.multiple = piece.endsWith(kMultipleSuffix);
        c.name = c.multiple ? piece.chopped(kMultipleSuffix.size()) : piece;
        if (!c.name.isEmpty())
            classes.append(c);
    }
    return classes;
}

bool isSkippedFolder(const QString &folder)
{
    const QString lower = folder.toLower();
    return lower == QLatin1String("images") || lower == QLatin1String("labels");
}

QStringList imagesIn(const QString &folder)
{
    QStringList images = listFiles(folder, {});
    images.erase(
        std::remove_if(images.begin(), images.end(), [](const QString &file) { return !hasImageExtension(file); }),
        images.end());
    return images;
}

// The real class names of each folder as the caption file tells them: the
// writer gives one caption line per folder, in folder-name order. A folder
// whose line does not fit (another tool's file, a name holding ", ") keeps
// the names its folder name gives.
QHash<QString, QStringList> captionNamesByFolder(const QString &root, QStringList folders)
{
    QHash<QString, QStringList> names;
    QByteArray text;
    if (!readWholeFile(QDir(root).filePath(kCaptionFile), 16 * 1024 * 1024, &text))
        return names;
    QStringList lines;
    forEachLine(text, [&lines](QByteArrayView line) {
        const QString read = QString::fromUtf8(line).trimmed();
        if (!read.isEmpty())
            lines.append(read);
    });
    std::sort(folders.begin(), folders.end());
    if (lines.size() != folders.size())
        return names;
    static const QString depicting = QStringLiteral("An image depicting ");
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (lines.at(i).startsWith(depicting))
            names.insert(folders.at(i), lines.at(i).mid(depicting.size()).split(QStringLiteral(", ")));
    }
    return names;
}

} // namespace

bool ClipHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return false;
    const QDir root(path);
    QList<QPair<QString, QStringList>> folders;
    int total = 0;
    for (const QString &folder : listSubfolders(path)) {
        if (isSkippedFolder(folder))
            continue;
        folders.append({folder, imagesIn(pathInFolder(root, folder))});
        total += int(folders.constLast().second.size());
    }

    QStringList folderNames;
    for (const auto &folder : std::as_const(folders))
        folderNames.append(folder.first);
    const QHash<QString, QStringList> captionNames = captionNamesByFolder(path, folderNames);

    int added = 0;
    for (const auto &[folder, images] : folders) {
        QList<FolderClass> classes = folderClasses(folder);
        const QStringList realNames = captionNames.value(folder);
        if (realNames.size() == classes.size()) {
            for (qsizetype i = 0; i < classes.size(); ++i)
                classes[i].name = realNames.at(i);
        }
        for (const FolderClass &c : classes)
            dataset.addClass(c.name, QColor());
        for (const QString &file : images) {
            const QSize size = probeImageSize(file);
            const QRectF whole = size.isEmpty() ? QRectF(0, 0, 1, 1) : QRectF(QPointF(0, 0), QSizeF(size));
            ImageEntry entry;
            entry.id = added;
            entry.filePath = file;
            entry.width = size.width();
            entry.height = size.height();
            for (const FolderClass &c : classes) {
                Annotation annotation;
                annotation.className = c.name;
                annotation.kind = BoundingBox;
                annotation.bbox = whole;
                if (c.multiple)
                    annotation.attributes.insert(QStringLiteral("multiple"), true);
                entry.labels.append(annotation);
            }
            dataset.addImage(entry);
            ++added;
            if (progress)
                progress(added, total);
        }
    }
    return added > 0;
}

} // namespace Quillmark
