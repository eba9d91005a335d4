// Walks through the AI tools in the real main window as a user does, and takes
// a screenshot of every AI dialog open over the window, for a person to look
// at. Run under an X server (scripts/screenshot-ai-tools.sh starts one with
// xvfb-run and lays out the models folder and the pictures):
//
//   ai_tools_tour <pictures folder> <output folder> <light|dark>
//
// The working folder must hold the "models" folder. For each project type
// (detection, segmentation, face, pose) the tour opens a project of the
// pictures, opens the tool, runs it on the current image and on all images,
// accepts, undoes, saves and opens the project again, and prints what it saw;
// a step that does not do what a user expects ends the tour with exit code 1.

#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextStream>
#include <QTreeWidget>
#include <QUndoStack>

using namespace Quillmark;

namespace {

QTextStream out(stdout);
int failures = 0;

void say(const QString &line)
{
    out << line << Qt::endl;
}

void check(bool ok, const QString &what)
{
    say((ok ? QStringLiteral("  ok    ") : QStringLiteral("  FAIL  ")) + what);
    if (!ok)
        ++failures;
}

QPushButton *button(QWidget *parent, const QString &text)
{
    for (QPushButton *b : parent->findChildren<QPushButton *>()) {
        if (b->text() == text && b->isVisible())
            return b;
    }
    say(QStringLiteral("  FAIL  no visible button \"%1\" in %2").arg(text, parent->windowTitle()));
    ++failures;
    return nullptr;
}

void click(QWidget *parent, const QString &text)
{
    QPushButton *b = button(parent, text);
    if (!b)
        return;
    check(b->isEnabled(), QStringLiteral("\"%1\" is enabled").arg(text));
    if (b->isEnabled())
        QTest::mouseClick(b, Qt::LeftButton);
}

QString statusOf(QWidget *dialog)
{
    const QLabel *label = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
    return label ? label->text() : QString();
}

class Tour {
public:
    Tour(const QString &pictures, const QString &output, Theme::Mode mode)
        : picturesDir(pictures), outputDir(output), theme(mode)
    {
        Prompts::setOverride(&prompts);
    }
    ~Tour() { Prompts::setOverride(nullptr); }

    void detection();
    void segmentation();
    void face();
    void pose();

private:
    void openProject(const QString &type, const QString &name);
    void shoot(const QString &name);
    void waitForRun(const QString &what);
    void chooseTool(Tool tool) { window->sideToolBarWidget()->button(int(tool))->click(); }
    void place(QWidget *dialog);
    int annotationCount() const;
    int shownCount() const { return int(window->labelCanvas()->annotations().size()); }
    void undoOnce(const QString &what);
    void saveAndReopen();
    void settle(int ms = 300) { QTest::qWait(ms); }

    QString picturesDir;
    QString outputDir;
    Theme::Mode theme;
    QTemporaryDir projects;
    QmTest::ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowTestAccess> access;
    QString type;
};

void Tour::openProject(const QString &projectType, const QString &name)
{
    access.reset();
    window = std::make_unique<MainWindow>();
    access = std::make_unique<MainWindowTestAccess>(*window);
    type = projectType;
    say(QStringLiteral("== %1 project (%2)").arg(name, projectType));
    Project &project = access->project();
    project.name = name;
    project.projectType = projectType;
    const QFileInfoList files = QDir(picturesDir).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QSize size = QImageReader(file.absoluteFilePath()).size();
        ImageEntry entry;
        entry.filePath = file.absoluteFilePath();
        entry.width = size.width();
        entry.height = size.height();
        project.dataset.addImage(entry);
    }
    access->refreshUi();
    access->updateTitle();
    window->applyTheme(theme);
    // The window's own size, as large as the screen allows.
    const QRect screen = window->screen()->availableGeometry();
    window->setGeometry(QRect(screen.topLeft(), QSize(1440, 860).boundedTo(screen.size())));
    window->show();
    check(QTest::qWaitForWindowExposed(window.get()), QStringLiteral("the window is shown"));
    check(QTest::qWaitFor([this] { return window->labelCanvas()->displayedEntryId().has_value(); }, QmTest::patienceMs),
          QStringLiteral("a picture is shown"));
    check(window->labelCanvas()->displayedEntryId() == project.dataset.images.constFirst().id,
          QStringLiteral("%1 pictures, the first one shown").arg(files.size()));
}

