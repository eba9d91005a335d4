#include "model/MissingMedia.h"

#include "model/Dataset.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

bool mediaFileIsThere(const QString &path)
{
    const QFileInfo file(path);
    return file.isAbsolute() && file.isFile();
}

QString MissingMedia::listText() const
{
    return names.join(QLatin1Char('\n'));
}

MissingMedia findMissingMedia(const Dataset &dataset, int namesShown)
{
    MissingMedia missing;
    const auto note = [&missing, namesShown](const QString &path) {
        if (++missing.count <= namesShown)
            missing.names.append(QDir::toNativeSeparators(path));
    };
    for (const ImageEntry &image : dataset.images) {
        if (!image.hasInMemoryImage() && !mediaFileIsThere(image.filePath))
            note(image.filePath);
    }
    for (const VideoEntry &video : dataset.videos) {
        if (video.bytes.isEmpty() && !mediaFileIsThere(video.filePath))
            note(video.filePath);
    }
    if (missing.count > missing.names.size())
        missing.names.append(QStringLiteral("…"));
    return missing;
}

} // namespace Quillmark
