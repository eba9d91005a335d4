#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "model/Version.h"
#include "canvas/LabelCanvas.h"
#include "canvas/StatsOverlay.h"
#include "chrome/ElidedLabel.h"
#include "chrome/ScreenFitter.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/SettingsDialog.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

QPushButton *compactButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("compactButton"));
    button->setFixedHeight(24);
    return button;
}

QLabel *mutedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("mutedLabel"));
    return label;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Quillmark %1").arg(QLatin1String(appVersion)));
    fitToScreen();

    // Dialogs and tool windows open inside the screen, however small it is.
    ScreenFitter::install();
    themeMode = SettingsDialog::savedTheme();
    rememberModelPaths();
    setStyleSheet(buildAppStyleSheet(themeMode));

    setupMenus();
    menuBar()->hide();
    setupUi();
    applyTheme(themeMode);
    setupShortcuts();
    toolBar->setPlaybackEnabled(false);
    // Through the canvas: while a shape is being placed, undo takes back its
    // last point instead of the previous finished step.
    connect(toolBar, &ToolBar::undoClicked, canvas, &LabelCanvas::undo);
    connect(toolBar, &ToolBar::redoClicked, canvas, &LabelCanvas::redo);
    connect(canvas, &LabelCanvas::historyAvailabilityChanged, toolBar, &ToolBar::setHistoryAvailable);

    refreshUi();
    updateTitle();
    statusBar()->showMessage(QStringLiteral("Ready"));
    startUpdateCheck();
}

MainWindow::~MainWindow()
{
    // An AI run's worker uses an engine member: it stops before they go.
    aiBatch.reset();
    // A packaged video's temporary copy goes with the window, also when it is
    // destroyed without being closed.
    removeTempVideo();
    // The children hold no pointers back into the members destroyed here; the
    // canvas must not report edits while the base class deletes the widgets.
    if (canvas)
        canvas->disconnect(this);
}

void MainWindow::fitToScreen()
{
    // The window is frameless: a part beyond the screen's edge, its own
    // buttons included, could not be reached. It opens at its usual size where
    // that fits the screen's free area, else at that area, and inside it.
    const QSize preferred(1440, 860);
    const QSize smallest(1040, 640);
    const QScreen *shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shownOn) {
        resize(preferred);
        setMinimumSize(smallest);
        return;
    }
    const QRect available = shownOn->availableGeometry();
    setMinimumSize(smallest.boundedTo(available.size()));
    resize(preferred.boundedTo(available.size()));
    QRect placed(QPoint(0, 0), size());
    placed.moveCenter(available.center());
    move(placed.topLeft());
}

void MainWindow::setupUi()
{
    topBar = new TopBar(this);
    toolBar = new ToolBar(this);
    sideToolBar = new SideToolBar(this);
    canvas = new LabelCanvas(this);
    imageListPanel = new ImageListPanel(this);
    annotationPanel = new AnnotationPanel(this);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setHandleWidth(1);

    auto *leftPane = new QWidget(splitter);
    leftPane->setObjectName(QStringLiteral("leftPane"));
    auto *leftLayout = new QHBoxLayout(leftPane);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    leftLayout->addWidget(sideToolBar, 0);
    leftLayout->addWidget(imageListPanel, 1);
    splitter->addWidget(leftPane);

    auto *centerPane = new QWidget(splitter);
    centerPane->setObjectName(QStringLiteral("centerPane"));
    auto *centerLayout = new QVBoxLayout(centerPane);
    centerLayout->setContentsMargins(0, 0, 0, 0);
    centerLayout->setSpacing(0);
    centerLayout->addWidget(buildCanvasTopBar(centerPane), 0);
    centerLayout->addWidget(scrubberBar, 0);
    connectCanvasControls();
    connectBars();
    connectPanels();

    filmStrip = new FilmStrip(centerPane);
    connect(filmStrip, &FilmStrip::imageSelected, this, [this](int id) {
        onImageSelected(id);
        // The image list follows a choice made on the strip.
        imageListPanel->selectImage(id);
    });
    centerLayout->addWidget(canvas, 1);
    centerLayout->addWidget(filmStrip, 0);
    splitter->addWidget(centerPane);

    statsOverlay = new StatsOverlay(canvas);
    statsOverlay->raise();
    canvas->installEventFilter(this);
    QTimer::singleShot(0, statsOverlay, [overlay = statsOverlay] { overlay->reposition(); });
    connectCanvas();

    splitter->addWidget(annotationPanel);
    // The left pane is as wide as the tool strip and the image list together.
    splitter->setSizes({leftPane->sizeHint().width(), 900, 270});
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);

    auto *central = new QWidget(this);
    central->setCursor(Qt::ArrowCursor);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);
    centralLayout->addWidget(topBar, 0);
    centralLayout->addWidget(toolBar, 0);
    centralLayout->addWidget(splitter, 1);
    setCentralWidget(central);

    progressBar = new QProgressBar(this);
    progressBar->setFixedHeight(16);
    progressBar->setMinimumWidth(80);
    progressBar->setMaximumWidth(120);
    progressBar->setTextVisible(true);
    progressBar->hide();
    statusBar()->addPermanentWidget(progressBar, 0);
    createJobCancelButton();

    aiAutoLabelDialog = new AiAutoLabelDialog(this);
    connectAutoLabelDialog();
    createSegmentationDialogs();
    faceDialog = new FaceAnnotationDialog(this);
    poseDialog = new PoseAnnotationDialog(this);
    connectFacePoseDialogs();
    connectModelLoads();

    slideshowTimer = new QTimer(this);
    slideshowTimer->setSingleShot(false);
    connect(slideshowTimer, &QTimer::timeout, this, &MainWindow::onSlideshowTick);
    connectVideoDecoder();

    setupEditActions();
    keepFocusOffButtons();
}

