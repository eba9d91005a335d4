// The settings command, and the update check with its status-bar banner.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "dialogs/SettingsDialog.h"
#include "update/UpdateChecker.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace Quillmark {

void MainWindow::openSettings()
{
    if (!settingsDialog) {
        settingsDialog = new SettingsDialog(this);
        connect(settingsDialog, &SettingsDialog::themeChanged, this, &MainWindow::applyTheme);
    } else {
        settingsDialog->loadSettings();
    }
    // The theme the window shows, which may have been picked on the tool bar:
    // OK must not switch back to the stored one behind the user's back.
    QComboBox *theme = settingsDialog->themeBox();
    theme->setCurrentIndex(std::max(0, theme->findData(int(themeMode))));
    if (settingsDialog->exec() != QDialog::Accepted)
        return;
    // Models load when their path changed; a theme change loads nothing, and
    // the AI tools load what they need when they are used.
    const QString detectionKey = project.projectType == QLatin1String("segmentation")
            || project.projectType == QLatin1String("semantic_segmentation")
        ? QStringLiteral("models/segmentation")
        : QStringLiteral("models/detection");
    const auto changedToAFile = [this](const QString &key) {
        const QString now = SettingsDialog::resolveModelPath(key);
        return now != knownModelPaths.value(key) && QFileInfo(now).isFile();
    };
    const bool detectionChanged = changedToAFile(detectionKey);
    const bool facePoseChanged =
        changedToAFile(QStringLiteral("models/body")) || changedToAFile(QStringLiteral("models/face"));
    rememberModelPaths();
    // The auto-label model of the project's task follows the new settings.
    if (detectionChanged && aiAutoLabelDialog)
        emit aiAutoLabelDialog->modelSelected(SettingsDialog::resolveModelPath(detectionKey));
    if (facePoseChanged)
        pushConfiguredFacePoseModels();
}

void MainWindow::rememberModelPaths()
{
    for (const char *key : {"models/detection", "models/segmentation", "models/body", "models/face"})
        knownModelPaths.insert(QLatin1String(key), SettingsDialog::resolveModelPath(QLatin1String(key)));
}

void MainWindow::startUpdateCheck()
{
    updateChecker = new UpdateChecker(this);
    connect(updateChecker, &UpdateChecker::updateAvailable, this, &MainWindow::showUpdateBanner);
    QTimer::singleShot(4000, updateChecker, [checker = updateChecker] { checker->check(); });
}

void MainWindow::showUpdateBanner(const QString &version, const QString &url)
{
    if (!updateBanner) {
        updateBanner = new QLabel(this);
        updateBanner->setTextFormat(Qt::RichText);
        updateBanner->setOpenExternalLinks(true);
        // A click on the link leaves the keys with the canvas.
        updateBanner->setFocusPolicy(Qt::NoFocus);
        updateBanner->setStyleSheet(
            QStringLiteral("color:#f59e0b; font-weight:600; padding:0 8px;background:transparent;"));
        statusBar()->addPermanentWidget(updateBanner, 0);
    }
    updateBanner->setText(UpdateChecker::bannerText(version, url));
    statusBar()->showMessage(QString());
}

} // namespace Quillmark
