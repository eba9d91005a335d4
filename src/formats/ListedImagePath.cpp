#include "formats/ListedImagePath.h"

#include <QFileInfo>

#include <algorithm>

namespace Quillmark {

QString lastPathComponent(const QString &name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return name.mid(cut + 1);
}

QString resolveListedImagePath(const QDir &base, const QString &name)
{
    if (name.isEmpty())
        return {};
    if (QDir::isAbsolutePath(name))
        return name;
    const QString direct = base.filePath(name);
    if (QFileInfo::exists(direct))
        return direct;
    return base.filePath(QStringLiteral("images/") + lastPathComponent(name));
}

ImageEntry &ListedImages::entryFor(const QString &name, bool *created)
{
    auto found = m_byName.constFind(name);
    if (created)
        *created = found == m_byName.constEnd();
    if (found != m_byName.constEnd())
        return m_entries[*found];
    ImageEntry entry;
    entry.id = int(m_entries.size());
    entry.filePath = resolveListedImagePath(m_base, name);
    m_byName.insert(name, m_entries.size());
    m_entries.append(entry);
    return m_entries.last();
}

} // namespace Quillmark
