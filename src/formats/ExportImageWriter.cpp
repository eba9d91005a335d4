#include "formats/ExportImageWriter.h"

#include "formats/ImageProbe.h"
#include "formats/SafeWrite.h"
#include "model/PathInFolder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

namespace Quillmark {

namespace {

QByteArray encodedPixels(const QImage &image, const QString &destination)
{
    QByteArray format = QFileInfo(destination).suffix().toLower().toLatin1();
    static const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
    if (!writable.contains(format))
        format = "png";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format.constData()))
        return {};
    return bytes;
}

// Whether the entry names a file of its own: a bare name is never looked up in
// the working folder.
bool hasAbsolutePath(const ImageEntry &image)
{
    return isAbsoluteFilePath(image.filePath);
}

} // namespace

ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination)
{
    if (hasAbsolutePath(image) && QFileInfo(image.filePath).isFile() && !isPictureFile(image.filePath))
        return ExportImageResult::NotPicture;
    if (hasAbsolutePath(image)) {
        switch (copyRegularFileAtomically(image.filePath, destination)) {
        case FileCopyResult::Copied:
            return ExportImageResult::Written;
        case FileCopyResult::SameFile:
            return ExportImageResult::IsSource;
        case FileCopyResult::Failed:
            return ExportImageResult::Failed;
        case FileCopyResult::NoSource:
            break; // the pixels the entry holds, if any
        }
    }
    // Encoded bytes go out as they are; decoded pixels are encoded by suffix.
    QByteArray bytes = image.encodedBytes();
    if (!bytes.isEmpty() && !isPictureData(bytes))
        return ExportImageResult::NotPicture;
    if (bytes.isEmpty() && !image.image.isNull()) {
        bytes = encodedPixels(image.image, destination);
        if (bytes.isEmpty())
            return ExportImageResult::Failed;
    }
    if (bytes.isEmpty())
        return ExportImageResult::NoPixels;
    return writeFileAtomically(destination, bytes) ? ExportImageResult::Written : ExportImageResult::Failed;
}

ExportImagesOutcome writeExportImages(const QList<ImageEntry> &images, const QStringList &destinations,
                                      std::atomic<int> &done, std::atomic<bool> &stop)
{
    ExportImagesOutcome outcome;
    for (qsizetype i = 0; i < images.size() && i < destinations.size(); ++i) {
        if (stop.load(std::memory_order_relaxed))
            break;
        const ExportImageResult result = writeExportImage(images.at(i), destinations.at(i));
        if (result != ExportImageResult::Written && result != ExportImageResult::IsSource) {
            outcome.failedIndex = i;
            outcome.failure = result;
            stop.store(true);
            break;
        }
        done.fetch_add(1, std::memory_order_relaxed);
    }
    return outcome;
}

bool hasExportablePixels(const ImageEntry &image)
{
    return (hasAbsolutePath(image) && QFileInfo(image.filePath).isFile()) || image.hasInMemoryImage();
}

bool holdsNoPicture(const ImageEntry &image)
{
    if (hasAbsolutePath(image) && QFileInfo(image.filePath).isFile())
        return !isPictureFile(image.filePath);
    if (image.imageData.isEmpty() && !image.storedBytes)
        return false; // decoded pixels, or nothing at all
    const QByteArray bytes = image.encodedBytes();
    return !bytes.isEmpty() && !isPictureData(bytes);
}

QString refusedEntriesNote(int count, const QStringList &names)
{
    if (count <= 0)
        return QString();
    QStringList shown = names.mid(0, 5);
    if (count > shown.size())
        shown.append(QStringLiteral("…"));
    return QStringLiteral("%1 %2 no picture and %3 left out: %4")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("entry is") : QStringLiteral("entries are"))
        .arg(count == 1 ? QStringLiteral("was") : QStringLiteral("were"))
        .arg(shown.join(QStringLiteral(", ")));
}

} // namespace Quillmark
