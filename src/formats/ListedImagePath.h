#pragma once

#include "model/ImageEntry.h"

#include <QDir>
#include <QHash>
#include <QList>
#include <QString>

namespace Quillmark {

// The image that a dataset file names by a path relative to its own folder
// `base` (the CSV formats, the YOLOv3 Keras list): an absolute name is taken
// as it stands; otherwise <base>/<name> when that file exists, else
// <base>/images/<last component of name>, whether or not that exists (the
// entry then keeps a path to a missing file). An empty name gives an empty path.
QString resolveListedImagePath(const QDir &base, const QString &name);

// The last component of a path written with "/" or "\" separators.
QString lastPathComponent(const QString &name);

// The images of a one-file dataset whose rows name an image each (the CSV
// box formats): rows of one name, exactly as written, gather in one entry;
// entries keep the order of first appearance and take their position as id.
class ListedImages {
public:
    explicit ListedImages(const QDir &base) : m_base(base) {}

    // The entry of the name; made, with its image path resolved, at the
    // name's first row (`created` then true).
    ImageEntry &entryFor(const QString &name, bool *created = nullptr);

    QList<ImageEntry> &entries() { return m_entries; }

private:
    QDir m_base;
    QList<ImageEntry> m_entries;
    QHash<QString, qsizetype> m_byName;
};

} // namespace Quillmark
