// Connections of the bars, panels and canvas, the hidden menu bar and the
// window-wide keyboard shortcuts.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "canvas/LabelCanvas.h"
#include "canvas/StatsOverlay.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/ToolTable.h"
#include "chrome/TopBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ShortcutsDialog.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>

namespace Quillmark {

void MainWindow::connectCanvasControls()
{
    connect(videoScrubber, &VideoScrubber::valueChanged, this, [this](int value) {
        if (videoMode)
            seekVideoFrame(value);
    });
    connect(labelsButton, &QPushButton::toggled, canvas, &LabelCanvas::setShowLabels);
    connect(statsButton, &QPushButton::toggled, this, [this](bool checked) {
        if (!statsOverlay)
            return;
        if (checked)
            refreshStats();
        else
            statsOverlay->hide();
    });
}

void MainWindow::connectBars()
{
    connect(topBar, &TopBar::discardClicked, this, &MainWindow::onDiscard);
    connect(topBar, &TopBar::prevClicked, this, &MainWindow::onPrev);
    connect(topBar, &TopBar::nextClicked, this, &MainWindow::onNext);
    connect(topBar, &TopBar::aboutRequested, this, &MainWindow::showAbout);
    connect(topBar, &TopBar::projectTypeChangeRequested, this, &MainWindow::onProjectTypeChangeRequested);

    connect(toolBar, &ToolBar::settingsClicked, this, &MainWindow::openSettings);
    connect(toolBar, &ToolBar::themeChanged, this, &MainWindow::applyTheme);
    connect(toolBar, &ToolBar::newProjectClicked, this, &MainWindow::onNewProject);
    connect(toolBar, &ToolBar::openProjectClicked, this, &MainWindow::onOpenProject);
    connect(toolBar, &ToolBar::saveProjectClicked, this, &MainWindow::onSaveProject);
    connect(toolBar, &ToolBar::closeProjectClicked, this, &MainWindow::onCloseProject);
    connect(toolBar, &ToolBar::importImagesClicked, this, &MainWindow::onImportImages);
    connect(toolBar, &ToolBar::importVideoClicked, this, &MainWindow::onImportVideo);
    connect(toolBar, &ToolBar::importDatasetClicked, this, &MainWindow::onImportDataset);
    connect(toolBar, &ToolBar::importQuillPackageClicked, this, &MainWindow::onImportQuillPackage);
    connect(toolBar, &ToolBar::exportQuillPackageClicked, this, &MainWindow::onExportQuillPackage);
    connect(toolBar, &ToolBar::exportDatasetClicked, this, &MainWindow::onExportDataset);
    connect(toolBar, &ToolBar::skipPreviousClicked, this, &MainWindow::goToFirstItem);
    connect(toolBar, &ToolBar::rewindClicked, this, &MainWindow::onJumpBack);
    connect(toolBar, &ToolBar::prevClicked, this, &MainWindow::onPrev);
    connect(toolBar, &ToolBar::playClicked, this, &MainWindow::onPlaySlideshow);
    connect(toolBar, &ToolBar::nextClicked, this, &MainWindow::onNext);
    connect(toolBar, &ToolBar::fastForwardClicked, this, &MainWindow::onJumpForward);
    connect(toolBar, &ToolBar::skipNextClicked, this, &MainWindow::goToLastItem);
    connect(toolBar, &ToolBar::helpClicked, this, &MainWindow::showShortcuts);
}

void MainWindow::connectPanels()
{
    connect(imageListPanel, &ImageListPanel::imageSelected, this, &MainWindow::onImageSelected);
    connect(imageListPanel, &ImageListPanel::filterChanged, this, &MainWindow::onListFilterChanged);
    connect(imageListPanel, &ImageListPanel::addImagesRequested, this, &MainWindow::onImportImages);
    connect(imageListPanel, &ImageListPanel::deleteImagesRequested, this, &MainWindow::onDeleteImages);
    connect(imageListPanel, &ImageListPanel::deleteVideosRequested, this, &MainWindow::onDeleteVideos);
    connect(sideToolBar, &SideToolBar::toolChanged, this, [this](Tool tool) { onToolChanged(int(tool)); });
}

void MainWindow::connectCanvas()
{
    connect(canvas, &LabelCanvas::samPromptsChanged, this, &MainWindow::handleSamPromptsChanged);
    connect(annotationPanel, &AnnotationPanel::labelSelected, canvas, &LabelCanvas::setCurrentClass);
    connect(annotationPanel, &AnnotationPanel::annotationSelected, canvas, &LabelCanvas::selectAnnotation);
    connect(canvas, &LabelCanvas::annotationSelected, annotationPanel, &AnnotationPanel::selectAnnotation);
    connect(annotationPanel, &AnnotationPanel::annotationDeleteRequested, canvas, &LabelCanvas::deleteAnnotation);
    connect(annotationPanel, &AnnotationPanel::classesSelected, this, &MainWindow::onClassesSelected);
    connect(annotationPanel, &AnnotationPanel::classAdded, this, &MainWindow::onClassAdded);
    connect(annotationPanel, &AnnotationPanel::classRemoved, this, &MainWindow::onClassRemoved);
    connect(annotationPanel, &AnnotationPanel::classRenamed, this, &MainWindow::onClassRenamed);
    connect(annotationPanel, &AnnotationPanel::classColorChanged, this, &MainWindow::onClassColorChanged);
    connect(canvas, &LabelCanvas::annotationAdded, this, &MainWindow::onCanvasEdited);
    connect(canvas, &LabelCanvas::annotationDeleted, this, &MainWindow::onCanvasEdited);
    connect(canvas, &LabelCanvas::annotationsChanged, this, &MainWindow::onCanvasEdited);
    connect(canvas, &LabelCanvas::classRequired, this, &MainWindow::onClassRequired);
    connect(canvas, &LabelCanvas::unfinishedShapeDropped, this, &MainWindow::tellUnfinishedShapeDropped);
    connect(canvas, &LabelCanvas::pressedWithoutPicture, this, &MainWindow::tellNothingToDrawOn);
    connect(canvas, &LabelCanvas::zoomChanged, this, [this](int percent) {
        if (zoomLabel)
            zoomLabel->setText(QStringLiteral("%1%").arg(percent));
    });
    // The zoom buttons work on a picture: none shown, none to press.
    connect(canvas, &LabelCanvas::pictureChanged, this, [this](bool shown) {
        for (QPushButton *button : std::as_const(zoomButtons))
            button->setEnabled(shown);
        updateZoomLabel();
    });
}

void MainWindow::connectAutoLabelDialog()
{
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::modelSelected, this, &MainWindow::handleDetectionModelSelected);
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::runCurrentRequested, this, &MainWindow::onAiRunCurrent);
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::runAllRequested, this, &MainWindow::onAiRunAll);
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::cancelRequested, this, &MainWindow::cancelAiBatch);
}

