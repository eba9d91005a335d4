#include "formats/PerImageFiles.h"

#include "formats/ExportImageWriter.h"
#include "formats/ExportNames.h"
#include "formats/ImageProbe.h"
#include "formats/SafeWrite.h"

#include <QDir>

#include <memory>

namespace Quillmark {

const QStringList &labelSplitNames()
{
    static const QStringList splits = {QStringLiteral("train"), QStringLiteral("valid"), QStringLiteral("val"),
                                       QStringLiteral("test")};
    return splits;
}

int importLabelFiles(const QStringList &labelFiles, Dataset &dataset, const ProgressCallback &progress,
                     const FindImage &findImage, const ReadLabels &readLabels)
{
    const int total = int(labelFiles.size());
    int added = 0;
    for (int i = 0; i < total; ++i) {
        const QString &labelFile = labelFiles.at(i);
        const QString imagePath = findImage(labelFile);
        const QSize size = probeImageSize(imagePath);
        ImageEntry entry;
        if (readLabels(labelFile, imagePath, size, &entry.labels)) {
            entry.filePath = imagePath.isEmpty() ? labelFile : imagePath;
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

bool writePerImageFiles(const QList<ImageEntry> &images, const PerImageFiles &files, const ProgressCallback &progress)
{
    const QStringList stems = uniqueExportStems(images);
    const int total = int(images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = images.at(i);
        if (!files.imagesDir.isEmpty()) {
            const QString path = files.imagesDir + QLatin1Char('/') + exportFileName(stems.at(i), image.filePath);
            if (writeExportImage(image, path) == ExportImageResult::Failed)
                return false;
        }
        if (!files.labelsDir.isEmpty()) {
            const QString path = files.labelsDir + QLatin1Char('/') + stems.at(i) + QStringLiteral(".txt");
            if (!writeFileAtomically(path, files.labelBytes(image)))
                return false;
        }
    }
    return true;
}

bool writeAnnotationFiles(const QString &folder, const Dataset &dataset, const QString &suffix,
                          FunctionRef<QByteArray(const ImageEntry &, const QString &)> contents,
                          const ProgressCallback &progress)
{
    if (!ensureFolder(folder))
        return false;
    const QDir out(folder);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const QByteArray bytes = contents(image, exportFileName(stems.at(i), image.filePath));
        if (!writeFileAtomically(out.filePath(stems.at(i) + suffix), bytes))
            return false;
    }
    return true;
}

} // namespace Quillmark