void Tour::place(QWidget *dialog)
{
    // At the right edge of the screen, over the window's right panel, where a
    // user drags a tool window to keep the picture in sight.
    settle();
    const QRect screen = window->screen()->availableGeometry();
    dialog->move(screen.right() - dialog->frameGeometry().width() - 8,
                 std::max(screen.top(), std::min(110, screen.bottom() - dialog->frameGeometry().height() - 8)));
    settle();
}

void Tour::shoot(const QString &name)
{
    settle();
    const QString path = QDir(outputDir).filePath(
        QStringLiteral("%1-%2.png").arg(name, theme == Theme::Dark ? QStringLiteral("dark") : QStringLiteral("light")));
    const QPixmap shot = window->screen()->grabWindow(0);
    check(shot.save(path), QStringLiteral("screenshot %1").arg(QFileInfo(path).fileName()));
}

void Tour::waitForRun(const QString &what)
{
    const bool ended = QTest::qWaitFor([this] { return !window->isAiBatchRunning(); }, QmTest::patienceMs);
    check(ended, what + QStringLiteral(" ended"));
    settle(100);
    say(QStringLiteral("        status: \"%1\"").arg(window->statusBar()->currentMessage()));
}

int Tour::annotationCount() const
{
    int n = 0;
    for (const ImageEntry &image : access->project().dataset.images)
        n += int(image.labels.size());
    return n;
}

void Tour::undoOnce(const QString &what)
{
    QUndoStack *stack = window->labelCanvas()->undoStack();
    const int before = shownCount();
    check(stack->canUndo(), QStringLiteral("undo offered: \"%1\"").arg(stack->undoText()));
    stack->undo();
    settle(100);
    check(shownCount() < before,
          QStringLiteral("undo takes back %1 (%2 -> %3 on the canvas)").arg(what).arg(before).arg(shownCount()));
    const ImageEntry *entry =
        access->project().dataset.imageById(window->labelCanvas()->displayedEntryId().value_or(-1));
    check(entry && entry->labels.size() == shownCount(), QStringLiteral("the record follows the undo"));
}

void Tour::saveAndReopen()
{
    const int count = annotationCount();
    const QString path = projects.filePath(type + QStringLiteral(".qmk"));
    prompts.answers.enqueue(path);
    emit window->toolBarWidget()->saveProjectClicked();
    check(QFileInfo::exists(path) && !access->modified(),
          QStringLiteral("saved as %1").arg(QFileInfo(path).fileName()));

    prompts.answers.enqueue(path);
    emit window->toolBarWidget()->openProjectClicked();
    check(QTest::qWaitFor([this] { return !window->isJobRunning(); }, QmTest::patienceMs), QStringLiteral("the project opens"));
    settle();
    check(annotationCount() == count,
          QStringLiteral("reopened with the same %1 annotation(s) (now %2)").arg(count).arg(annotationCount()));
    check(access->project().projectType == type, QStringLiteral("reopened as a %1 project").arg(type));
}

void Tour::detection()
{
    QSettings().setValue(QStringLiteral("models/detection"),
                         QDir::current().absoluteFilePath(QStringLiteral("models/detection/yolov8n.onnx")));
    openProject(QStringLiteral("object_detection"), QStringLiteral("Street detection"));
    chooseTool(Tool::AiLabel);
    AiAutoLabelDialog *dialog = window->autoLabelDialog();
    check(dialog->isVisible(), QStringLiteral("the AI tool opens \"%1\"").arg(dialog->windowTitle()));
    check(QTest::qWaitFor([this] { return !window->isModelLoading(); }, QmTest::patienceMs), QStringLiteral("the model loads"));
    check(window->detectionEngine().isLoaded(), QStringLiteral("the configured detector is loaded"));
    place(dialog);
    shoot(QStringLiteral("autolabel-detection"));

    click(dialog, QStringLiteral("Run on Current Image"));
    waitForRun(QStringLiteral("run on the current image"));
    const int found = shownCount();
    check(found > 0, QStringLiteral("%1 box(es) on the canvas").arg(found));
    check(window->labelCanvas()->undoStack()->count() == found, QStringLiteral("one undo step per box"));
    undoOnce(QStringLiteral("one box"));

    click(dialog, QStringLiteral("Run on All Images"));
    waitForRun(QStringLiteral("run on all images"));
    check(annotationCount() > found, QStringLiteral("%1 annotation(s) over all images").arg(annotationCount()));
    check(access->modified(), QStringLiteral("the project is modified"));
    shoot(QStringLiteral("autolabel-detection-done"));
    saveAndReopen();
}