void MainWindow::connectSegmentationPrompts()
{
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::samRequested, this, &MainWindow::showSegmentationTab);
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::sam3Requested, this, &MainWindow::showConceptDialog);
    connect(aiAutoLabelDialog, &AiAutoLabelDialog::samPanelDeactivated, this, &MainWindow::leaveSamMode);
    connect(aiSegDialog, &AiSegDialog::encoderSelected, this, &MainWindow::handleSamEncoderSelected);
    connect(aiSegDialog, &AiSegDialog::encodeRequested, this, &MainWindow::onSamEncode);
    connect(aiSegDialog, &AiSegDialog::acceptRequested, this, &MainWindow::onSamAccept);
    connect(aiSegDialog, &AiSegDialog::clearRequested, this, &MainWindow::onSamClear);
    connect(aiSegDialog, &AiSegDialog::conceptRequested, this, &MainWindow::showConceptDialog);
    connect(sam3Dialog, &AiSam3Dialog::visionEncoderSelected, this, &MainWindow::onSam3ModelsSelected);
    connect(sam3Dialog, &AiSam3Dialog::decoderSelected, this, &MainWindow::onSam3ModelsSelected);
    connect(sam3Dialog, &AiSam3Dialog::encodeRequested, this, &MainWindow::onSam3Encode);
    connect(sam3Dialog, &AiSam3Dialog::detectRequested, this, &MainWindow::onSam3Detect);
    connect(sam3Dialog, &AiSam3Dialog::previewRequested, this, &MainWindow::onSam3Preview);
    connect(sam3Dialog, &AiSam3Dialog::acceptRequested, this, &MainWindow::onSam3Accept);
    connect(sam3Dialog, &AiSam3Dialog::clearRequested, this, &MainWindow::onSam3Clear);
}

