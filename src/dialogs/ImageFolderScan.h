#pragma once

#include <QString>
#include <QStringList>

namespace Quillmark {

// File-name patterns of the images the new-project wizard imports from a folder
// ("*.jpg", "*.jpeg", "*.png", "*.bmp", "*.tif", "*.tiff", "*.webp").
const QStringList &imageFolderNameFilters();

// The absolute paths of every image file in `folder` and all its subfolders, in
// the order of the walk. Suffixes match ignoring case (a.JPG counts); hidden
// files and hidden folders are skipped, and links to folders are not followed,
// so a link back up the tree cannot make the walk loop. Empty when the folder
// does not exist or holds no images.
QStringList scanImageFolder(const QString &folder);

} // namespace Quillmark
