#include "formats/DatasetImagePath.h"

#include "formats/ImageProbe.h"
#include "model/PathInFolder.h"

#include <QFileInfo>

#include <algorithm>

namespace Quillmark {

QString fileNamePart(const QString &name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? name : name.mid(cut + 1);
}

QString resolveDatasetImagePath(const QDir &base, const QString &name, MissingImage missing)
{
    if (name.isEmpty())
        return {};
    if (isAbsoluteFilePath(name))
        return name;
    const QString direct = pathInFolder(base, name);
    if (QFileInfo(direct).isFile())
        return direct;
    // A relative name written on Windows (..\images\a.jpg), as LabelMe
    // and others save it there.
    const QString slashed = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (slashed != name && QFileInfo(pathInFolder(base, slashed)).isFile())
        return cleanFilePath(pathInFolder(base, slashed));
    // Below "images" with its folders, as CVAT saves the pictures of a task
    // whose files lay in folders.
    if (slashed.contains(QLatin1Char('/'))) {
        const QString nested = cleanFilePath(pathInFolder(base, QStringLiteral("images/") + slashed));
        if (nested.startsWith(cleanFilePath(pathInFolder(base, QStringLiteral("images"))) + QLatin1Char('/')) &&
            QFileInfo(nested).isFile())
            return nested;
    }
    const QString inImages = pathInFolder(base, QStringLiteral("images/") + fileNamePart(name));
    if (missing == MissingImage::BesideDatasetFile && !QFileInfo(inImages).isFile())
        return direct;
    return inImages;
}

ImageEntry datasetImageEntry(const QDir &base, const QString &name, int id)
{
    ImageEntry entry;
    entry.id = id;
    entry.filePath = resolveDatasetImagePath(base, name);
    const QSize size = probeImageSize(entry.filePath);
    entry.width = size.width();
    entry.height = size.height();
    return entry;
}

} // namespace Quillmark
