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

} // namespace Quillmark
