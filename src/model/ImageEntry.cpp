#include "model/ImageEntry.h"

#include "model/PictureLoader.h"

namespace Quillmark {

QImage ImageEntry::loadPixels(QString *error) const
{
    if (!image.isNull())
        return image;
    PictureLoader::Result result;
    if (!imageData.isEmpty())
        result = PictureLoader::read(imageData);
    else
        result = PictureLoader::read(filePath);
    if (error)
        *error = result.error;
    return result.image;
}

} // namespace Quillmark
