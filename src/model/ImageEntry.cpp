#include "model/ImageEntry.h"

#include <QBuffer>
#include <QImageReader>

namespace Quillmark {

QImage ImageEntry::loadPixels() const
{
    if (!image.isNull())
        return image;
    if (!imageData.isEmpty()) {
        QByteArray bytes = imageData;
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

} // namespace Quillmark
