#include "model/PathInFolder.h"

#include <QDir>

namespace Quillmark {

QString pathInFolder(const QString &folder, const QString &relative)
{
    if (folder.isEmpty())
        return relative.startsWith(QLatin1Char(':')) ? QStringLiteral("./") + relative : relative;
    if (relative.isEmpty())
        return folder;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + relative;
    return folder + QLatin1Char('/') + relative;
}

QString pathInFolder(const QDir &folder, const QString &relative)
{
    return pathInFolder(folder.path(), relative);
}

QString cleanFilePath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.startsWith(QLatin1Char(':')) ? QStringLiteral("./") + clean : clean;
}

bool isAbsoluteFilePath(const QString &path)
{
    return !path.startsWith(QLatin1Char(':')) && QDir::isAbsolutePath(path);
}

} // namespace Quillmark
