#include "formats/RoboflowYoloHandler.h"

#include "formats/SafeRead.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

bool readFolderDataYamlText(const QString &folder, QString *text)
{
    text->clear();
    const QString path = QDir(folder).filePath(QStringLiteral("data.yaml"));
    QByteArray bytes;
    if (!readWholeFile(path, kMaxDetectionBytes, &bytes))
        return false;
    *text = QString::fromUtf8(bytes);
    return true;
}

QString RoboflowYoloHandler::name() const { return QStringLiteral("Roboflow YOLO"); }

bool RoboflowYoloHandler::canImport(const QString &path) const
{
    QString text;
    return readFolderDataYamlText(path, &text) && text.contains(QLatin1String("roboflow:"));
}

} // namespace Quillmark