void Tour::segmentation()
{
    QSettings().setValue(QStringLiteral("models/segmentation"),
                         QDir::current().absoluteFilePath(QStringLiteral("models/segmentation/yolov8n-seg.onnx")));
    openProject(QStringLiteral("segmentation"), QStringLiteral("Street segmentation"));
    chooseTool(Tool::AiLabel);
    AiAutoLabelDialog *dialog = window->autoLabelDialog();
    check(dialog->isVisible(), QStringLiteral("the AI tool opens \"%1\"").arg(dialog->windowTitle()));
    check(QTest::qWaitFor([this] { return !window->isModelLoading(); }, QmTest::patienceMs), QStringLiteral("the model loads"));
    check(window->detectionEngine().isLoaded() && window->detectionEngine().isSegmentation(),
          QStringLiteral("the configured segmentation model is loaded"));
    place(dialog);
    shoot(QStringLiteral("autolabel-segmentation"));

    click(dialog, QStringLiteral("Run on Current Image"));
    waitForRun(QStringLiteral("run on the current image"));
    const QList<Annotation> shown = window->labelCanvas()->annotations();
    check(!shown.isEmpty() && shown.constFirst().kind == Polygon,
          QStringLiteral("%1 polygon(s) on the canvas").arg(shown.size()));
    undoOnce(QStringLiteral("one polygon"));

    // Click segmentation, the second tab.
    auto *tabs = dialog->findChild<QTabWidget *>();
    tabs->setCurrentIndex(1);
    AiSegDialog *panel = window->segmentationDialog();
    settle();
    check(window->pointPromptEngine().decoderReady(),
          QStringLiteral("the point-prompt model is loaded: \"%1\"").arg(statusOf(panel)));
    shoot(QStringLiteral("clickseg"));
    click(panel, QStringLiteral("Encode Current Image"));
    settle();
    check(window->labelCanvas()->isInSamMode(), QStringLiteral("encoded: \"%1\"").arg(statusOf(panel)));
    const int before = shownCount();
    LabelCanvas *canvas = window->labelCanvas();
    const QPoint at = canvas->toScreen(QPointF(600, 330)).toPoint();
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at);
    settle();
    say(QStringLiteral("        panel: \"%1\"").arg(statusOf(panel)));
    shoot(QStringLiteral("clickseg-preview"));
    click(panel, QStringLiteral("Accept"));
    check(shownCount() == before + 1, QStringLiteral("the outline is a polygon on the canvas"));
    undoOnce(QStringLiteral("the outline"));

    // Concept segmentation, from the panel's button.
    click(panel, QStringLiteral("SAM3 Concepts…"));
    AiSam3Dialog *concepts = window->conceptDialog();
    check(concepts->isVisible(), QStringLiteral("the concept window opens"));
    (void)QTest::qWaitFor([this] { return window->conceptEngine().modelsLoaded(); }, QmTest::patienceMs);
    place(concepts);
    check(window->conceptEngine().modelsLoaded(), QStringLiteral("concept models: \"%1\"").arg(statusOf(concepts)));
    click(concepts, QStringLiteral("Encode Current Image"));
    settle();
    say(QStringLiteral("        concept: \"%1\"").arg(statusOf(concepts)));
    concepts->findChild<QLineEdit *>()->setText(QStringLiteral("person, red car"));
    click(concepts, QStringLiteral("Detect"));
    settle();
    say(QStringLiteral("        concept: \"%1\"").arg(statusOf(concepts)));
    auto *list = concepts->findChild<QListWidget *>();
    check(list->count() > 0, QStringLiteral("%1 detection(s) listed").arg(list->count()));
    list->selectAll();
    settle();
    shoot(QStringLiteral("concepts"));
    const int beforeConcepts = shownCount();
    click(concepts, QStringLiteral("Accept Selected"));
    check(shownCount() == beforeConcepts + list->count(), QStringLiteral("every selected outline accepted"));
    concepts->hide();

    tabs->setCurrentIndex(0);
    click(dialog, QStringLiteral("Run on All Images"));
    waitForRun(QStringLiteral("run on all images"));
    check(access->modified(), QStringLiteral("the project is modified"));
    saveAndReopen();
}

