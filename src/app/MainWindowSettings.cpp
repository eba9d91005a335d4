// The settings command, and the update check with its status-bar banner.

#include "app/MainWindow.h"

#include "ai/AiAutoLabelDialog.h"
#include "dialogs/SettingsDialog.h"
#include "update/UpdateChecker.h"

#include <QComboBox>
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
    // The auto-label model of the project's task follows the new settings.
    const bool segmentation = project.projectType == QLatin1String("segmentation")
        || project.projectType == QLatin1String("semantic_segmentation");
    const QString detectionModel = SettingsDialog::resolveModelPath(
        segmentation ? QStringLiteral("models/segmentation") : QStringLiteral("models/detection"));
    if (!detectionModel.isEmpty() && aiAutoLabelDialog)
        emit aiAutoLabelDialog->modelSelected(detectionModel);
    pushConfiguredFacePoseModels();
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
        updateBanner->setStyleSheet(
            QStringLiteral("color:#f59e0b; font-weight:600; padding:0 8px;background:transparent;"));
        statusBar()->addPermanentWidget(updateBanner, 0);
    }
    updateBanner->setText(UpdateChecker::bannerText(version, url));
    statusBar()->showMessage(QString());
}

} // namespace Quillmark
