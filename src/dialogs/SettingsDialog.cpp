#include "dialogs/SettingsDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace Quillmark {

namespace {

// The program folder and at most seven of its ancestors are searched for a
// relative model path.
constexpr int foldersSearched = 8;

} // namespace

Theme::Mode SettingsDialog::savedTheme()
{
    return QSettings().value(QStringLiteral("ui/theme"), 0).toInt() == int(Theme::Dark) ? Theme::Dark : Theme::Light;
}

QString SettingsDialog::resolveModelPath(const QString &key)
{
    return resolveModelPathFrom(QSettings().value(key).toString(), QCoreApplication::applicationDirPath());
}

QString SettingsDialog::resolveModelPathFrom(const QString &value, const QString &appDir)
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
