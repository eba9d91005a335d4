#include "formats/ListedImagePath.h"

#include "formats/DatasetImagePath.h"

namespace Quillmark {

ImageEntry &ListedImages::entryFor(const QString &name, bool *created)
{
    auto found = m_byName.constFind(name);
    if (created)
        *created = found == m_byName.constEnd();
    if (found != m_byName.constEnd())
        return m_entries[*found];
    ImageEntry entry;
    entry.id = int(m_entries.size());
    entry.filePath = resolveDatasetImagePath(m_base, name);
    m_byName.insert(name, m_entries.size());
    m_entries.append(entry);
    return m_entries.last();
}

} // namespace Quillmark
