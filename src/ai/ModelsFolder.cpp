#include "ai/ModelsFolder.h"

#include "model/SettingsStores.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace Quillmark {

namespace {

constexpr int maxParentsSearched = 8;

bool isFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

} // namespace

QString findModelsFolder(const QString &start)
{
    if (start.isEmpty())
        return {};
    const QString direct = start + QStringLiteral("/models");
    if (isFolder(direct))
        return QDir::cleanPath(direct);
    QDir dir(start);
    for (int i = 0; i < maxParentsSearched; ++i) {
        if (!dir.cdUp())
            return {};
        const QString candidate = dir.absoluteFilePath(QStringLiteral("models"));
        if (isFolder(candidate))
            return QDir::cleanPath(candidate);
    }
    return {};
}

QString resolveModelsDir(const QString &subfolder)
{
    const QString chosen = SettingsStores::productStore()
                               .value(QStringLiteral("modelsDir"))
                               .toString();
    return resolveModelsDirFrom(QCoreApplication::applicationDirPath(), QDir::currentPath(), chosen, subfolder);
}

QString resolveModelsDirFrom(const QString &appDir, const QString &workDir, const QString &chosenDir,
                             const QString &subfolder)
{
    QString base = findModelsFolder(appDir);
    if (base.isEmpty())
        base = findModelsFolder(workDir);
    if (base.isEmpty() && !chosenDir.isEmpty() && isFolder(chosenDir))
        base = chosenDir;
    if (base.isEmpty())
        return {};
    base = QDir::cleanPath(base);
    if (subfolder.isEmpty())
        return base;
    const QString candidate = base + QLatin1Char('/') + subfolder;
    return isFolder(candidate) ? candidate : base;
}

bool isPromptSegmentationModelName(const QString &fileName)
{
    return fileName.contains(QLatin1String("sam"), Qt::CaseInsensitive);
}

QString fileSizeSuffix(qint64 bytes)
{
    constexpr qint64 mebibyte = 1048576;
    if (bytes < mebibyte)
        return QStringLiteral("  (%1 KB)").arg(qMax<qint64>(1, bytes / 1024));
    return QStringLiteral("  (%1 MB)").arg(bytes / mebibyte);
}

} // namespace Quillmark