void MainWindow::connectFacePoseDialogs()
{
    connect(faceDialog, &FaceAnnotationDialog::modelSelected, this, &MainWindow::handleFaceModelSelected);
    connect(faceDialog, &FaceAnnotationDialog::runCurrentRequested, this, &MainWindow::onFaceRunCurrent);
    connect(faceDialog, &FaceAnnotationDialog::runAllRequested, this, &MainWindow::onFaceRunAll);
    connect(faceDialog, &FaceAnnotationDialog::acceptRequested, this, &MainWindow::onFaceAccept);
    connect(faceDialog, &FaceAnnotationDialog::clearRequested, this, &MainWindow::onFaceClear);
    connect(faceDialog, &FaceAnnotationDialog::cancelRequested, this, &MainWindow::cancelAiBatch);

    connect(poseDialog, &PoseAnnotationDialog::modelSelected, this, &MainWindow::handlePoseModelSelected);
    connect(poseDialog, &PoseAnnotationDialog::keypointVisibilityChanged, this, &MainWindow::showPendingPoseResults);
    connect(poseDialog, &PoseAnnotationDialog::runCurrentRequested, this, &MainWindow::onPoseRunCurrent);
    connect(poseDialog, &PoseAnnotationDialog::runAllRequested, this, &MainWindow::onPoseRunAll);
    connect(poseDialog, &PoseAnnotationDialog::acceptRequested, this, &MainWindow::onPoseAccept);
    connect(poseDialog, &PoseAnnotationDialog::clearRequested, this, &MainWindow::onPoseClear);
    connect(poseDialog, &PoseAnnotationDialog::cancelRequested, this, &MainWindow::cancelAiBatch);

    // Previews belong to the image shown when they were made.
    connect(canvas, &LabelCanvas::pendingAnnotationsDropped, this, &MainWindow::dropPendingFacePose);
    connect(canvas, &LabelCanvas::poseKeypointHovered, this, [this](int index) {
        if (index >= 0 && poseDialog->isVisible())
            poseDialog->highlightKeypoint(index);
    });
}

void MainWindow::setupMenus()
{
    // Never the platform's global menu: the bar stays hidden, and its key
    // sequences must not compete with the window's own shortcuts.
    QMenuBar *bar = menuBar();
    bar->setNativeMenuBar(false);

    QMenu *fileMenu = bar->addMenu(QStringLiteral("&File"));
    fileMenu->addAction(QStringLiteral("&New Project"), QKeySequence::New, this, &MainWindow::onNewProject);
    fileMenu->addAction(QStringLiteral("&Open Project..."), QKeySequence::Open, this, &MainWindow::onOpenProject);
    fileMenu->addAction(QStringLiteral("&Save Project"), QKeySequence::Save, this, &MainWindow::onSaveProject);
    fileMenu->addAction(QStringLiteral("Save Project &As..."), QKeySequence::SaveAs, this,
                        &MainWindow::onSaveProjectAs);
    fileMenu->addSeparator();
    fileMenu->addAction(QStringLiteral("Import &Video…"), this, &MainWindow::onImportVideo);
    fileMenu->addAction(QStringLiteral("&Import Dataset..."), this, &MainWindow::onImportDataset);
    fileMenu->addAction(QStringLiteral("Open &QuillPackage (.qmpkg)…"), this, &MainWindow::onImportQuillPackage);
    fileMenu->addAction(QStringLiteral("&Export Dataset..."), this, &MainWindow::onExportDataset);
    fileMenu->addSeparator();
    // Quitting closes the window, so unsaved work is asked about first.
    fileMenu->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    editMenu = bar->addMenu(QStringLiteral("&Edit"));

    QMenu *helpMenu = bar->addMenu(QStringLiteral("&Help"));
    helpMenu->addAction(QStringLiteral("About Quillmark"), this, &MainWindow::showAbout);
}

