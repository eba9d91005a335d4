#include "formats/PerImageFiles.h"

#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImageProbe.h"
#include "formats/SafeWrite.h"
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <memory>

namespace Quillmark {

const QStringList &labelSplitNames()
{
    static const QStringList splits = {QStringLiteral("train"), QStringLiteral("valid"), QStringLiteral("val"),
                                       QStringLiteral("test")};
    return splits;
}

namespace {

// The images of the folders that hold a labelled image, other than those:
// the background images, which these layouts keep without a label file.
QStringList backgroundImages(const QStringList &pairedImages, const QStringList &extensions)
{
    QStringList folders;
    for (const QString &image : pairedImages) {
        if (!image.isEmpty())
            folders.append(QDir::cleanPath(QFileInfo(image).absolutePath()));
    }
    folders.removeDuplicates();
    QStringList patterns;
    for (const QString &extension : extensions)
        patterns.append(QStringLiteral("*.") + extension);
    return unpairedImages(folders, pairedImages, patterns);
}

} // namespace

QStringList unpairedImages(const QStringList &folders, const QStringList &pairedImages,
                           const QStringList &namePatterns)
{
    QSet<QString> seen;
    for (const QString &image : pairedImages)
        seen.insert(QDir::cleanPath(image));
    QStringList images;
    for (const QString &folder : folders) {
        for (const QString &image : listFiles(folder, namePatterns)) {
            const QString clean = QDir::cleanPath(image);
            if (seen.contains(clean))
                continue;
            seen.insert(clean);
            images.append(clean);
        }
    }
    return images;
}

int importLabelFiles(const QStringList &labelFiles, Dataset &dataset, const ProgressCallback &progress,
                     const FindImage &findImage, const ReadLabels &readLabels,
                     const QStringList &backgroundExtensions)
{
    QStringList imagePaths;
    imagePaths.reserve(labelFiles.size());
    for (const QString &labelFile : labelFiles)
        imagePaths.append(findImage(labelFile));
    const QStringList backgrounds =
        backgroundExtensions.isEmpty() ? QStringList() : backgroundImages(imagePaths, backgroundExtensions);
    const int labelled = int(labelFiles.size());
    const int total = labelled + int(backgrounds.size());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &imagePath = i < labelled ? imagePaths.at(i) : backgrounds.at(i - labelled);
        const QSize size = probeImageSize(imagePath);
        ImageEntry entry;
        if (i >= labelled || readLabels(labelFiles.at(i), imagePath, size, &entry.labels)) {
            entry.filePath = imagePath.isEmpty() ? labelFiles.at(i) : imagePath;
            entry.width = size.width();
            entry.height = size.height();
            dataset.addImage(entry);
            ++added;
        }
        if (progress)
            progress(i + 1, total);
    }
    return added;
}

ReadLabels classIdLineReader(const QStringList &names, Dataset &dataset, const ReadLabelLine &readLine)
{
    auto namesAdded = std::make_shared<bool>(false);
    return [names, &dataset, readLine, namesAdded](const QString &labelFile, const QString &, QSize size,
                                                   QList<Annotation> *labels) {
        const bool read = forEachLabelLine(labelFile, [&](const LabelFields &fields) {
            Annotation a;
            if (!readLine(fields, names, size, &a))
                return;
            dataset.addClass(a.className, QColor());
            labels->append(a);
        });
        if (read && !*namesAdded) {
            for (const QString &name : names)
                dataset.addClass(name, QColor());
            *namesAdded = true;
        }
        return read;
    };
}

namespace {

bool writeLabelFiles(const QList<ImageEntry> &images, const PerImageFiles &files, const ProgressCallback &progress)
{
    return forEachExportImage(images, progress, [&](const ExportImage &at) {
        return files.labelsDir.isEmpty() ||
               writeFileAtomically(files.labelsDir + QLatin1Char('/') + at.stem + QStringLiteral(".txt"),
                                   files.labelBytes(at.image));
    });
}

} // namespace

bool writePerImageFiles(const QList<ImageEntry> &images, const PerImageFiles &files, const ProgressCallback &progress)
{
    if (files.imagesDir.isEmpty())
        return writeLabelFiles(images, files, progress);
    // The pictures first, on several threads, then their label files.
    const QStringList stems = uniqueExportStems(images);
    QStringList destinations;
    destinations.reserve(images.size());
    for (qsizetype i = 0; i < images.size(); ++i)
        destinations.append(files.imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), images.at(i).filePath));
    return writeExportImagesReporting(images, destinations, progress) &&
           (files.labelsDir.isEmpty() || writeLabelFiles(images, files, {}));
}

bool writeAnnotationFiles(const QString &folder, const Dataset &dataset, const QString &suffix,
                          FunctionRef<QByteArray(const ImageEntry &, const QString &)> contents,
                          const ProgressCallback &progress)
{
    if (!ensureFolder(folder))
        return false;
    const QDir out(folder);
    return forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        return writeFileAtomically(pathInFolder(out, at.stem + suffix), contents(at.image, at.fileName));
    });
}

} // namespace Quillmark
