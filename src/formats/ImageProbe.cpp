#include "formats/ImageProbe.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

namespace Quillmark {

QSize probeImageSize(const QString &path)
{
    // A missing file costs the image reader a search through its formats.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {0, 0};
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.width() < 1 || size.height() < 1)
        return {0, 0};
    return size;
}

QSize imageSizeOf(const ImageEntry &image)
{
    if (image.width >= 1 && image.height >= 1)
        return {image.width, image.height};
    if (!image.image.isNull())
        return image.image.size();
    if (!image.imageData.isEmpty()) {
        QByteArray bytes = image.imageData;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize size = QImageReader(&buffer).size();
        if (size.width() >= 1 && size.height() >= 1)
            return size;
        return {0, 0};
    }
    if (!QFileInfo(image.filePath).isAbsolute())
        return {0, 0};
    return probeImageSize(image.filePath);
}

} // namespace Quillmark
