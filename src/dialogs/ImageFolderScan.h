#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace Quillmark {

// Orders names as people number them: digit runs compare by value ("img_2"
// before "img_10"), letters ignoring case, and the folder separator "/" before
// any other character, so a folder's files stay together. Names equal by these
// rules fall back to a plain comparison, so the order is total. Negative, zero
// or positive as a sorts before, equal to or after b.
int naturalCompare(QStringView a, QStringView b);

// File-name patterns of the images the new-project wizard imports from a folder
// ("*.jpg", "*.jpeg", "*.png", "*.bmp", "*.tif", "*.tiff", "*.webp").
const QStringList &imageFolderNameFilters();

// The absolute paths of every image file in `folder` and all its subfolders, in
// natural order of their paths below the folder (naturalCompare). Suffixes
// match ignoring case (a.JPG counts); hidden files and hidden folders are
// skipped, and links to folders are not followed, so a link back up the tree
// cannot make the walk loop. Empty when the folder does not exist or holds no
// images.
QStringList scanImageFolder(const QString &folder);

} // namespace Quillmark
