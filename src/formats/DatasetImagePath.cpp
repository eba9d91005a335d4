#include "formats/DatasetImagePath.h"

#include "formats/ImageProbe.h"

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
    if (QDir::isAbsolutePath(name))
        return name;
    const QString direct = base.filePath(name);
    if (QFileInfo(direct).isFile())
        return direct;
    // A relative name written on Windows (..\images\a.jpg), as LabelMe
    // and others save it there.
    if (name.contains(QLatin1Char('\\'))) {
        const QString slashed = base.filePath(QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')));
        if (QFileInfo(slashed).isFile())
            return QDir::cleanPath(slashed);
    }
    const QString inImages = base.filePath(QStringLiteral("images/") + fileNamePart(name));
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
