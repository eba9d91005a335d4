#include "model/ImageEntry.h"

#include <QBuffer>
#include <QImageReader>

namespace Quillmark {

QByteArray ImageEntry::encodedBytes() const
{
    if (!imageData.isEmpty() || !storedBytes)
        return imageData;
    return storedBytes->read();
}

QImage ImageEntry::loadPixels() const
{
    if (!image.isNull())
        return image;
    if (!imageData.isEmpty() || storedBytes) {
        // Bytes that can no longer be read give no pixels: the file path of
        // such an entry only names the image, it does not locate it.
        QByteArray bytes = encodedBytes();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        return reader.read();
    }
    if (filePath.isEmpty())
        return {};
    QImageReader reader(filePath);
    return reader.read();
}

void ImageEntry::dropInMemoryImage()
{
    image = QImage();
    imageData = QByteArray();
    storedBytes.reset();
}

} // namespace Quillmark
