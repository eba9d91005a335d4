#include "formats/FolderListing.h"

#include <QDir>
#include <QDirIterator>

#include <algorithm>

namespace Quillmark {

QStringList listFiles(const QString &folder, const QStringList &patterns)
{
    QDir dir(folder);
    dir.setNameFilters(patterns);
    dir.setFilter(QDir::Files);
    dir.setSorting(QDir::Name);
    const QStringList names = dir.entryList();
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(dir.absoluteFilePath(name));
    return paths;
}

QStringList listFilesRecursively(const QString &folder, const QStringList &patterns)
{
    QStringList paths;
    QDirIterator it(folder, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir::cleanPath(QFileInfo(it.next()).absoluteFilePath()));
    std::sort(paths.begin(), paths.end());
    return paths;
}

QStringList listSubfolders(const QString &folder)
{
    QDir dir(folder);
    dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    return dir.entryList();
}

} // namespace Quillmark
