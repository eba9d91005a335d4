#include "formats/YoloHandler.h"

#include "formats/ClassListFile.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageProbe.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloLabelLines.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <charconv>

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

QString nameKey(const QString &name)
{
#ifdef Q_OS_WIN
    return name.toCaseFolded();
#else
    return name;
#endif
}

// Answers "which image belongs to this label file". For one question it
// looks the candidates up directly; for a whole import it answers from cached
// listings of the candidate folders, so that a folder of many thousand label
// files costs one listing per folder rather than a dozen look-ups per label.
class ImageLocator {
public:
    enum class Mode { Direct, Cached };
    explicit ImageLocator(Mode mode) : m_mode(mode) {}

    QString findInDir(const QString &baseName, const QString &folder)
    {
        const QString clean = QDir::cleanPath(folder);
        if (m_mode == Mode::Direct)
            return findDirectly(baseName, clean);
        auto it = m_listings.find(clean);
        if (it == m_listings.end())
            it = m_listings.insert(clean, listingOf(clean));
        if (it->isEmpty())
            return {};
        for (const QString &extension : yoloImageExtensions()) {
            const QString fileName = baseName + QLatin1Char('.') + extension;
            if (it->contains(nameKey(fileName)))
                return clean + QLatin1Char('/') + fileName;
        }
        return {};
    }

    QString findForLabel(const QString &labelPath)
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
            const QString found = findInDir(base, candidate);
            if (!found.isEmpty())
                return found;
        }
        return {};
    }

private:
    static QString findDirectly(const QString &baseName, const QString &folder)
    {
        for (const QString &extension : yoloImageExtensions()) {
            const QString path = folder + QLatin1Char('/') + baseName + QLatin1Char('.') + extension;
            if (QFileInfo::exists(path))
                return path;
        }
        return {};
    }

    static QSet<QString> listingOf(const QString &folder)
    {
        QSet<QString> names;
        QDir dir(folder);
        if (!dir.exists())
            return names;
        const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
        names.reserve(entries.size());
        for (const QString &entry : entries)
            names.insert(nameKey(entry));
        return names;
    }

    Mode m_mode;
    QHash<QString, QSet<QString>> m_listings;
};

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

QStringList labelFilesIn(const QString &folder)
{
    return listFiles(folder, {QStringLiteral("*.txt")});
}

} // namespace

QString findYoloImageInDir(const QString &baseName, const QString &folder)
{
    return ImageLocator(ImageLocator::Mode::Direct).findInDir(baseName, folder);
}

QString findYoloImageForLabel(const QString &labelPath)
{
    return ImageLocator(ImageLocator::Mode::Direct).findForLabel(labelPath);
}

bool isYoloDetectionLine(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
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
    for (const QString &file : files) {
        if (QFileInfo(file).fileName().compare(QLatin1String("classes.txt"), Qt::CaseInsensitive) == 0)
            continue;
        QByteArray line;
        if (!readFirstLine(file, 4096, &line))
            continue;
        line = line.trimmed();
        if (!line.isEmpty() && isYoloDetectionLine(line))
            return true;
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

    const QStringList all = listFilesRecursively(folder, {QStringLiteral("*.txt")});
    for (const QString &file : all) {
        if (QFileInfo(file).fileName().compare(QLatin1String("classes.txt"), Qt::CaseInsensitive) != 0)
            files.append(file);
    }
    return files;
}

QStringList readYoloClassNames(const QString &folder, const YoloDataYaml &yaml)
{
    if (!yaml.names.isEmpty())
        return yaml.names;
    QStringList names;
    readClassListFile(QDir(folder).filePath(QStringLiteral("classes.txt")), &names);
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
    const int total = int(labelFiles.size());

    ImageLocator locator(ImageLocator::Mode::Cached);
    for (int i = 0; i < total; ++i) {
        const QString &labelFile = labelFiles.at(i);
        ImageEntry entry;
        const QString imagePath = locator.findForLabel(labelFile);
        if (!imagePath.isEmpty()) {
            const QSize size = probeImageSize(imagePath);
            entry.width = size.width();
            entry.height = size.height();
        }
        entry.filePath = imagePath.isEmpty() ? labelFile : imagePath;
        entry.labels = readYoloLabelFile(labelFile, classNames, entry.width, entry.height, layout);
        dataset.addImage(entry);
        if (progress)
            progress(i + 1, total);
    }
    return total > 0;
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
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    QByteArray lines;
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        lines.clear();
        appendYoloLabelLines(lines, dataset.images.at(i), classIndex);
        if (!writeFileAtomically(out.filePath(stems.at(i) + QStringLiteral(".txt")), lines))
            return false;
    }
    return true;
}

} // namespace Quillmark
