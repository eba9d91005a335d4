#include "formats/ImageFolderIndex.h"

#include <QDir>

namespace Quillmark {

namespace {

QString nameKey(const QString &name)
{
#ifdef Q_OS_WIN
    return name.toCaseFolded();
#else
    return name;
#endif
}

} // namespace

ImageFolderIndex::ImageFolderIndex(QStringList extensions) : m_extensions(std::move(extensions)) {}

const QSet<QString> &ImageFolderIndex::listing(const QString &folder)
{
    auto it = m_listings.find(folder);
    if (it != m_listings.end())
        return *it;
    QSet<QString> names;
    const QDir dir(folder);
    if (dir.exists()) {
        const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
        names.reserve(entries.size());
        for (const QString &entry : entries)
            names.insert(nameKey(entry));
    }
    return *m_listings.insert(folder, names);
}

QString ImageFolderIndex::findWithExtension(const QString &folder, const QString &baseName, const QString &extension)
{
    const QString clean = QDir::cleanPath(folder);
    const QString fileName = baseName + QLatin1Char('.') + extension;
    if (!listing(clean).contains(nameKey(fileName)))
        return {};
    return clean + QLatin1Char('/') + fileName;
}

QString ImageFolderIndex::find(const QString &folder, const QString &baseName)
{
    for (const QString &extension : m_extensions) {
        const QString found = findWithExtension(folder, baseName, extension);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

} // namespace Quillmark
