#pragma once

#include "ai/AiBatchRun.h"
#include "ai/FaceInferencer.h"
#include "ai/ModelLoad.h"
#include "ai/OnnxInferencer.h"
#include "ai/PoseInferencer.h"
#include "ai/Sam3Detection.h"
#include "ai/Sam3Inferencer.h"
#include "ai/SamInferencer.h"
#include "chrome/Theme.h"
#include "dialogs/NewProjectSpec.h"
#include "formats/ProgressCallback.h"
#include "model/Annotation.h"
#include "model/ImageEntry.h"
#include "model/Project.h"
#include "model/ProjectFile.h"
#include "video/VideoDecoder.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QPolygonF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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
class AiAutoLabelDialog;
class AiRunPanel;
class AiSam3Dialog;
class AiSegDialog;
class FaceAnnotationDialog;
class PoseAnnotationDialog;
class AnnotationPanel;
class FilmStrip;
class ImageListPanel;
class LabelCanvas;
class PictureDecodeQueue;
class SettingsDialog;
class ShortcutsDialog;
class SideToolBar;
class StatsOverlay;
class ToolBar;
class TopBar;
class UpdateChecker;
struct AiToolWords;
class VideoScrubber;
struct MissingMedia;

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
    // The running job offers Cancel (the status bar shows the button).
    bool isJobCancellable() const;
    QPushButton *jobCancelButtonWidget() const { return jobCancelButton; }

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
    // Fit, 100%, zoom out and zoom in of the canvas bar.
    const QList<QPushButton *> &zoomButtonWidgets() const { return zoomButtons; }
    QLabel *mediaNameLabelWidget() const { return mediaNameLabel; }
    QLabel *positionLabelWidget() const { return positionLabel; }
    QPushButton *labelsToggle() const { return labelsButton; }
    QPushButton *statsToggle() const { return statsButton; }
    QMenu *editMenuWidget() const { return editMenu; }
    QAction *undoMenuAction() const { return undoAction; }
    QAction *redoMenuAction() const { return redoAction; }
    ShortcutsDialog *shortcutsDialogWidget() const { return shortcutsDialog; }
    QList<QShortcut *> windowShortcuts() const { return shortcuts; }

    // --- Auto-label and AI batch runs (MainWindowAutoLabel.cpp, MainWindowAiBatch.cpp)
    AiAutoLabelDialog *autoLabelDialog() const { return aiAutoLabelDialog; }
    OnnxInferencer &detectionEngine() { return detector; }
    // An AI run over images is in progress (it also holds the busy state of the
    // file jobs, isJobRunning()).
    bool isAiBatchRunning() const;
    // A model file of some AI tool is still opening on a worker.
    bool isModelLoading() const;
    // Stops the AI run in progress after the picture in work; nothing more is
    // applied. The run then reports what it did up to there.
    void cancelAiBatch();
    // Model files open on workers, one load per engine; a run waits for them.
    void connectModelLoads();
    bool isRunEngineLoading() const;

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
    void onProjectTypeChangeRequested();
    void onClassRequired();
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
    // Opens at the usual size, or smaller on a screen that cannot hold it.
    void fitToScreen();
    QWidget *buildCanvasTopBar(QWidget *parent);
    void showScrubberBar(bool show);
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

    // Keyboard focus (MainWindowFocus.cpp)
    void setupEditActions();
    void keepFocusOffButtons();
    // The line edit, text edit, spin box or editable combo box of this window
    // that has the focus, or null.
    QWidget *focusedTextField() const;
    void historyStep(bool forward);
    // Delete or Escape for the canvas, or for the text field typed in.
    void canvasKeyFromWindow(int key);
    // A list with a Delete of its own takes the key before the window's Delete.
    bool listKeepsKey(QObject *watched, QEvent *event) const;

    // Theme and title (MainWindowTheme.cpp)
    void updateTitle();

    // The update check and its banner (MainWindowSettings.cpp)
    void startUpdateCheck();
    // Notes the model paths of the settings as they are now; a later Settings
    // OK loads a model only when its path differs from the one noted.
    void rememberModelPaths();
    void showUpdateBanner(const QString &version, const QString &url);

    // Status and progress (MainWindowProgress.cpp)
    void bounceStep();
    // True (with a status message) while a job runs: the caller then stops.
    bool refuseWhileJobRuns();
    // Background jobs. startJob enters the busy state (the tool bar and the
    // image list wait) and returns the job's ticket. A job whose result may be
    // dropped passes `cancel`: the status bar then offers Cancel, which ends the
    // busy state at once and runs `cancel`; the job's worker may still be busy
    // (a read from a stalled network path), and when it finishes,
    // finishJob(ticket) returns false: the handler drops the result. Without
    // `cancel` the job cannot be cancelled, and closing the window waits for it.
    quint64 startJob(std::function<void()> cancel = {});
    // Ends the job of `ticket`; false, changing nothing, when it was cancelled.
    bool finishJob(quint64 ticket);
    // Ends the running job, whichever it is (jobs that cannot be cancelled).
    void finishJob();
    void cancelJob();
    void createJobCancelButton();

    // Import (MainWindowImport.cpp). Results of a worker reach the GUI thread
    // in the finish steps, which merge them into the project.
    struct ImportedImage {
        QString path;
        QSize size;
    };
    // Runs `work` on a worker thread in the busy state with `status` shown and
    // the progress bar started at `progressMaximum` (0: busy sweep), then
    // `then` on the GUI thread.
    void runInBackground(const QString &status, int progressMaximum, const std::function<void()> &work,
                         const std::function<void()> &then);
    void chooseImportFormat(const QString &folder, const QStringList &detected);
    void prepareDatasetImport(const QString &folder, const QString &format);
    void startDatasetImport(const QString &format, const QString &path);
    void finishDatasetImport(Dataset &imported, bool ok, int unreadableNames = 0,
                             const QString &whyFailed = QString());
    // Tells which images and videos of an open or import have no pictures
    // (their files are not there); nothing when all are there.
    void warnOfMissingMedia(const MissingMedia &missing);
    void onImagesImported(const QList<ImportedImage> &images);
    void finishPackageImport(Dataset &imported, bool ok, const QString &path, const QString &storedType);
    // The project holds nothing a user made (no type, file, media or classes):
    // an import may start it afresh.
    bool projectIsBlank() const;

    // Project lifecycle (MainWindowProject.cpp)
    bool confirmUnsavedChanges(const QString &verb);
    // A project whose type became pose or face takes that type's keypoints.
    void applyKeypointTemplateOf(const QString &type);
    // Takes the opened project; `missing` are its media whose files are gone.
    // `failure` says why the file could not be read.
    void onProjectLoaded(Project *loaded, bool ok, const QString &path, const QString &failure = {});
    void checkMediaInBackground();
    void replaceProject(const Project &fresh);
    void removeTempVideo();
    bool extractEmbeddedMedia(const QString &projectFilePath);
    bool needsMediaExtraction() const;

    // Navigation (MainWindowNavigation.cpp)
    void selectImage(int imageId);
    // Shows the image and makes its row of the list current (no signal).
    void showListedImage(int imageId);
    // The image `step` images after (1) or before (-1) the current one among
    // those the Files list shows, cyclic; -1 when it shows none.
    int listedImageAfter(int step) const;
    // The first or last image the Files list shows; -1 when it shows none.
    int firstListedImage(bool last = false) const;
    void stepListedImage(int step);
    // The list's current row follows what the canvas shows (or is to show).
    void syncListWithCanvas();
    // The film strip holds the images the Files list shows.
    void refreshFilmStrip();
    void onListFilterChanged();
    // Pixels of `loaded` decoded by a worker for the project of `generation`.
    void onImageLoaded(const ImageEntry &loaded, quint64 generation, const QImage &image);
    void updateZoomLabel();
    int imagePosition(int imageId) const;
    void showImagePosition(int imageId);
    // Whether the class list already holds every class the annotations use.
    enum class ClassSync { Needed, Done };
    void refreshUi(ClassSync classes = ClassSync::Needed);
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
    // The whole-picture box of a class tag on the entry.
    QRectF classTagBox(const ImageEntry &entry) const;
    // The entry's list with its class tags replaced by tags of `names`; its
    // other annotations are kept.
    QList<Annotation> relabelledWith(const QStringList &names, const ImageEntry &entry) const;
    // Bulk assignment to the images selected in the list, after a question.
    void assignClassesToImages(const QStringList &names, const QList<int> &selected);
    void syncClassesOf(const QList<Annotation> &labels);
    ImageEntry videoFrameEntry(int videoId, const QList<Annotation> &labels) const;
    void showNoImage();
    void clearCanvas();
    // The canvas gave up a shape being placed, or refused a press where no
    // picture is shown: the status bar says so.
    void tellUnfinishedShapeDropped(int kind, int points);
    void tellNothingToDrawOn();

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
    void reopenVideoAt(int videoId, int frame);
    void takeFileFrameCount(VideoEntry &video, int decoded);
    void onVideoFrameFailed(int frame);
    bool locateVideo(VideoEntry &video);
    QString temporaryVideoFor(const VideoEntry &video);

    // Export (MainWindowExport.cpp). A dataset export first takes the annotated
    // video frames (on the GUI thread, driven by the decoder's answers), then runs
    // the export job on a worker; the package export runs the package writer on a
    // worker. Both hold the busy state of the file jobs from start to finish.
    struct DatasetExportRun;
    bool confirmExportFolder(const QString &outputPath);
    void extractFramesThenExport(const std::shared_ptr<DatasetExportRun> &run);
    void startDatasetExportWorker(const std::shared_ptr<DatasetExportRun> &run);
    void finishDatasetExport(DatasetExportRun &run);
    void finishPackageExport(bool ok, int images, int videos, const QString &path);

    // Auto-label (MainWindowAutoLabel.cpp)
    void handleDetectionModelSelected(const QString &path);
    void finishDetectionModelLoad(const QString &path, OnnxInferencer *engine);
    // The dialog shows the engine's model (after a load or a cancelled one).
    void showDetectionModel();
    void finishAutoLabelRunCurrent(const AiBatchRun::Summary &summary, int imageId, const AiToolWords &words,
                                   bool appliedElsewhere);
    void connectAutoLabelDialog();
    void resetAiTool();
    // Shows and raises the auto-label dialog; the tool goes back to Select.
    void showAutoLabelDialog();
    // A click or concept segmentation model is at hand (configured, or in
    // the models folder).
    bool promptSegmentationModelAvailable();

    // AI batch runs (MainWindowAiBatch.cpp), shared by the run commands of every
    // engine. runAiBatch starts `task` over its images on a worker thread: the
    // window stays usable, the project, import and export commands and the image
    // list wait (the busy state of the file jobs), and the status bar's progress
    // bar counts the images; then the task's own `finished` runs. Refused, with a
    // status text, while another job runs. Results applied to the entry the canvas
    // shows should go through addAnnotationsToImage.
    bool runAiBatch(AiBatchRun::Task task);
    // Starts `task` for an AI tool's panel: its run buttons wait, its bar counts
    // the images when `countImages`, and the status bar shows `runningText`.
    // False when it cannot start; the panel is then as it was.
    bool startAiRun(AiBatchRun::Task task, AiRunPanel *panel, const QString &runningText, bool countImages);
    // The end of a tool's run over all images: the classes, the panels and the
    // modified flag follow what was added; the status bar shows `doneText` (or
    // how far a cancelled run came) with what the run left undone, and engine
    // failures are also told in a message box.
    void finishAiRunOverAll(const AiBatchRun::Summary &summary, AiRunPanel *panel, const AiToolWords &words,
                            const QString &doneText, int timeout);
    // Tells why a run on the current image has nothing to show (stopped, the
    // image gone or unreadable, the engine failed); false when it has.
    bool reportAiRunCurrentShortfall(const AiBatchRun::Summary &summary, const AiToolWords &words);
    QList<int> allImageIds() const;
    // Appends annotations to an image's record (no undo step); when the canvas
    // shows that image, its list follows. Returns the number added.
    int addAnnotationsToImage(ImageEntry &entry, const QList<Annotation> &annotations);
    // The canvas shows this image (not a video frame), so edits go to it.
    bool isImageShown(int imageId) const;

    // --- Face and pose (MainWindowFacePose.cpp) -----------------------------------
    // Face and pose results of the current image wait on the canvas as pending
    // annotations until accepted; they belong to the image they were computed
    // for and go when the canvas shows another. Runs over all images write into
    // every image's record.