QWidget *MainWindow::buildCanvasTopBar(QWidget *parent)
{
    auto *bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("canvasTopBar"));
    bar->setFixedHeight(38);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(6);

    // The scrubber has a row of its own under the controls, shown with it in
    // video mode: beside the name and the buttons it would get a sliver of a
    // narrow window, and the name little more.
    scrubberBar = new QWidget(parent);
    scrubberBar->setObjectName(QStringLiteral("scrubberBar"));
    scrubberBar->setFixedHeight(30);
    auto *scrubberLayout = new QHBoxLayout(scrubberBar);
    scrubberLayout->setContentsMargins(8, 0, 8, 2);
    videoScrubber = new VideoScrubber(scrubberBar);
    scrubberLayout->addWidget(videoScrubber, 1);
    scrubberBar->hide();
    videoScrubber->setRange(0, 0);
    videoScrubber->setValue(0);
    videoScrubber->setEnabled(false);
    videoScrubber->hide();
    videoScrubber->setToolTip(QStringLiteral("Frame position — annotated frames shown as green ticks"));
    videoScrubber->setMinimumWidth(120);

    scrubberSpacer = new QWidget(bar);
    scrubberSpacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    // A long file name gives way to the controls beside it.
    mediaNameLabel = new ElidedLabel(bar);
    mediaNameLabel->setObjectName(QStringLiteral("mutedLabel"));
    positionLabel = mutedLabel(QString(), bar);

    auto *fitButton = compactButton(QStringLiteral("Fit"), bar);
    auto *actualButton = compactButton(QStringLiteral("100%"), bar);
    auto *zoomInButton = compactButton(QStringLiteral("\uFF0B"), bar);
    auto *zoomOutButton = compactButton(QStringLiteral("\uFF0D"), bar);
    // Enabled while the canvas shows a picture.
    zoomButtons = {fitButton, actualButton, zoomOutButton, zoomInButton};
    for (QPushButton *button : std::as_const(zoomButtons))
        button->setEnabled(false);

    labelsButton = compactButton(QStringLiteral("Labels"), bar);
    labelsButton->setCheckable(true);
    labelsButton->setChecked(true);
    labelsButton->setToolTip(QStringLiteral("Toggle label tags  [L]"));
    statsButton = compactButton(QStringLiteral("Stats"), bar);
    statsButton->setCheckable(true);
    statsButton->setChecked(true);
    statsButton->setToolTip(QStringLiteral("Toggle dataset statistics overlay"));

    zoomLabel = mutedLabel(QStringLiteral("100%"), bar);
    zoomLabel->setFixedWidth(42);
    zoomLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // The name takes the room the buttons leave, with the spacer outside
    // video mode and alone in it, so that the buttons keep their own width.
    layout->addWidget(mediaNameLabel, 1);
    layout->addSpacing(8);
    layout->addWidget(scrubberSpacer, 1);
    layout->addSpacing(8);
    positionLabelSlot = {layout, layout->count()};
    layout->addWidget(positionLabel);
    layout->addSpacing(8);
    layout->addWidget(labelsButton);
    layout->addWidget(statsButton);
    layout->addSpacing(4);
    layout->addWidget(fitButton);
    layout->addWidget(actualButton);
    layout->addWidget(zoomOutButton);
    layout->addWidget(zoomLabel);
    layout->addWidget(zoomInButton);

    videoScrubber->installEventFilter(this);

    connect(fitButton, &QPushButton::clicked, canvas, &LabelCanvas::fitToWindow);
    connect(actualButton, &QPushButton::clicked, canvas, &LabelCanvas::zoomActualSize);
    connect(zoomInButton, &QPushButton::clicked, canvas, &LabelCanvas::zoomIn);
    connect(zoomOutButton, &QPushButton::clicked, canvas, &LabelCanvas::zoomOut);
    return bar;
}

void MainWindow::showScrubberBar(bool show)
{
    // The frame counter goes with the scrubber, right of it, and leaves the
    // row of controls to the video's name; back beside the buttons after.
    auto *controls = static_cast<QBoxLayout *>(positionLabelSlot.layout);
    auto *scrubberRow = static_cast<QBoxLayout *>(scrubberBar->layout());
    if (show)
        scrubberRow->addWidget(positionLabel);
    else
        controls->insertWidget(positionLabelSlot.index, positionLabel);
    scrubberBar->setVisible(show);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == canvas && event->type() == QEvent::Resize && statsOverlay)
        statsOverlay->reposition();
    // The scrubber's row comes and goes with the scrubber (video mode).
    if (watched == videoScrubber && scrubberBar
        && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        showScrubberBar(event->type() == QEvent::ShowToParent);
    if (listKeepsKey(watched, event)) {
        event->accept();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace Quillmark
