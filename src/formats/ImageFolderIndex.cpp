#include "formats/ImageFolderIndex.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

namespace {

// The key a file is looked up by: its name with the suffix in lower case
// (case-folded whole on Windows).
QString nameKey(const QString &name)
{
#ifdef Q_OS_WIN
    return name.toCaseFolded();
#else
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return name;
    return name.left(dot + 1) + name.mid(dot + 1).toLower();
#endif
}

} // namespace

ImageFolderIndex::ImageFolderIndex(QStringList extensions) : m_extensions(std::move(extensions)) {}

ImageFolderIndex::Listing ImageFolderIndex::listingOf(const QString &folder)
{
    Listing names;
    const QDir dir(folder);
    if (!dir.exists())
        return names;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    names.reserve(entries.size());
    // Of two names with one key ("a.jpg", "a.JPG"), the one spelled as the key
    // wins, else the first in name order: the same in every run.
    for (const QString &entry : entries) {
        const QString key = nameKey(entry);
        const auto it = names.find(key);
        if (it == names.end())
            names.insert(key, entry);
        else if (entry == key)
            *it = entry;
    }
    return names;
}

QString ImageFolderIndex::findIn(const Listing &listing, const QString &folder, const QString &baseName,
                                 const QString &extension)
{
    const auto found = listing.constFind(nameKey(baseName + QLatin1Char('.') + extension));
    return found == listing.cend() ? QString() : folder + QLatin1Char('/') + *found;
}

const ImageFolderIndex::Listing &ImageFolderIndex::listing(const QString &folder)
{
    auto it = m_listings.find(folder);
    if (it == m_listings.end())
        it = m_listings.insert(folder, listingOf(folder));
    return *it;
}

QString ImageFolderIndex::findWithExtension(const QString &folder, const QString &baseName, const QString &extension)
{
    const QString clean = QDir::cleanPath(folder);
    return findIn(listing(clean), clean, baseName, extension);
}

QString ImageFolderIndex::find(const QString &folder, const QString &baseName)
{
    const QString clean = QDir::cleanPath(folder);
    const Listing &names = listing(clean);
    if (names.isEmpty())
        return {};
    for (const QString &extension : m_extensions) {
        const QString found = findIn(names, clean, baseName, extension);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QString ImageFolderIndex::findOnce(const QString &folder, const QString &baseName, const QStringList &extensions)
{
    const QString clean = QDir::cleanPath(folder);
    for (const QString &extension : extensions) {
        const QString path = clean + QLatin1Char('/') + baseName + QLatin1Char('.') + extension;
        if (QFileInfo::exists(path))
            return path;
    }
    if (!QFileInfo(clean).isDir())
        return {};
    ImageFolderIndex index(extensions);
    return index.find(clean, baseName);
}

} // namespace Quillmark