public:
    FaceAnnotationDialog *faceAnnotationDialog() const { return faceDialog; }
    PoseAnnotationDialog *poseAnnotationDialog() const { return poseDialog; }
    FaceInferencer &faceEngine() { return faceInferencer; }
    PoseInferencer &poseEngine() { return poseInferencer; }
    QList<FaceDetection> pendingFaceResults() const { return pendingFaces; }
    QList<PosePerson> pendingPoseResults() const { return pendingPersons; }

public slots:
    void onFaceToolSelected();
    void onFaceRunCurrent();
    void onFaceRunAll();
    void onFaceAccept();
    void onFaceClear();
    void onPoseToolSelected();
    void onPoseRunCurrent();
    void onPoseRunAll();
    void onPoseAccept();
    void onPoseClear();

private:
    void connectFacePoseDialogs();
    // After Settings were accepted: the configured body and face models go to
    // the pose and face dialogs, which load them.
    void pushConfiguredFacePoseModels();
    void handleFaceModelSelected(const QString &path);
    void handlePoseModelSelected(const QString &path);
    void finishFaceModelLoad(const QString &path, FaceInferencer *engine);
    void finishPoseModelLoad(const QString &path, PoseInferencer *engine);
    void showFaceModel();
    void showPoseModel();
    void showPendingPoseResults(int personIdx, int kpIdx, int newVis);
    // The end of a run on the current image whose results wait for review.
    void finishPreviewRun(const AiBatchRun::Summary &summary, bool changedMeanwhile, AiRunPanel *panel,
                          const AiToolWords &words, const QString &doneText);
    // The canvas dropped its pending annotations (another image is shown).
    void dropPendingFacePose();
    // Puts the results of one tool on the canvas; the other tool's go.
    void showPendingFaces(const QList<FaceDetection> &faces);
    void showPendingPersons(const QList<PosePerson> &persons);
    void forgetPendingFaces();
    void forgetPendingPersons();
    // The image of a run on the current image, or null with the tool's message.
    const ImageEntry *imageForRunCurrent(const QString &toolPrefix);

    FaceInferencer faceInferencer;
    PoseInferencer poseInferencer;
    FaceAnnotationDialog *faceDialog = nullptr;
    PoseAnnotationDialog *poseDialog = nullptr;
    QList<FaceDetection> pendingFaces;
    QList<PosePerson> pendingPersons;

    friend class MainWindowTestAccess;

    // --- Members ----------------------------------------------------------------
    Project project;
    // Counts the projects this window has held; work started for one project
    // (an image load) is dropped when it returns to another.
    quint64 projectGeneration = 0;
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

    // Auto-label and AI batch runs. The runner stops its worker before the
    // engines go (see the destructor).
    AiAutoLabelDialog *aiAutoLabelDialog = nullptr;
    std::unique_ptr<AiBatchRun> aiBatch;
    ModelLoad detectorLoad;
    ModelLoad faceLoad;
    ModelLoad poseLoad;
    ModelLoad samLoad;
    ModelLoad sam3Load;

    ShortcutsDialog *shortcutsDialog = nullptr;
    AboutDialog *aboutDialog = nullptr;
    SettingsDialog *settingsDialog = nullptr;
    UpdateChecker *updateChecker = nullptr;
    // The status bar's note of a newer release, once one was announced.
    QLabel *updateBanner = nullptr;
    QMenu *editMenu = nullptr;
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    QLabel *zoomLabel = nullptr;
    QList<QPushButton *> zoomButtons;
    QPushButton *labelsButton = nullptr;
    QPushButton *statsButton = nullptr;
    VideoScrubber *videoScrubber = nullptr;
    // The row under the canvas controls that holds the scrubber and the frame
    // counter in video mode; where the counter stands among the controls.
    QWidget *scrubberBar = nullptr;
    struct {
        QLayout *layout = nullptr;
        int index = 0;
    } positionLabelSlot;
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
    // Ticket of the latest job, and the running job's cancel step (empty when
    // it cannot be cancelled).
    quint64 jobTicket = 0;
    std::function<void()> jobCancel;
    QPushButton *jobCancelButton = nullptr;
    // The unsaved-changes flag when an open began. While the file is read the
    // flag counts only edits made meanwhile, which the opened project would
    // otherwise replace without a question.
    bool modifiedBeforeOpen = false;
    // Decodes of selected images' pictures, a few at a time (made on first use).
    PictureDecodeQueue *pictureDecodes = nullptr;
    // What the open worker reads a project file with; tests stage a stalled
    // read (a hung network share) through it. Like readProjectFile, it leaves
    // every class the annotations use in the class list.
    std::function<bool(Project &, const QString &, QString *problem)> projectFileReader = readProjectFile;
    QList<QShortcut *> shortcuts;
    // The model paths of the settings when last seen (start, or Settings OK).
    QHash<QString, QString> knownModelPaths;
    // Keys that act only in video mode (frame steps, slideshow).
    QList<QShortcut *> videoShortcuts;

    // The Define a Class dialog while it is open.
    QPointer<QDialog> classDialog;
    QLineEdit *classNameEdit = nullptr;
    QListWidget *classDialogList = nullptr;
    QPushButton *classDoneButton = nullptr;

    // --- Segmentation prompts (MainWindowSam.cpp) ---------------------------------
    // Click segmentation with a point-prompt model (a tab of the auto-label
    // dialog) and concept segmentation with a text prompt (a tool window of its
    // own): engines, dialogs, commands. An encoding, a preview and the held
    // concept detections belong to the image they were computed for; after
    // another image is shown they are not used on it.
