#include "formats/ImageProbe.h"

#include "model/PathInFolder.h"
#include "model/PictureLoader.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace Quillmark {

namespace {

QSize validOrZero(const QSize &size)
{
    return size.width() < 1 || size.height() < 1 ? QSize(0, 0) : size;
}

} // namespace

QSize probeImageSize(const QString &path)
{
    // One open and one fstat: a missing file or one that is no regular file
    // ends there, before the image reader looks at any format.
    return validOrZero(PictureLoader::uprightSize(path));
}

QSize probeImageData(const QByteArray &bytes, QByteArray *format)
{
    if (format)
        format->clear();
    if (bytes.isEmpty())
        return {0, 0};
    const QSize size = validOrZero(PictureLoader::uprightSize(bytes));
    if (format && !size.isEmpty()) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        *format = QImageReader::imageFormat(&buffer).toLower();
    }
    return size;
}

bool isPictureData(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

bool isPictureFile(const QString &path)
{
    QFile file;
    return openRegularFile(file, path) && file.size() > 0 && !QImageReader::imageFormat(&file).isEmpty();
}

QSize knownImageSize(const ImageEntry &entry)
{
    if (entry.width > 0 && entry.height > 0)
        return {entry.width, entry.height};
    if (!entry.image.isNull())
        return entry.image.size();
    if (!entry.imageData.isEmpty())
        return probeImageData(entry.imageData);
    if (!isAbsoluteFilePath(entry.filePath))
        return {0, 0};
    return probeImageSize(entry.filePath);
}

Dataset withProbedImageSizes(const Dataset &dataset)
{
    Dataset probed = dataset;
    for (qsizetype i = 0; i < dataset.images.size(); ++i) {
        const ImageEntry &entry = dataset.images.at(i);
        if (entry.width > 0 && entry.height > 0)
            continue;
        const QSize size = knownImageSize(entry);
        if (size.width() < 1 || size.height() < 1)
            continue;
        ImageEntry &target = probed.images[i];
        target.width = size.width();
        target.height = size.height();
    }
    return probed;
}

} // namespace Quillmark
