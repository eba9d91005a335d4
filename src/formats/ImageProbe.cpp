#include "formats/ImageProbe.h"

#include <QImageReader>

namespace Quillmark {

QSize probeImageSize(const QString &path)
{
    if (path.isEmpty())
        return {0, 0};
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.width() < 1 || size.height() < 1)
        return {0, 0};
    return size;
}

} // namespace Quillmark
