#include "formats/ImageExtensions.h"

#include <QFileInfo>

namespace Quillmark {

const QStringList imageExtensions = {
    QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("bmp"),
    QStringLiteral("tiff"), QStringLiteral("tif"), QStringLiteral("webp"),
};

bool hasImageExtension(const QString &path)
{
    return imageExtensions.contains(QFileInfo(path).suffix().toLower());
}

} // namespace Quillmark
