#pragma once

#include "model/ImageEntry.h"

#include <QDir>
#include <QHash>
#include <QList>
#include <QString>

namespace Quillmark {

// The images of a one-file dataset whose rows name an image each (the CSV
// box formats): rows of one name, exactly as written, gather in one entry;
// entries keep the order of first appearance and take their position as id.
// Image paths resolve as resolveDatasetImagePath says.
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