QShortcut *MainWindow::addShortcut(const QKeySequence &key, const std::function<void()> &action)
{
    auto *shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, this, action);
    shortcuts.append(shortcut);
    return shortcut;
}

void MainWindow::setupShortcuts()
{
    const QList<QPair<QKeySequence::StandardKey, void (MainWindow::*)()>> fileKeys = {
        {QKeySequence::Save, &MainWindow::onSaveProject},
        {QKeySequence::SaveAs, &MainWindow::onSaveProjectAs},
        {QKeySequence::Open, &MainWindow::onOpenProject},
        {QKeySequence::New, &MainWindow::onNewProject},
    };
    for (const auto &[key, slot] : fileKeys)
        addShortcut(QKeySequence(key), [this, slot = slot] { (this->*slot)(); });
    // Some platforms define no key for "save as"; the program's own is Ctrl+Shift+S.
    if (QKeySequence::keyBindings(QKeySequence::SaveAs).isEmpty())
        addShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { onSaveProjectAs(); });
    addShortcut(QKeySequence(Qt::Key_F5), [this] { onImportDataset(); });

    addShortcut(QKeySequence(Qt::Key_L), [this] { labelsButton->toggle(); });
    addShortcut(QKeySequence(Qt::Key_Plus), [this] { canvas->zoomIn(); });
    addShortcut(QKeySequence(Qt::Key_Equal), [this] { canvas->zoomIn(); });
    addShortcut(QKeySequence(Qt::Key_Minus), [this] { canvas->zoomOut(); });
    addShortcut(QKeySequence(Qt::Key_F), [this] { canvas->fitToWindow(); });
    addShortcut(QKeySequence(Qt::Key_G), [this] { canvas->zoomActualSize(); });

    addToolShortcut(Qt::Key_V, int(Tool::Select));
    addToolShortcut(Qt::Key_B, int(Tool::BBox));
    addToolShortcut(Qt::Key_P, int(Tool::Polygon));
    addToolShortcut(Qt::Key_K, int(Tool::Keypoint));
    addToolShortcut(Qt::Key_O, int(Tool::Keypoint));
    addToolShortcut(Qt::Key_C, int(Tool::Classification));

    addShortcut(QKeySequence(Qt::Key_F2), [this] { showShortcuts(); });
    addShortcut(QKeySequence(Qt::Key_BracketLeft), [this] {
        if (videoMode && videoScrubber)
            videoScrubber->jumpToPreviousMarker();
    });
    addShortcut(QKeySequence(Qt::Key_BracketRight), [this] {
        if (videoMode && videoScrubber)
            videoScrubber->jumpToNextMarker();
    });

    // Undo and redo (Ctrl+Z and Ctrl+Y among their keys) are the window's edit
    // actions (MainWindowFocus.cpp).

    // The previous/next keys named on the tool bar's buttons.
    addShortcut(QKeySequence(Qt::Key_A), [this] { onPrev(); });
    addShortcut(QKeySequence(Qt::Key_D), [this] { onNext(); });

    // The frame keys of the shortcut reference. They are live only in video
    // mode, so outside it the arrows and Space keep their usual meaning in the
    // focused widget (a button, a list, a combo box).
    videoShortcuts = {
        addShortcut(QKeySequence(Qt::Key_Left), [this] { onPrev(); }),
        addShortcut(QKeySequence(Qt::Key_Right), [this] { onNext(); }),
        addShortcut(QKeySequence(Qt::Key_Space), [this] { onPlaySlideshow(); }),
    };
    for (QShortcut *shortcut : videoShortcuts)
        shortcut->setEnabled(videoMode);
}

