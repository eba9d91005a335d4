#include "model/MissingMedia.h"

#include "model/Dataset.h"
#include "model/PathInFolder.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

bool mediaFileIsThere(const QString &path)
{
    return isAbsoluteFilePath(path) && QFileInfo(path).isFile();
}

QString MissingMedia::listText() const
{
    return names.join(QLatin1Char('\n'));
}

void MissingMedia::note(const QString &path, int namesShown)
{
    if (++count <= namesShown)
        names.append(QDir::toNativeSeparators(path));
}

void MissingMedia::close()
{
    const QString more = QStringLiteral("…");
    if (count > names.size() && (names.isEmpty() || names.constLast() != more))
        names.append(more);
}

MissingMedia findMissingMedia(const Dataset &dataset, int namesShown)
{
    MissingMedia missing;
    for (const ImageEntry &image : dataset.images) {
        if (!image.hasInMemoryImage() && !mediaFileIsThere(image.filePath))
            missing.note(image.filePath, namesShown);
    }
    for (const VideoEntry &video : dataset.videos) {
        if (video.bytes.isEmpty() && !mediaFileIsThere(video.filePath))
            missing.note(video.filePath, namesShown);
    }
    missing.close();
    return missing;
}

} // namespace Quillmark
