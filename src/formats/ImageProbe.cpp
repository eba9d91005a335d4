#include "formats/ImageProbe.h"

#include "model/PictureLoader.h"

namespace Quillmark {

QSize probeImageSize(const QString &path)
{
    if (path.isEmpty())
        return {0, 0};
    const QSize size = PictureLoader::uprightSize(path);
    if (size.width() < 1 || size.height() < 1)
        return {0, 0};
    return size;
}

} // namespace Quillmark