void MainWindow::addToolShortcut(int key, int tool)
{
    // Only the tools the side tool bar offers for the project's type.
    addShortcut(QKeySequence(key), [this, tool] {
        if (!isToolAllowed(project.projectType, tool))
            return;
        // The key of the tool in use keeps the shape being placed.
        if (canvas->currentTool() == tool && canvas->isPlacing())
            return;
        canvas->setTool(tool);
        sideToolBar->setTool(tool);
    });
}

void MainWindow::showAbout()
{
    if (!aboutDialog)
        aboutDialog = new AboutDialog(this);
    aboutDialog->exec();
}

void MainWindow::showShortcuts()
{
    if (!shortcutsDialog)
        shortcutsDialog = new ShortcutsDialog(this);
    shortcutsDialog->show();
    shortcutsDialog->raise();
    shortcutsDialog->activateWindow();
}

void MainWindow::goToFirstItem()
{
    if (videoMode) {
        seekVideoFrame(0);
        return;
    }
    if (const int id = firstListedImage(); id >= 0)
        showListedImage(id);
}

void MainWindow::goToLastItem()
{
    if (videoMode) {
        const VideoEntry *video = project.dataset.videoById(currentVideoId);
        if (video && video->frameCount > 0)
            seekVideoFrame(video->frameCount - 1);
        return;
    }
    if (const int id = firstListedImage(true); id >= 0)
        showListedImage(id);
}

void MainWindow::onToolChanged(int tool)
{
    canvas->setTool(tool);
    if (tool == int(Tool::AiLabel)) {
        onAiToolSelected();
        return;
    }
    if (tool == int(Tool::Pose) || tool == int(Tool::Face)) {
        if (tool == int(Tool::Pose))
            onPoseToolSelected();
        else
            onFaceToolSelected();
        canvas->setTool(int(Tool::Select));
        sideToolBar->setTool(int(Tool::Select));
    }
}

void MainWindow::pushClassColors()
{
    canvas->setClassColors(project.dataset.classColors);
    // A renamed or removed class may have been the schema's object class.
    canvas->setKeypointSchema(project.dataset.keypointSchema);
    annotationPanel->setClasses(project.dataset.classColors);
}

void MainWindow::reloadShownEntry()
{
    if (videoMode) {
        refreshVideoFrameAnnotations();
        return;
    }
    // The canvas's copy of the shown image still holds the old class names;
    // hand it the dataset's list so that a later edit cannot write them back.
    // Pixels that are still loading take their list from the dataset on arrival.
    const std::optional<int> shownId = canvas->displayedEntryId();
    if (!shownId || *shownId < 0)
        return;
    if (const ImageEntry *shown = project.dataset.imageById(*shownId))
        canvas->setAnnotations(shown->labels);
}

void MainWindow::onClassAdded(const QString &name, const QColor &color)
{
    project.dataset.addClass(name, color);
    modified = true;
    pushClassColors();
}

void MainWindow::onClassRemoved(const QString &name)
{
    project.dataset.removeClass(name);
    modified = true;
    for (const ImageEntry &image : std::as_const(project.dataset.images))
        imageListPanel->setImageLabeled(image.id, !image.labels.isEmpty());
    pushClassColors();
    reloadShownEntry();
    refreshStats();
}

void MainWindow::onClassRenamed(const QString &oldName, const QString &newName)
{
    project.dataset.renameClass(oldName, newName);
    modified = true;
    pushClassColors();
    reloadShownEntry();
    refreshStats();
}

void MainWindow::onClassColorChanged(const QString &name, const QColor &color)
{
    project.dataset.setClassColor(name, color);
    modified = true;
    pushClassColors();
    canvas->update();
    refreshStats();
}

void MainWindow::onCanvasEdited()
{
    modified = true;
    writeBackAnnotations();
}

} // namespace Quillmark
