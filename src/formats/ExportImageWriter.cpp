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

} // namespace

ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination)
{
    if (QFileInfo::exists(destination))
        return ExportImageResult::AlreadyExists;
    const QFileInfo source(image.filePath);
    if (!image.filePath.isEmpty() && source.isAbsolute() && source.isFile())
        return QFile::copy(image.filePath, destination) ? ExportImageResult::Written : ExportImageResult::Failed;
    if (!image.imageData.isEmpty())
        return writeFileAtomically(destination, image.imageData) ? ExportImageResult::Written
                                                                  : ExportImageResult::Failed;
    if (image.image.isNull())
        return ExportImageResult::NoPixels;
    const QByteArray bytes = encodedPixels(image.image, destination);
    if (bytes.isEmpty() || !writeFileAtomically(destination, bytes))
        return ExportImageResult::Failed;
    return ExportImageResult::Written;
}

} // namespace Quillmark
