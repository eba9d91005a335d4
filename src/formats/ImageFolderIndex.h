#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Finds the image file of a label file by its base name in candidate folders.
// Each folder is listed once and its names kept, so an import of many
// thousand label files costs one listing per folder rather than a look-up per
// candidate name. Names compare as the file system does (ignoring case on
// Windows). Lives for one import; a folder changed meanwhile is not re-read.
class ImageFolderIndex {
public:
    // Extensions are tried in the given order (lower case, without the dot).
    explicit ImageFolderIndex(QStringList extensions);

    // The first existing file in `folder` named baseName + "." + extension,
    // over the extensions in order; empty when there is none.
    QString find(const QString &folder, const QString &baseName);

    // The same for one extension only.
    QString findWithExtension(const QString &folder, const QString &baseName, const QString &extension);

private:
    const QSet<QString> &listing(const QString &folder);

    QStringList m_extensions;
    QHash<QString, QSet<QString>> m_listings;
};

} // namespace Quillmark
