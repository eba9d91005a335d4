#include "formats/Yolo4ScaledHandler.h"

#include "formats/RoboflowYoloHandler.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

QString Yolo4ScaledHandler::name() const { return QStringLiteral("YOLOv4 Scaled"); }

bool Yolo4ScaledHandler::canImport(const QString &path) const
{
    const QDir dir(path);
    if (!QFileInfo::exists(dir.filePath(QStringLiteral("data.yaml"))))
        return false;
    if (QFileInfo(dir.filePath(QStringLiteral("images"))).isDir()
        && QFileInfo(dir.filePath(QStringLiteral("labels"))).isDir())
        return false;
    QString text;
    return readFolderDataYamlText(path, &text) && !text.contains(QLatin1String("roboflow:"));
}

} // namespace Quillmark
