#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Finds the image file of a label file by its base name in candidate folders.
// Each folder is listed once and its names kept, so an import of many
// thousand label files costs one listing per folder rather than a look-up per
// candidate name. The base name compares exactly, as the YOLO family's loaders
// pair it, the suffix in any letter case ("IMG_0001.JPG" is the image of
// "IMG_0001.txt"); on Windows, whose file system ignores case, the whole name
// ignores it. Lives for one import; a folder changed meanwhile is not re-read.
class ImageFolderIndex {
public:
    // Extensions are tried in the given order (lower case, without the dot).
    explicit ImageFolderIndex(QStringList extensions);

    // The first existing file in `folder` named baseName + "." + extension,
    // over the extensions in order, as the folder spells it; empty when there
    // is none. Of two files that differ only in the suffix's case, the one
    // spelled in lower case wins, else the first in name order.
    QString find(const QString &folder, const QString &baseName);

    // The same for one extension only.
    QString findWithExtension(const QString &folder, const QString &baseName, const QString &extension);

    // The answer of find() for a single question, without keeping an index:
    // the lower-case names are tried directly, and the folder is listed only
    // when none of them exists.
    static QString findOnce(const QString &folder, const QString &baseName, const QStringList &extensions);

private:
    using Listing = QHash<QString, QString>; // name key -> file name as spelled

    static Listing listingOf(const QString &folder);
    static QString findIn(const Listing &listing, const QString &folder, const QString &baseName,
                          const QString &extension);
    const Listing &listing(const QString &folder);

    QStringList m_extensions;
    QHash<QString, Listing> m_listings;
};

} // namespace Quillmark
