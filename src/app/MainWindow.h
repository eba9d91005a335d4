#pragma once

#include "ai/OnnxInferencer.h"
#include "chrome/Theme.h"
#include "dialogs/NewProjectSpec.h"
#include "formats/ProgressCallback.h"
#include "model/Annotation.h"
#include "model/ImageEntry.h"
#include "model/Project.h"
#include "video/VideoDecoder.h"

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QShortcut;
class QTimer;

namespace Quillmark {

class AboutDialog;
class AnnotationPanel;
class FilmStrip;
class ImageListPanel;
class LabelCanvas;
class ShortcutsDialog;
class SideToolBar;
class StatsOverlay;
class ToolBar;
class TopBar;
class VideoScrubber;

// The program's one top-level window. It owns the open project and everything
// that lives as long as the process: bars, panels, canvas, dialogs, timers and
// the inference engines. Its commands are split over several source files by
// group: construction and layout (MainWindow.cpp), connections, menus and keys
// (MainWindowWiring.cpp), window chrome, theme and title, status and progress,
// project lifecycle, navigation, dataset editing, video, import/export and AI.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- Read-only views of the window's state ----------------------------------
    const Project &currentProject() const { return project; }
    QString currentProjectPath() const { return projectPath; }
    bool isModified() const { return modified; }
    int currentImage() const { return currentImageId; }
    bool isVideoMode() const { return videoMode; }
    Theme::Mode currentTheme() const { return themeMode; }
    // A background job (open, import, export) is running; project, import and
    // export commands wait for it.
    bool isJobRunning() const { return jobRunning; }

    // Builds a fresh project from the answers of the new-project wizard: the
    // steps of "New project" after the wizard was accepted.
    void createProject(const NewProjectSpec &spec);
    // Writes the project file (extracting embedded media first when needed).
    bool saveProjectTo(const QString &path);

    // The widgets, for the commands of other groups and for tests.
    LabelCanvas *labelCanvas() const { return canvas; }
    ImageListPanel *imageList() const { return imageListPanel; }
    AnnotationPanel *annotations() const { return annotationPanel; }
    FilmStrip *filmStripWidget() const { return filmStrip; }
    TopBar *topBarWidget() const { return topBar; }
    ToolBar *toolBarWidget() const { return toolBar; }
    SideToolBar *sideToolBarWidget() const { return sideToolBar; }
    StatsOverlay *statsOverlayWidget() const { return statsOverlay; }
    VideoScrubber *videoScrubberWidget() const { return videoScrubber; }
    QProgressBar *progressBarWidget() const { return progressBar; }
    QLabel *zoomLabelWidget() const { return zoomLabel; }
    QLabel *mediaNameLabelWidget() const { return mediaNameLabel; }
    QLabel *positionLabelWidget() const { return positionLabel; }
    QPushButton *labelsToggle() const { return labelsButton; }
    QPushButton *statsToggle() const { return statsButton; }
    QMenu *editMenuWidget() const { return editMenu; }
    QAction *undoMenuAction() const { return undoAction; }
    QAction *redoMenuAction() const { return redoAction; }
    ShortcutsDialog *shortcutsDialogWidget() const { return shortcutsDialog; }
    QList<QShortcut *> windowShortcuts() const { return shortcuts; }

    // Which progress post a worker sends (each job reports differently).
    enum class ProgressKind {
        ImageImport,
        DatasetImport,
        PackageImport,
        PackageExport,
        PackageBranchOfExport,
        DatasetExport,
    };
    // Shows one progress report of a job on the GUI thread.
    void applyProgress(ProgressKind kind, int current, int total, int offset = 0);
    // A callback for a worker: every report is posted to the GUI thread, where
    // applyProgress shows it. Safe to call from any thread.
    ProgressCallback progressPoster(ProgressKind kind, int offset = 0);

