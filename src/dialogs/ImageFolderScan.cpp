#include "dialogs/ImageFolderScan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace Quillmark {

const QStringList &imageFolderNameFilters()
{
    static const QStringList filters = {"*.jpg", "*.jpeg", "*.png", "*.bmp", "*.tif", "*.tiff", "*.webp"};
    return filters;
}

QStringList scanImageFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    const QString root = QDir(folder).absolutePath();
    // Without QDir::Hidden the iterator neither lists hidden files nor descends
    // into hidden folders; without FollowSymlinks it never enters a linked folder.
    // Name filters match ignoring case because QDir::CaseSensitive is not set.
    QDirIterator it(root, imageFolderNameFilters(), QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths.append(it.next());
    return paths;
}

} // namespace Quillmark
