// The theme of the window and the title with the project's state.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "model/Version.h"
#include "canvas/LabelCanvas.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"

#include <QFileInfo>

namespace Quillmark {

void MainWindow::applyTheme(Theme::Mode mode)
{
    themeMode = mode;
    // On this window only: windows without it as parent keep the platform style.
    setStyleSheet(buildAppStyleSheet(mode));
    const bool dark = mode == Theme::Dark;
    if (canvas)
        canvas->setThemeMode(int(mode));
    if (sideToolBar)
        sideToolBar->setDark(dark);
    if (toolBar)
        toolBar->setTheme(mode);
    if (filmStrip)
        filmStrip->setDark(dark);
}

bool MainWindow::projectIsOpen() const
{
    return !projectPath.isEmpty() || !project.projectType.isEmpty() || !project.dataset.images.isEmpty()
        || !project.dataset.videos.isEmpty();
}

void MainWindow::updateTitle()
{
    const QString displayName = project.name.isEmpty() ? QStringLiteral("Untitled") : project.name;
    const QString suffix =
        projectPath.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + QFileInfo(projectPath).fileName();
    const QString product = QStringLiteral("Quillmark %1").arg(QLatin1String(appVersion));
    setWindowTitle(QStringLiteral("%1  |  %2%3").arg(product, displayName, suffix));

    const bool open = projectIsOpen();
    QString shownName = project.name;
    if (shownName.isEmpty() && !projectPath.isEmpty())
        shownName = QFileInfo(projectPath).completeBaseName();
    if (topBar) {
        topBar->setHasProject(open);
        topBar->setProjectName(shownName);
        topBar->setProjectType(project.projectType);
    }
    if (annotationPanel)
        annotationPanel->setProjectOpen(open);
    if (toolBar) {
        toolBar->setProjectOpen(open);
        // Opening the project's buttons enables playback too: it belongs to video mode only.
        toolBar->setPlaybackEnabled(open && videoMode);
    }
    if (sideToolBar)
        sideToolBar->setProjectType(project.projectType);
    // The side bar holds every tool back until the project has a type; the
    // canvas draws nothing meanwhile either.
    if (canvas)
        canvas->setDrawingNeedsType(project.projectType.isEmpty());
    if (aiAutoLabelDialog)
        aiAutoLabelDialog->setProjectType(project.projectType);
    if (annotationPanel)
        annotationPanel->setMultiSelect(project.projectType == QLatin1String("classification"));
}

} // namespace Quillmark
