#include "formats/CocoImageResolver.h"

#include "formats/DatasetImagePath.h"
#include "model/PathInFolder.h"

#include <QFileInfo>

namespace Quillmark {

CocoImageResolver::CocoImageResolver(const QString &jsonPath)
{
    const QFileInfo json(jsonPath);
    m_base = QDir(json.absolutePath());
    const QString stem = json.completeBaseName();
    const QString split = stem.mid(stem.lastIndexOf(QLatin1Char('_')) + 1);
    const QString parent = QDir::cleanPath(m_base.absoluteFilePath(QStringLiteral("..")));
    QStringList folders = {m_base.absolutePath(), m_base.filePath(QStringLiteral("images"))};
    if (!split.isEmpty()) {
        folders.append(parent + QLatin1Char('/') + split);
        folders.append(parent + QStringLiteral("/images/") + split);
    }
    folders.append(parent);
    folders.append(parent + QStringLiteral("/images"));
    folders.removeDuplicates();
    for (const QString &folder : std::as_const(folders))
        m_folders.append({QDir(folder), {}, false});
}

QString CocoImageResolver::resolve(const QString &fileName)
{
    if (fileName.isEmpty())
        return {};
    if (isAbsoluteFilePath(fileName))
        return fileName;
    if (const QString found = find(fileName); !found.isEmpty())
        return found;
    // A name written on Windows, with "\" between its folders.
    if (fileName.contains(QLatin1Char('\\'))) {
        if (const QString found = find(QString(fileName).replace(QLatin1Char('\\'), QLatin1Char('/')));
            !found.isEmpty())
            return found;
    }
    return m_base.filePath(QStringLiteral("images/") + fileNamePart(fileName));
}

QString CocoImageResolver::find(const QString &fileName)
{
    if (const QString found = existing(m_last, fileName); !found.isEmpty())
        return found;
    for (int i = 0; i < m_folders.size(); ++i) {
        if (i == m_last)
            continue;
        if (const QString found = existing(i, fileName); !found.isEmpty()) {
            m_last = i;
            return found;
        }
    }
    return {};
}

bool CocoImageResolver::contains(Folder &folder, const QString &name)
{
    if (!folder.listed) {
        const QStringList entries = folder.dir.entryList(QDir::Files | QDir::Hidden);
        folder.names = QSet<QString>(entries.cbegin(), entries.cend());
        folder.listed = true;
    }
    return folder.names.contains(name);
}

QString CocoImageResolver::existing(int index, const QString &fileName)
{
    Folder &folder = m_folders[index];
    const QString last = fileNamePart(fileName);
    if (last == fileName)
        return contains(folder, fileName) ? pathInFolder(folder.dir, fileName) : QString();
    const QString direct = pathInFolder(folder.dir, fileName);
    if (QFileInfo::exists(direct))
        return direct;
    return contains(folder, last) ? pathInFolder(folder.dir, last) : QString();
}

} // namespace Quillmark