public:
    AiSegDialog *segmentationDialog() const { return aiSegDialog; }
    AiSam3Dialog *conceptDialog() const { return sam3Dialog; }
    SamInferencer &pointPromptEngine() { return samInferencer; }
    Sam3Inferencer &conceptEngine() { return sam3Inferencer; }
    QList<Sam3Detection> conceptResults() const { return sam3Results; }

public slots:
    void onSamEncode();
    void onSamAccept();
    void onSamClear();
    void onSam3ModelsSelected();
    void finishSam3ModelLoad(Sam3Inferencer *engine, bool ok);
    void onSam3Encode();
    void onSam3Detect(const QString &text, float presThr, float maskThr);
    void onSam3Preview(const QList<int> &indices);
    void onSam3Accept(const QList<int> &indices);
    void onSam3Clear();

private:
    // The image an encoding was made for: its id and file.
    struct SegmentedImage {
        int id = -1;
        QString filePath;
    };

    void createSegmentationDialogs();
    void connectSegmentationPrompts();
    void handleSamEncoderSelected(const QString &path);
    void finishSamModelLoad(const QString &path, SamInferencer *engine, bool ok);
    // A cancelled load leaves the engine's model in place.
    void showSamModel();
    void showSam3Model();
    void handleSamPromptsChanged(const QList<QPointF> &positive, const QList<QPointF> &negative);
    // The auto-label dialog hid or left the click-segmentation tab.
    void leaveSamMode();
    // Another project was opened or created, or the project closed: the
    // encodings and detections belong to the old one's pictures.
    void forgetSegmentationResults();
    void showSegmentationTab();
    void showConceptDialog();
    // The image entry the canvas shows, when it shows one (not a video frame,
    // not an image whose pixels are still loading).
    const ImageEntry *shownImageEntry() const;
    SegmentedImage segmentedImageOf(const ImageEntry &entry) const;
    // The image is still the one the canvas shows.
    bool isStillShown(const SegmentedImage &image) const;
    // The shown image's pixels for an encoding, and which image they are; null
    // after telling the user why there are none (no image, no model, unreadable).
    QImage pixelsToEncode(const QString &title, bool modelReady, const QString &noModelText,
                          const QString &unreadableText, SegmentedImage &image);
    // Outline of held concept detection `index` (traced once, then kept).
    QPolygonF conceptOutline(int index);

    SamInferencer samInferencer;
    Sam3Inferencer sam3Inferencer;
    AiSegDialog *aiSegDialog = nullptr;
    AiSam3Dialog *sam3Dialog = nullptr;
    SegmentedImage samEncodedImage;
    SegmentedImage sam3EncodedImage;
    // The last prompt's detections, the image they belong to, and their traced
    // outlines by index.
    QList<Sam3Detection> sam3Results;
    SegmentedImage sam3ResultsImage;
    QHash<int, QPolygonF> sam3Outlines;
};

} // namespace Quillmark
