#include "model/ImageEntry.h"

#include "model/PictureLoader.h"

namespace Quillmark {

QByteArray ImageEntry::encodedBytes() const
{
    if (!imageData.isEmpty() || !storedBytes)
        return imageData;
    return storedBytes->read();
}

QImage ImageEntry::loadPixels(QString *error) const
{
    if (!image.isNull())
        return image;
    PictureLoader::Result result;
    if (!imageData.isEmpty() || storedBytes) {
        // Bytes that can no longer be read give no pixels: the file path of
        // such an entry only names the image, it does not locate it.
        result = PictureLoader::read(encodedBytes());
    } else {
        result = PictureLoader::read(filePath);
    }
    if (error)
        *error = result.error;
    return result.image;
}

void ImageEntry::dropInMemoryImage()
{
    image = QImage();
    imageData = QByteArray();
    storedBytes.reset();
}

} // namespace Quillmark
