#include "formats/ExportImageWriter.h"

#include "formats/SafeWrite.h"

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

bool hasSourceFile(const ImageEntry &image)
{
    const QFileInfo source(image.filePath);
    return !image.filePath.isEmpty() && source.isAbsolute() && source.isFile();
}

// Whether the destination is the image's own file (the export goes into the
// folder the images come from), under any name that leads to it.
bool isSourceFile(const ImageEntry &image, const QString &destination)
{
    return hasSourceFile(image) && isSameFile(image.filePath, destination);
}

} // namespace

ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination)
{
    if (isSourceFile(image, destination))
        return ExportImageResult::IsSource;
    if (hasSourceFile(image))
        return copyFileAtomically(image.filePath, destination) ? ExportImageResult::Written : ExportImageResult::Failed;
    // Encoded bytes go out as they are; decoded pixels are encoded by suffix.
    QByteArray bytes = image.encodedBytes();
    if (bytes.isEmpty() && !image.image.isNull()) {
        bytes = encodedPixels(image.image, destination);
        if (bytes.isEmpty())
            return ExportImageResult::Failed;
    }
    if (bytes.isEmpty())
        return ExportImageResult::NoPixels;
    return writeFileAtomically(destination, bytes) ? ExportImageResult::Written : ExportImageResult::Failed;
}

bool hasExportablePixels(const ImageEntry &image)
{
    return hasSourceFile(image) || image.hasInMemoryImage();
}

} // namespace Quillmark