void Tour::face()
{
    openProject(QStringLiteral("face"), QStringLiteral("Faces"));
    chooseTool(Tool::Face);
    FaceAnnotationDialog *dialog = window->faceAnnotationDialog();
    check(dialog->isVisible(), QStringLiteral("the Face tool opens \"%1\"").arg(dialog->windowTitle()));
    check(QTest::qWaitFor([this] { return !window->isModelLoading(); }, QmTest::patienceMs), QStringLiteral("the model loads"));
    check(window->faceEngine().isReady(), QStringLiteral("the face model found in the models folder is loaded"));
    place(dialog);
    shoot(QStringLiteral("face"));

    click(dialog, QStringLiteral("Run Current"));
    waitForRun(QStringLiteral("run on the current image"));
    const int pending = int(window->labelCanvas()->pendingAnnotationList().size());
    check(pending > 0, QStringLiteral("%1 face(s) wait for review").arg(pending));
    shoot(QStringLiteral("face-preview"));
    click(dialog, QStringLiteral("Accept"));
    check(shownCount() == pending, QStringLiteral("accepted faces are annotations"));
    check(window->labelCanvas()->undoStack()->count() == 1, QStringLiteral("accepting is one undo step"));
    undoOnce(QStringLiteral("the accepted faces"));

    click(dialog, QStringLiteral("Run All"));
    waitForRun(QStringLiteral("run on all images"));
    check(annotationCount() > 0 && access->modified(),
          QStringLiteral("%1 face annotation(s) over all images").arg(annotationCount()));
    saveAndReopen();
}

void Tour::pose()
{
    openProject(QStringLiteral("pose"), QStringLiteral("People"));
    chooseTool(Tool::Pose);
    PoseAnnotationDialog *dialog = window->poseAnnotationDialog();
    check(dialog->isVisible(), QStringLiteral("the Pose tool opens \"%1\"").arg(dialog->windowTitle()));
    check(QTest::qWaitFor([this] { return !window->isModelLoading(); }, QmTest::patienceMs), QStringLiteral("the model loads"));
    check(window->poseEngine().isReady(), QStringLiteral("body.onnx of the models folder is loaded"));
    place(dialog);
    shoot(QStringLiteral("pose"));

    click(dialog, QStringLiteral("Run Current"));
    waitForRun(QStringLiteral("run on the current image"));
    const int pending = int(window->labelCanvas()->pendingAnnotationList().size());
    check(pending > 0, QStringLiteral("%1 person(s) wait for review").arg(pending));
    auto *tree = dialog->findChild<QTreeWidget *>();
    int noseVisibility = -1;
    if (tree->topLevelItemCount() > 0) {
        const int before = window->pendingPoseResults().constFirst().keypoints.constFirst().visibility;
        const QRect cell = tree->visualItemRect(tree->topLevelItem(0));
        const int x = tree->header()->sectionViewportPosition(2) + 20;
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, cell.center().y()));
        noseVisibility = window->pendingPoseResults().constFirst().keypoints.constFirst().visibility;
        check(noseVisibility == (before == 0 ? 2 : before - 1),
              QStringLiteral("a click on the visibility cell turns the nose from %1 to %2")
                  .arg(before)
                  .arg(noseVisibility));
    }
    shoot(QStringLiteral("pose-preview"));
    click(dialog, QStringLiteral("Accept"));
    check(shownCount() == pending, QStringLiteral("accepted persons are annotations"));
    check(!window->labelCanvas()->annotations().isEmpty() &&
              window->labelCanvas()->annotations().constFirst().keypointVis.value(0) == noseVisibility,
          QStringLiteral("the nose keeps the visibility chosen"));
    undoOnce(QStringLiteral("the accepted persons"));

    click(dialog, QStringLiteral("Run All"));
    waitForRun(QStringLiteral("run on all images"));
    check(annotationCount() > 0 && access->modified(),
          QStringLiteral("%1 pose annotation(s) over all images").arg(annotationCount()));
    saveAndReopen();
}

} // namespace

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmark"));
    QApplication::setOrganizationName(QStringLiteral("Brightwell"));
    if (argc < 4) {
        QTextStream(stderr) << "usage: ai_tools_tour <pictures folder> <output folder> <light|dark>\n";
        return 2;
    }
    QSettings().clear();
    QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).clear();
    const Theme::Mode mode = QString::fromLocal8Bit(argv[3]) == QLatin1String("dark") ? Theme::Dark : Theme::Light;
    QDir().mkpath(QString::fromLocal8Bit(argv[2]));
    {
        Tour tour(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), mode);
        tour.detection();
        tour.segmentation();
        tour.face();
        tour.pose();
    }
    say(failures == 0 ? QStringLiteral("tour done") : QStringLiteral("tour done, %1 step(s) failed").arg(failures));
    return failures == 0 ? 0 : 1;
}
