#include "formats/ImageProbe.h"

#include <QBuffer>
#include <QFileInfo>
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

QSize probeImageSize(const QByteArray &encoded)
{
    QByteArray bytes = encoded;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QSize size = QImageReader(&buffer).size();
    if (size.width() < 1 || size.height() < 1)
        return {0, 0};
    return size;
}

namespace {

QSize pixelSizeOf(const ImageEntry &entry)
{
    if (!entry.image.isNull())
        return entry.image.size();
    if (!entry.imageData.isEmpty())
        return probeImageSize(entry.imageData);
    const QFileInfo file(entry.filePath);
    if (!entry.filePath.isEmpty() && file.isAbsolute() && file.isFile())
        return probeImageSize(entry.filePath);
    return {0, 0};
}

} // namespace

Dataset withProbedImageSizes(const Dataset &dataset)
{
    Dataset probed = dataset;
    for (qsizetype i = 0; i < dataset.images.size(); ++i) {
        const ImageEntry &entry = dataset.images.at(i);
        if (entry.width >= 1 && entry.height >= 1)
            continue;
        const QSize size = pixelSizeOf(entry);
        if (size.width() < 1 || size.height() < 1)
            continue;
        ImageEntry &target = probed.images[i];
        target.width = size.width();
        target.height = size.height();
    }
    return probed;
}

} // namespace Quillmark