    // Progress and busy state around background jobs.
    void beginProgress(int maximum);
    void setBusy(bool busy);
    void endProgress();

public slots:
    // Project lifecycle
    void onNewProject();
    void onOpenProject();
    void onCloseProject();
    void onSaveProject();
    void onSaveProjectAs();
    // Import and export
    void onImportImages();
    void onDeleteImages(const QList<int> &imageIds);
    void onDeleteVideos(const QList<int> &videoIds);
    void onImportDataset();
    void onImportQuillPackage();
    void onExportQuillPackage();
    void onExportDataset();
    // Navigation
    void onImageSelected(int imageId);
    void onApprove();
    void onDiscard();
    void onPrev();
    void onNext();
    void applyTheme(Quillmark::Theme::Mode mode);
    // AI assistance
    void onAiToolSelected();
    void onAiRunCurrent();
    void onAiRunAll();
    void onSamEncode();
    void onSamAccept();
    void onSamClear();
    void onPoseToolSelected();
    void onPoseRunCurrent();
    void onPoseRunAll();
    void onPoseAccept();
    void onPoseClear();
    void onFaceToolSelected();
    void onFaceRunCurrent();
    void onFaceRunAll();
    void onFaceAccept();
    void onFaceClear();
    void onProjectTypeChangeRequested();
    void onClassRequired();
    void onSam3ModelsSelected();
    void onSam3Encode();
    void onSam3Detect(const QString &text, float presThr, float maskThr);
    void onSam3Preview(const QList<int> &indices);
    void onSam3Accept(const QList<int> &indices);
    void onSam3Clear();
    // Video
    void onImportVideo();
    void onVideoItemSelected(int videoId);
    void onVideoOpened(bool ok, const QString &error);
    void onVideoFrameReady(int frameIdx, const QImage &image);
    void onJumpBack();
    void onJumpForward();
    void onPlaySlideshow();
    void onSlideshowTick();

public:
    // Video mode, for tests.
    const VideoDecoder &videoDecoderObject() const { return videoDecoder; }
    QString temporaryVideoPath() const { return tempVideoPath; }
    bool isSlideshowPlaying() const { return slideshowPlaying; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Construction (MainWindow.cpp) and wiring (MainWindowWiring.cpp)
    void setupUi();
    QWidget *buildCanvasTopBar(QWidget *parent);
    void setupMenus();
    void setupShortcuts();
    void connectCanvasControls();
    void connectBars();
    void connectPanels();
    void connectCanvas();
    void addToolShortcut(int key, int tool);
    QShortcut *addShortcut(const QKeySequence &key, const std::function<void()> &action);
    void showAbout();
    void showShortcuts();
    void openSettings();
    void goToFirstItem();
    void goToLastItem();
    void onToolChanged(int tool);
    void onClassAdded(const QString &name, const QColor &color);
    void onClassRemoved(const QString &name);
    void onClassRenamed(const QString &oldName, const QString &newName);
    void onClassColorChanged(const QString &name, const QColor &color);
    void onCanvasEdited();
    void pushClassColors();
    void reloadShownEntry();
    void sendKeyToCanvas(int key);

    // Theme and title (MainWindowTheme.cpp)
    static Theme::Mode savedTheme();
    void updateTitle();

    // Status and progress (MainWindowProgress.cpp)
    void bounceStep();
    // True (with a status message) while a job runs: the caller then stops.
    bool refuseWhileJobRuns();
    void startJob();
    void finishJob();

    // Project lifecycle (MainWindowProject.cpp)
    bool confirmUnsavedChanges(const QString &verb);
    void onProjectLoaded(Project *loaded, bool ok, const QString &path);
    void replaceProject(const Project &fresh);
    void removeTempVideo();
    bool extractEmbeddedMedia(const QString &projectFilePath);
    bool needsMediaExtraction() const;

    // Navigation (MainWindowNavigation.cpp)
    void selectImage(int imageId);
    void onImageLoaded(int imageId, const QImage &image);
    void updateZoomLabel();
    int imagePosition(int imageId) const;
    void showImagePosition(int imageId);
    void refreshUi();
    void refreshStats();
    void refreshVideoFrameAnnotations();
    void inferProjectType();
    void applyDefaultTool();
    bool projectIsOpen() const;

    // Dataset editing (MainWindowEditing.cpp)
    void addClassFromInput();
    void onClassesSelected(const QStringList &names);
    void writeBackAnnotations();
    QList<Annotation> classificationAnnotations(const QStringList &names, const ImageEntry &entry) const;
    void syncClassesOf(const QList<Annotation> &labels);
    ImageEntry videoFrameEntry(int videoId, const QList<Annotation> &labels) const;
    void showNoImage();
    void clearCanvas();

    // Video (MainWindowVideo.cpp)
    void connectVideoDecoder();
    void setVideoMode(bool on);
    void resetVideoState();
    void leaveVideoModeForImage();
    void seekVideoFrame(int frame);
    void reshowCurrentFrame();
    void updateVideoMarkers(int videoId);
    void resetScrubber(int frameCount);
    void showFrameLabels(const VideoEntry &video, int frame);
    int lastVideoFrame() const;
    void stopSlideshow();
    void finishVideoImport(bool ok, const QString &error);
    void onVideoFrameFailed(int frame);
    bool locateVideo(VideoEntry &video);
    QString temporaryVideoFor(const VideoEntry &video);

    // Handlers of the AI requests (MainWindowAi.cpp)
    void handleSamPromptsChanged(const QList<QPointF> &positive, const QList<QPointF> &negative);

    friend class MainWindowTestAccess;

    // --- Members ----------------------------------------------------------------
    Project project;
    int currentImageId = -1;
    Theme::Mode themeMode = Theme::Light;
    QString projectPath;
    bool modified = false;
    QString tempVideoPath;
    bool resizing = false;
    int resizeEdges = 0;
    QPoint resizePressPos;
    QRect resizeStartGeometry;

    TopBar *topBar = nullptr;
    ToolBar *toolBar = nullptr;
    SideToolBar *sideToolBar = nullptr;
    LabelCanvas *canvas = nullptr;
    ImageListPanel *imageListPanel = nullptr;
    AnnotationPanel *annotationPanel = nullptr;
    FilmStrip *filmStrip = nullptr;

    OnnxInferencer detector;

    ShortcutsDialog *shortcutsDialog = nullptr;
    AboutDialog *aboutDialog = nullptr;
    QMenu *editMenu = nullptr;
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    QLabel *zoomLabel = nullptr;
    QPushButton *labelsButton = nullptr;
    QPushButton *statsButton = nullptr;
    VideoScrubber *videoScrubber = nullptr;
    QWidget *scrubberSpacer = nullptr;
    QLabel *mediaNameLabel = nullptr;
    QLabel *positionLabel = nullptr;
    StatsOverlay *statsOverlay = nullptr;
    QProgressBar *progressBar = nullptr;
    QTimer *busyTimer = nullptr;
    int busyValue = 0;
    int busyStep = 5;
    VideoDecoder videoDecoder;
    int currentVideoId = -1;
    int currentFrame = 0;
    // Frame index of the video frame the canvas shows, -1 when it shows an
    // image or nothing. Edits of a frame are written to this frame even when
    // another one has been requested since. Whatever puts a frame on the
    // canvas sets it; whatever shows an image or empties the canvas resets it.
    int displayedFrame = -1;
    bool videoMode = false;
    bool slideshowPlaying = false;
    bool videoImportPending = false;
    QTimer *slideshowTimer = nullptr;

    bool jobRunning = false;
    // The unsaved-changes flag when an open began. While the file is read the
    // flag counts only edits made meanwhile, which the opened project would
    // otherwise replace without a question.
    bool modifiedBeforeOpen = false;
    QList<QShortcut *> shortcuts;
    // Keys that act only in video mode (frame steps, slideshow).
    QList<QShortcut *> videoShortcuts;

    // The Define a Class dialog while it is open.
    QPointer<QDialog> classDialog;
    QLineEdit *classNameEdit = nullptr;
    QListWidget *classDialogList = nullptr;
    QPushButton *classDoneButton = nullptr;
};

} // namespace Quillmark
