#include "model/SettingsStores.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Quillmark {

namespace {

// The program folder and at most seven of its ancestors are searched for a
// relative model path.
constexpr int foldersSearched = 8;

} // namespace

const QString SettingsStores::themeKey = QStringLiteral("ui/theme");

QSettings SettingsStores::defaultStore()
{
    return QSettings();
}

QSettings SettingsStores::productStore()
{
    return QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
}

QSettings SettingsStores::exportStore()
{
    return QSettings(QStringLiteral("Lumbra"), QStringLiteral("Quillmark"));
}

int SettingsStores::storedTheme()
{
    return defaultStore().value(themeKey, 0).toInt();
}

QString SettingsStores::resolveModelPath(const QString &key)
{
    return resolveModelPathFrom(defaultStore().value(key).toString(), QCoreApplication::applicationDirPath());
}

QString SettingsStores::resolveModelPathFrom(const QString &value, const QString &appDir)
{
    if (value.isEmpty())
        return {};
    const QDir app(appDir);
    if (QFileInfo(value).isRelative()) {
        QDir dir = app;
        for (int i = 0; i < foldersSearched; ++i) {
            const QString candidate = dir.absoluteFilePath(value);
            if (QFileInfo::exists(candidate))
                return QDir::cleanPath(candidate);
            if (!dir.cdUp())
                break;
        }
        return QDir::cleanPath(app.absoluteFilePath(value));
    }
    if (QFileInfo::exists(value))
        return value;
    const QString fallback = app.absolutePath() + QStringLiteral("/models/") + QFileInfo(value).fileName();
    return QFileInfo::exists(fallback) ? fallback : value;
}

} // namespace Quillmark
