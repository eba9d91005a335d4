// The project commands of the main window: new, open, save, close, type
// change and the unsaved-changes question; image navigation with background
// loading; removal, bulk class assignment, the class gate and the write-back of
// canvas edits; and one session end to end.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "ImageFileBytes.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "dialogs/ClassesPage.h"
#include "dialogs/ObjectDetectionWizard.h"
#include "dialogs/ProjectTypeDialog.h"
#include "dialogs/SetupPage.h"
#include "formats/QpkgHandler.h"
#include "model/MissingMediaCheck.h"
#include "model/ProjectFile.h"
#include "model/StoredImageBytes.h"
#include "app/PictureDecodeQueue.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/ThumbnailReader.h"
#include "panels/VideoScrubber.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QCheckBox>
#include <QSaveFile>
#include <QSemaphore>
#include <QStatusBar>
#include <QThread>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace Quillmark;
using namespace AppTest;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray encoded(const QColor &color, const char *format, int w = 32, int h = 24)
{
    return QmTest::filledImageBytes(w, h, color, format);
}

// A project of four images on disk (A, B, C, D = ids 0..3), typed and saved.
void fourImageProject(MainWindowTestAccess &access, const QTemporaryDir &dir)
{
    const QStringList names = {"A.png", "B.png", "C.png", "D.png"};
    for (const QString &name : names)
        access.project().dataset.addImage(imageEntry(writeImage(QDir(dir.path()), name, 80, 60, Qt::gray), 80, 60));
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.projectPath() = dir.filePath(QStringLiteral("four.qmk"));
    access.refreshUi();
    access.updateTitle();
}

// The media check of an opened project has looked at every file and is about
// to answer; it waits a while there, so that the window can take it away.
QSemaphore mediaCheckAnswering;
void pauseBeforeMediaCheckAnswer()
{
    mediaCheckAnswering.release();
    QThread::msleep(500);
}

// Stored picture bytes whose reads on a worker wait at a gate, counting how
// many wait at once: the decodes a window has in flight. Reads on the GUI
// thread and on the film strip's thumbnail threads pass at once.
struct DecodeGate {
    QSemaphore open;
    std::atomic<int> inFlight{0};
    std::atomic<int> peak{0};
    std::atomic<int> reads{0};
};

class GatedBytes : public StoredImageBytes {
public:
    GatedBytes(std::shared_ptr<DecodeGate> gate, QByteArray bytes) : gate(std::move(gate)), bytes(std::move(bytes)) {}
    QByteArray read() const override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()
            || QThread::currentThread()->objectName() == ThumbnailReader::threadName)
            return bytes;
        const int now = ++gate->inFlight;
        for (int seen = gate->peak; now > seen && !gate->peak.compare_exchange_weak(seen, now);) {
        }
        gate->open.acquire();
        ++gate->reads;
        --gate->inFlight;
        return bytes;
    }

private:
    std::shared_ptr<DecodeGate> gate;
    QByteArray bytes;
};

// Records whether the folder a folder picker was to start in exists: the
// picker takes no folder that does not.
class FolderPickerPrompts : public QmTest::ScriptedPrompts {
public:
    QList<bool> startFolderExisted;
    QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                 QFileDialog::Options options) override
    {
        startFolderExisted.append(QFileInfo(dir).isDir());
        return ScriptedPrompts::getExistingDirectory(parent, caption, dir, options);
    }
};

// Whether the canvas, the current image and the Files list's current row all
// name `id`; a description of the three when not.
QString outOfStep(MainWindow &window, int id)
{
    const QModelIndex row = window.imageList()->listView()->currentIndex();
    const std::optional<int> shown = window.labelCanvas()->displayedEntryId();
    const QString listed = row.isValid() ? QString::number(row.data(Qt::UserRole).toInt()) : QStringLiteral("none");
    const QString canvas = shown ? QString::number(*shown) : QStringLiteral("none");
    if (window.currentImage() == id && shown == id && row.isValid() && row.data(Qt::UserRole).toInt() == id)
        return {};
    return QStringLiteral("expected %1: current %2, canvas %3, list %4")
        .arg(id)
        .arg(window.currentImage())
        .arg(canvas, listed);
}

// Six images with pixels in memory; 0, 2 and 5 hold an annotation.
void sixImagesSomeLabelled(MainWindowTestAccess &access)
{
    for (int i = 0; i < 6; ++i) {
        const bool labelled = i == 0 || i == 2 || i == 5;
        access.project().dataset.addImage(memoryImage(QStringLiteral("m%1.png").arg(i), 40, 30, Qt::gray,
                                                      labelled ? QList<Annotation>{box({1, 1, 5, 5})}
                                                               : QList<Annotation>{}));
    }
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.refreshUi();
}

} // namespace

class TestProjectCommands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void unsavedChangesQuestion_data();
    void unsavedChangesQuestion();
    void newProjectFromWizardAnswers_data();
    void newProjectFromWizardAnswers();
    void cancelledWizardLeavesTheProject();
    void wizardSaveLocationNeverReplacesSilently();
    void everyTypeStartsInADrawingTool_data();
    void everyTypeStartsInADrawingTool();
    void failedFirstSaveCountsAsUnsaved();
    void openRunsOnAWorker();
    void failedOpenKeepsTheProject();
    void failedOpenSaysWhy_data();
    void failedOpenSaysWhy();
    void openTellsOfMovedMediaAndKeepsTheirLabels();
    void editsWhileOpeningAreAskedAbout_data();
    void editsWhileOpeningAreAskedAbout();
    void hangingOpenCanBeCancelled();
    void closingWhileAnOpenHangs_data();
    void closingWhileAnOpenHangs();
    void openInfersTheType();
    void saveAndSaveAs();
    void extractEmbeddedMedia();
    void packageImagesAreShownAndExtracted();
    void failedExtractionKeepsTheMedia();
    void editDuringASlowLoadStaysWithTheShownImage();
    void staleLoadIsDropped();
    void pictureOfAnEarlierProjectNeverLands();
    void videoModeKeepsTheFrameOnTheCanvas();
    void nextPreviousApproveDiscard();
    void removeImages_data();
    void removeImages();
    void removeImageQuestions();
    void removeVideos();
    void bulkClassAssignment();
    void classGatePrompts();
    void defineAClassDialog();
    void projectTypeChange();
    void videoFrameWriteBack();
    void classEditsReachTheShownImage();
    void mediaCheckTakenAwayBeforeItsAnswer();
    void openedFileAsksNothingUntilChanged_data();
    void openedFileAsksNothingUntilChanged();
    void packageSavedAsProjectOffersAFolderThatExists_data();
    void packageSavedAsProjectOffersAFolderThatExists();
    void filteredListStepsWithTheCanvas();
    void removingTheShownItemKeepsListAndCanvasTogether();
    void picturesDecodeAFewAtATime();
    void stalledDecodeFreesItsPlace();
    void endToEndSession();

private:
    QmTest::ScriptedPrompts prompts;
};

void TestProjectCommands::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
    QSettings().clear();
}

void TestProjectCommands::unsavedChangesQuestion_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("goesOn");
    const QStringList commands = {"new", "open", "close", "exit"};
    for (const QString &command : commands) {
        QTest::addRow("%s, discard", qPrintable(command)) << command << "discard" << true;
        QTest::addRow("%s, cancel", qPrintable(command)) << command << "cancel" << false;
        QTest::addRow("%s, save", qPrintable(command)) << command << "save" << true;
        QTest::addRow("%s, save cancelled", qPrintable(command)) << command << "save cancelled" << false;
        QTest::addRow("%s, save fails", qPrintable(command)) << command << "save fails" << false;
    }
}

void TestProjectCommands::unsavedChangesQuestion()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    QFETCH(bool, goesOn);

    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("Mine");
    access.project().projectType = QStringLiteral("object_detection");
    access.modified() = true;
    const QString savedPath = dir.filePath(QStringLiteral("mine.qmk"));
    if (answer == "save")
        access.projectPath() = savedPath;
    if (answer == "save fails")
        access.projectPath() = dir.path(); // a folder cannot be written as a file
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    prompts.answers.enqueue(int(answer == "discard" ? QMessageBox::Discard
                                : answer == "cancel" ? QMessageBox::Cancel
                                                     : QMessageBox::Save));
    if (answer == "save cancelled")
        prompts.answers.enqueue(QString());

    bool wizardShown = false;
    if (command == "new") {
        onNextModal([&wizardShown](QWidget *modal) {
            wizardShown = qobject_cast<ObjectDetectionWizard *>(modal) != nullptr;
            static_cast<QDialog *>(modal)->reject();
        });
        window.onNewProject();
        QTest::qWait(20);
        QCOMPARE(wizardShown, goesOn);
    } else if (command == "open") {
        prompts.answers.enqueue(QString()); // the open dialog, cancelled
        window.onOpenProject();
        QCOMPARE(prompts.calls.constLast().kind == QLatin1String("open"), goesOn);
    } else if (command == "close") {
        window.onCloseProject();
        QCOMPARE(window.currentProject().projectType.isEmpty(), goesOn);
    } else {
        QCOMPARE(window.close(), goesOn);
    }

    const QmTest::PromptCall question = prompts.calls.at(0);
    QCOMPARE(question.title, QStringLiteral("Unsaved Changes"));
    const QString verb = command == "new"    ? QStringLiteral("create a new project")
                         : command == "exit" ? QStringLiteral("exit")
                                             : QStringLiteral("close the project");
    QCOMPARE(question.text, QStringLiteral("You have unsaved changes. Save before you %1?").arg(verb));
    if (answer == "save") {
        QVERIFY(QFileInfo::exists(savedPath));
        QCOMPARE(loadProjectFile(access.project(), savedPath), true);
    }
    if (answer == "save cancelled")
        QCOMPARE(prompts.calls.at(1).title, QStringLiteral("Save Project"));
    if (answer == "save fails") {
        QCOMPARE(prompts.calls.at(1).text, QStringLiteral("Failed to save project."));
        QVERIFY(window.isModified());
    }
    if (!goesOn) {
        QCOMPARE(window.currentProject().name, QStringLiteral("Mine"));
        if (command == "exit")
            QVERIFY(window.isVisible());
    }
}

void TestProjectCommands::newProjectFromWizardAnswers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("classes");
    QTest::addColumn<int>("keypoints");
    QTest::addColumn<bool>("withImages");
    QTest::addColumn<bool>("withSavePath");
    QTest::addColumn<int>("tool");
    QTest::addColumn<QString>("message");
    QTest::newRow("classification") << "classification"
                                    << "" << 3 << 0 << false << false << int(Tool::Select)
                                    << "Image Classification project \"Untitled\" created — 3 class(es), 0 image(s).";
    QTest::newRow("pose") << "pose" << "Gym" << 2 << 17 << false << false << int(Tool::Keypoint)
                          << "Pose Estimation project \"Gym\" created — 17 keypoints (person), 0 image(s).";
    QTest::newRow("detection with images")
        << "object_detection" << "Cars" << 1 << 0 << true << true << int(Tool::BBox)
        << "Object Detection project \"Cars\" created — 1 class(es), 3 image(s).";
    QTest::newRow("segmentation") << "segmentation" << "S" << 1 << 0 << false << false << int(Tool::Polygon)
                                  << "Instance Segmentation project \"S\" created — 1 class(es), 0 image(s).";
    QTest::newRow("face") << "face"
                          << "F" << 1 << 0 << false << false << int(Tool::BBox)
                          << "Face Detection project \"F\" created — 1 class(es), 0 image(s).";
}

void TestProjectCommands::newProjectFromWizardAnswers()
{
    QFETCH(QString, type);
    QFETCH(QString, name);
    QFETCH(int, classes);
    QFETCH(int, keypoints);
    QFETCH(bool, withImages);
    QFETCH(bool, withSavePath);
    QFETCH(int, tool);
    QFETCH(QString, message);

    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(imageEntry(QStringLiteral("/old/project.png"), 5, 5));
    access.modified() = true;

    NewProjectSpec spec;
    spec.projectType = type;
    spec.name = name;
    const QStringList classNames = {"dog", "cat", "bird"};
    for (int i = 0; i < classes; ++i)
        spec.classes.append({classNames.at(i), QColor(10 * i, 100, 200)});
    for (int i = 0; i < keypoints; ++i)
        spec.keypointSchema.keypointNames << QStringLiteral("kp%1").arg(i);
    spec.keypointSchema.objectClass = QStringLiteral("person");
    if (withImages) {
        spec.imagePaths << writeImage(QDir(dir.path()), QStringLiteral("a.png"), 64, 48, Qt::red)
                        << writeImage(QDir(dir.path()), QStringLiteral("b.jpg"), 30, 20, Qt::blue);
        QFile broken(dir.filePath(QStringLiteral("broken.png")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not an image");
        broken.close();
        spec.imagePaths << broken.fileName();
    }
    if (withSavePath)
        spec.savePath = dir.filePath(QStringLiteral("cars.qmk"));

    window.createProject(spec);

    const Project &project = window.currentProject();
    QCOMPARE(project.projectType, type);
    QCOMPARE(project.name, name);
    QCOMPARE(statusText(window), message);
    QCOMPARE(window.sideToolBarWidget()->tool(), tool);
    QCOMPARE(window.labelCanvas()->currentTool(), tool);
    if (keypoints > 0) {
        QCOMPARE(project.dataset.classColors.keys(), QStringList{QStringLiteral("person")});
        QCOMPARE(project.dataset.keypointSchema.keypointNames.size(), keypoints);
    } else {
        QCOMPARE(project.dataset.classColors.size(), classes);
        if (classes > 0)
            QCOMPARE(project.dataset.classColors.value(QStringLiteral("dog")), QColor(0, 100, 200));
    }
    if (withImages) {
        QCOMPARE(project.dataset.images.size(), 3);
        QCOMPARE(QSize(project.dataset.images.at(0).width, project.dataset.images.at(0).height), QSize(64, 48));
        QCOMPARE(QSize(project.dataset.images.at(1).width, project.dataset.images.at(1).height), QSize(30, 20));
        // An unreadable image is stored as 0 x 0, never -1.
        QCOMPARE(QSize(project.dataset.images.at(2).width, project.dataset.images.at(2).height), QSize(0, 0));
        QVERIFY(!window.progressBarWidget()->isVisibleTo(&window));
        QCOMPARE(window.currentImage(), 0);
    } else {
        QVERIFY(project.dataset.images.isEmpty());
        QCOMPARE(window.currentImage(), -1);
    }
    QCOMPARE(window.currentProjectPath(), spec.savePath);
    QCOMPARE(QFileInfo::exists(spec.savePath), withSavePath);
    QVERIFY(!window.isModified());
}

void TestProjectCommands::cancelledWizardLeavesTheProject()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("Keep");
    access.project().projectType = QStringLiteral("face");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    onNextModal([](QWidget *modal) { static_cast<QDialog *>(modal)->reject(); });
    window.onNewProject();
    QCOMPARE(window.currentProject().name, QStringLiteral("Keep"));
    QCOMPARE(window.currentProject().projectType, QStringLiteral("face"));
}

void TestProjectCommands::wizardSaveLocationNeverReplacesSilently()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("cars.qmk"));
    QVERIFY(writeFile(target, "someone's project"));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The user types "cars" in the wizard's save dialog: the project file would
    // be "cars.qmk", which exists. The first time they keep it, then replace it.
    for (const int answer : {int(QMessageBox::No), int(QMessageBox::Yes)}) {
        prompts.calls.clear();
        prompts.answers.enqueue(dir.filePath(QStringLiteral("cars")));
        prompts.answers.enqueue(answer);
        QString savePathShown = QStringLiteral("unset");
        onNextModal([&savePathShown](QWidget *modal) {
            auto *wizard = qobject_cast<ObjectDetectionWizard *>(modal);
            QVERIFY(wizard);
            wizard->next();
            wizard->setupPage()->nameEdit()->setText(QStringLiteral("Cars"));
            for (QPushButton *button : wizard->setupPage()->findChildren<QPushButton *>()) {
                if (button->text() == QStringLiteral("Browse…"))
                    button->click();
            }
            savePathShown = wizard->setupPage()->savePathEdit()->text();
            wizard->next();
            wizard->classesPage()->addTemplateClasses(0);
            wizard->next();
            wizard->next();
            wizard->button(QWizard::FinishButton)->click();
        });
        window.onNewProject();

        QCOMPARE(prompts.calls.size(), 2);
        QCOMPARE(prompts.calls.at(1).kind, QStringLiteral("question"));
        QCOMPARE(prompts.calls.at(1).text, QStringLiteral("cars.qmk already exists.\nDo you want to replace it?"));
        QCOMPARE(window.currentProject().name, QStringLiteral("Cars"));
        if (answer == int(QMessageBox::No)) {
            QVERIFY(savePathShown.isEmpty());
            QCOMPARE(readAll(target), QByteArray("someone's project"));
            QVERIFY(window.currentProjectPath().isEmpty());
        } else {
            QCOMPARE(savePathShown, target);
            QCOMPARE(window.currentProjectPath(), target);
            Project written;
            QVERIFY(loadProjectFile(written, target));
            QCOMPARE(written.name, QStringLiteral("Cars"));
        }
    }
}

void TestProjectCommands::everyTypeStartsInADrawingTool_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QList<int>>("offered");
    QTest::addColumn<int>("tool");
    QTest::newRow("object_detection") << "object_detection" << QList<int>{0, 1, 5} << int(Tool::BBox);
    QTest::newRow("segmentation") << "segmentation" << QList<int>{0, 2, 5} << int(Tool::Polygon);
    QTest::newRow("semantic_segmentation") << "semantic_segmentation" << QList<int>{0, 2, 5} << int(Tool::Polygon);
    QTest::newRow("pose") << "pose" << QList<int>{0, 3, 6} << int(Tool::Keypoint);
    QTest::newRow("face") << "face" << QList<int>{0, 1, 3, 7} << int(Tool::BBox);
    QTest::newRow("classification") << "classification" << QList<int>{0} << int(Tool::Select);
}

void TestProjectCommands::everyTypeStartsInADrawingTool()
{
    QFETCH(QString, type);
    QFETCH(QList<int>, offered);
    QFETCH(int, tool);

    QTemporaryDir dir;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    NewProjectSpec spec;
    spec.projectType = type;
    spec.name = QStringLiteral("New");
    spec.classes = {{type == QLatin1String("face") ? QStringLiteral("face") : QStringLiteral("thing"), Qt::red}};
    spec.imagePaths << writeImage(QDir(dir.path()), QStringLiteral("a.png"), 400, 300, Qt::gray);
    spec.savePath = dir.filePath(QStringLiteral("new.qmk"));
    window.createProject(spec);

    // A tool the side bar offers (its button enabled and checked) and the canvas
    // acts on.
    LabelCanvas *canvas = window.labelCanvas();
    QCOMPARE(canvas->currentTool(), tool);
    QCOMPARE(window.sideToolBarWidget()->tool(), tool);
    QVERIFY(offered.contains(tool));
    QVERIFY(window.sideToolBarWidget()->button(tool)->isEnabled());
    QVERIFY(window.sideToolBarWidget()->button(tool)->isChecked());

    // A new face project draws boxes at once, before any face model is chosen.
    if (type == QLatin1String("face")) {
        QTRY_COMPARE(canvas->displayedEntryId(), 0);
        drawBox(canvas, {40, 40}, {140, 120});
        QCOMPARE(window.currentProject().dataset.images.at(0).labels.size(), 1);
        QCOMPARE(window.currentProject().dataset.images.at(0).labels.at(0).kind, int(BoundingBox));
        QCOMPARE(window.currentProject().dataset.images.at(0).labels.at(0).className, QStringLiteral("face"));
    }
}

void TestProjectCommands::failedFirstSaveCountsAsUnsaved()
{
    QTemporaryDir dir;
    MainWindow window;
    NewProjectSpec spec;
    spec.projectType = QStringLiteral("object_detection");
    spec.classes = {{QStringLiteral("car"), QColor(Qt::red)}};
    spec.savePath = dir.path(); // a folder cannot be written as a file
    window.createProject(spec);
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("Failed to save project."));
    QVERIFY(window.currentProjectPath().isEmpty());
    QVERIFY(window.isModified());
    QCOMPARE(window.currentProject().dataset.classColors.size(), 1);
}

void TestProjectCommands::openRunsOnAWorker()
{
    QTemporaryDir dir;
    Project saved;
    saved.name = QStringLiteral("Opened");
    saved.projectType = QStringLiteral("object_detection");
    saved.dataset.addImage(imageEntry(writeImage(QDir(dir.path()), QStringLiteral("x.png"), 40, 30, Qt::green), 40,
                                      30, {box({1, 2, 10, 10})}));
    saved.dataset.addImage(imageEntry(writeImage(QDir(dir.path()), QStringLiteral("y.png"), 40, 30, Qt::blue), 40, 30));
    const QString path = dir.filePath(QStringLiteral("saved.qmk"));
    QVERIFY(saveProjectFile(saved, path));

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("Before");
    prompts.answers.enqueue(path);
    window.onOpenProject();

    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Open Project"));
    QCOMPARE(prompts.calls.at(0).extra, QStringLiteral("Quillmark Project (*.qmk)"));
    QCOMPARE(prompts.calls.at(0).text, QDir::homePath());
    // Until the worker is done the live project is untouched and the bars wait.
    QVERIFY(window.isJobRunning());
    QCOMPARE(window.currentProject().name, QStringLiteral("Before"));
    QCOMPARE(statusText(window), QStringLiteral("Opening project…"));
    QVERIFY(!window.toolBarWidget()->isEnabled());
    QVERIFY(window.progressBarWidget()->isVisibleTo(&window));

    QTRY_VERIFY(!window.isJobRunning());
    QCOMPARE(window.currentProject().name, QStringLiteral("Opened"));
    QCOMPARE(window.currentProject().dataset.images.size(), 2);
    QCOMPARE(window.currentProjectPath(), path);
    QVERIFY(!window.isModified());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisibleTo(&window));
    QCOMPARE(statusText(window), QStringLiteral("Opened: saved.qmk  (2 images)"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Quillmark 1.2.0  |  Opened \u2014 saved.qmk"));
    QCOMPARE(QSettings().value(QStringLiteral("lastProjectDir")).toString(), dir.path());
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);
    QCOMPARE(window.labelCanvas()->annotations().size(), 1);
}

// Files moved or deleted after the project was saved: the user is told at
// open which ones, and a save keeps their annotations and paths.
void TestProjectCommands::openTellsOfMovedMediaAndKeepsTheirLabels()
{
    QTemporaryDir dir;
    Project saved;
    saved.projectType = QStringLiteral("object_detection");
    const QString kept = writeImage(QDir(dir.path()), QStringLiteral("kept.png"), 40, 30, Qt::green);
    const QString moved = writeImage(QDir(dir.path()), QStringLiteral("moved.png"), 40, 30, Qt::blue);
    saved.dataset.addImage(imageEntry(kept, 40, 30, {box({1, 2, 10, 10})}));
    saved.dataset.addImage(imageEntry(moved, 40, 30, {box({3, 4, 10, 10}), box({5, 6, 7, 8})}));
    VideoEntry video;
    video.filePath = dir.filePath(QStringLiteral("gone.mp4"));
    video.frameCount = 10;
    video.frameLabels.insert(2, {box({1, 1, 5, 5})});
    saved.dataset.addVideo(video);
    const QString path = dir.filePath(QStringLiteral("saved.qmk"));
    QVERIFY(saveProjectFile(saved, path));
    QVERIFY(QFile::rename(moved, dir.filePath(QStringLiteral("elsewhere.png"))));

    MainWindow window;
    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    // The project shows before its files are looked at; the answer follows.
    QTRY_COMPARE(prompts.calls.size(), 2);
    const QmTest::PromptCall told = prompts.calls.at(1);
    QCOMPARE(told.kind, QStringLiteral("warning"));
    QCOMPARE(told.title, QStringLiteral("Media Not Found"));
    QVERIFY2(told.text.startsWith(QStringLiteral("2 media file(s)")), qPrintable(told.text));
    QVERIFY(told.text.contains(QDir::toNativeSeparators(moved)));
    QVERIFY(told.text.contains(QDir::toNativeSeparators(video.filePath)));
    QVERIFY(!told.text.contains(QStringLiteral("kept.png")));
    // The list marks the missing rows, and only those.
    const QAbstractItemModel *rows = window.imageList()->listView()->model();
    QCOMPARE(rows->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(rows->index(row, 0).data(Qt::FontRole).value<QFont>().italic(), row != 0);

    // Saved again, nothing of the missing media is lost.
    MainWindowTestAccess(window).modified() = true;
    window.onSaveProject();
    Project back;
    QVERIFY(loadProjectFile(back, path));
    QCOMPARE(back.dataset.images.size(), 2);
    QCOMPARE(back.dataset.images.at(1).filePath, moved);
    QCOMPARE(back.dataset.images.at(1).labels.size(), 2);
    QCOMPARE(back.dataset.videos.size(), 1);
    QCOMPARE(back.dataset.videos.at(0).frameLabels.keys(), QList<int>{2});

    // Every file there: no message.
    QVERIFY(QFile::rename(dir.filePath(QStringLiteral("elsewhere.png")), moved));
    back.dataset.videos.clear();
    QVERIFY(saveProjectFile(back, path));
    prompts.calls.clear();
    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QTRY_VERIFY(!window.findChild<MissingMediaCheck *>());
    QCOMPARE(prompts.calls.size(), 1);
}

void TestProjectCommands::failedOpenSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("named pipe") << "pipe" << "\"p.qmk\" is not a regular file (it is a pipe, socket or device).";
    QTest::newRow("folder") << "folder" << "\"p.qmk\" is a folder, not a project file.";
    QTest::newRow("gone") << "missing" << "The file does not exist.";
    QTest::newRow("empty file") << "empty" << "The file is not a Quillmark project: it is damaged or of another kind.";
}

void TestProjectCommands::failedOpenSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.qmk"));
    if (kind == QLatin1String("pipe"))
        QVERIFY(!makePipe(QDir(dir.path()), QStringLiteral("p.qmk")).isEmpty());
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("p.qmk")));
    else if (kind == QLatin1String("empty"))
        QVERIFY(writeFile(path, QByteArray()));
    MainWindow window;
    prompts.answers.enqueue(path);
    window.onOpenProject();
    // Nothing waits on the pipe: the open ends by itself.
    QTRY_VERIFY(!window.isJobRunning());
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("Failed to open project.\n\n") + reason);
    QVERIFY(window.currentProjectPath().isEmpty());
}

void TestProjectCommands::failedOpenKeepsTheProject()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("broken.qmk"));
    QVERIFY(writeFile(path, "[1, 2"));
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("Before");
    access.projectPath() = QStringLiteral("/somewhere/before.qmk");
    access.modified() = true;
    access.updateTitle();
    const QString title = window.windowTitle();
    prompts.answers.enqueue(int(QMessageBox::Discard));
    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Error"));
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("Failed to open project.\n\nThe file is not a Quillmark project: it is damaged or of "
                            "another kind."));
    QCOMPARE(window.currentProject().name, QStringLiteral("Before"));
    QCOMPARE(window.currentProjectPath(), QStringLiteral("/somewhere/before.qmk"));
    QVERIFY(window.isModified());
    QCOMPARE(window.windowTitle(), title);
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(statusText(window) != QStringLiteral("Opening project…"));
}

void TestProjectCommands::editsWhileOpeningAreAskedAbout_data()
{
    QTest::addColumn<bool>("modifiedBefore");
    QTest::addColumn<bool>("editWhileOpening");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("opened");
    QTest::newRow("no edit") << false << false << -1 << true;
    QTest::newRow("discarded before, no edit") << true << false << -1 << true;
    QTest::newRow("edit, cancel") << false << true << int(QMessageBox::Cancel) << false;
    QTest::newRow("edit, discard") << false << true << int(QMessageBox::Discard) << true;
    QTest::newRow("discarded before, edit, cancel") << true << true << int(QMessageBox::Cancel) << false;
}

void TestProjectCommands::editsWhileOpeningAreAskedAbout()
{
    QFETCH(bool, modifiedBefore);
    QFETCH(bool, editWhileOpening);
    QFETCH(int, answer);
    QFETCH(bool, opened);

    QTemporaryDir dir;
    Project saved;
    saved.name = QStringLiteral("Opened");
    saved.projectType = QStringLiteral("object_detection");
    const QByteArray json = projectToJsonBytes(saved);
    // The worker waits at the file until the test writes the project into it.
    StalledProjectFile slow(dir.filePath(QStringLiteral("slow.qmk")));

    MainWindow window;
    MainWindowTestAccess access(window);
    slow.stallIn(access);
    ImageEntry shown = memoryImage(QStringLiteral("mem.png"), 200, 100, Qt::gray);
    access.project().dataset.addImage(shown);
    access.project().name = QStringLiteral("Before");
    access.project().projectType = QStringLiteral("object_detection");
    access.modified() = modifiedBefore;
    access.refreshUi();
    QCOMPARE(window.labelCanvas()->displayedEntryId(), 0);

    if (modifiedBefore)
        prompts.answers.enqueue(int(QMessageBox::Discard));
    prompts.answers.enqueue(slow.path);
    window.onOpenProject();
    QVERIFY(window.isJobRunning());
    if (editWhileOpening)
        window.labelCanvas()->setAnnotations({box({10, 10, 40, 40})});
    if (answer >= 0)
        prompts.answers.enqueue(answer);
    const int callsBefore = int(prompts.calls.size());
    QVERIFY(slow.finish(json));
    QTRY_VERIFY(!window.isJobRunning());

    QCOMPARE(int(prompts.calls.size()) - callsBefore, answer >= 0 ? 1 : 0);
    if (answer >= 0)
        QCOMPARE(prompts.calls.constLast().text,
                 QStringLiteral("You have unsaved changes. Save before you close the project?"));
    QCOMPARE(window.currentProject().name, opened ? QStringLiteral("Opened") : QStringLiteral("Before"));
    if (opened) {
        QCOMPARE(window.currentProjectPath(), slow.path);
        QVERIFY(!window.isModified());
    } else {
        // The edit is still there, and still unsaved.
        QCOMPARE(window.currentProject().dataset.images.at(0).labels.size(), 1);
        QVERIFY(window.currentProjectPath().isEmpty());
        QVERIFY(window.isModified());
        QVERIFY(window.toolBarWidget()->isEnabled());
    }
}

void TestProjectCommands::hangingOpenCanBeCancelled()
{
    QTemporaryDir dir;
    // A file that never answers until the test writes it, like a stalled share.
    StalledProjectFile stalled(dir.filePath(QStringLiteral("stalled.qmk")));
    Project good;
    good.name = QStringLiteral("Good");
    good.projectType = QStringLiteral("pose");
    const QString goodPath = dir.filePath(QStringLiteral("good.qmk"));
    QVERIFY(saveProjectFile(good, goodPath));

    MainWindow window;
    MainWindowTestAccess access(window);
    stalled.stallIn(access);
    ImageEntry shown = memoryImage(QStringLiteral("mem.png"), 200, 100, Qt::gray, {box({10, 10, 40, 40})});
    access.project().dataset.addImage(shown);
    access.project().name = QStringLiteral("Before");
    access.project().projectType = QStringLiteral("object_detection");
    access.modified() = true;
    access.refreshUi();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    prompts.answers.enqueue(int(QMessageBox::Discard));
    prompts.answers.enqueue(stalled.path);
    window.onOpenProject();
    QVERIFY(window.isJobRunning());
    QVERIFY(window.isJobCancellable());

    // The styled status bar shows Cancel beside the progress, whole.
    QPushButton *cancel = window.jobCancelButtonWidget();
    QVERIFY(cancel->isVisible());
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(cancel->isEnabled());
    QVERIFY(window.statusBar()->rect().contains(cancel->geometry()));
    QVERIFY(cancel->width() >= cancel->sizeHint().width());
    QVERIFY(!window.toolBarWidget()->isEnabled());

    // A click ends the wait at once and leaves the keyboard with the canvas.
    window.labelCanvas()->setFocus();
    QTRY_VERIFY(window.labelCanvas()->hasFocus());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(window.labelCanvas()->hasFocus());
    QVERIFY(!window.isJobRunning());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisible());
    QVERIFY(!cancel->isVisible());
    QCOMPARE(statusText(window), QStringLiteral("Cancelled."));
    QCOMPARE(window.currentProject().name, QStringLiteral("Before"));
    // The changes discarded for the open are the user's again.
    QVERIFY(window.isModified());

    // Another file opens while the first still hangs.
    prompts.answers.enqueue(int(QMessageBox::Discard));
    prompts.answers.enqueue(goodPath);
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QCOMPARE(window.currentProject().name, QStringLiteral("Good"));

    // The stalled file's contents arrive late, and are dropped.
    const int callsBefore = int(prompts.calls.size());
    Project late;
    late.name = QStringLiteral("Late");
    QVERIFY(stalled.finish(projectToJsonBytes(late)));
    QTest::qWait(300);
    QCOMPARE(window.currentProject().name, QStringLiteral("Good"));
    QCOMPARE(window.currentProjectPath(), goodPath);
    QVERIFY(!window.isModified());
    QCOMPARE(int(prompts.calls.size()), callsBefore);
    QVERIFY(window.toolBarWidget()->isEnabled());
}

void TestProjectCommands::closingWhileAnOpenHangs_data()
{
    QTest::addColumn<bool>("editWhileOpening");
    QTest::addColumn<int>("quitAnswer");
    QTest::addColumn<bool>("closes");
    QTest::newRow("stay") << false << int(QMessageBox::No) << false;
    QTest::newRow("quit") << false << int(QMessageBox::Yes) << true;
    QTest::newRow("edited, saved, quit") << true << int(QMessageBox::Yes) << true;
}

void TestProjectCommands::closingWhileAnOpenHangs()
{
    QFETCH(bool, editWhileOpening);
    QFETCH(int, quitAnswer);
    QFETCH(bool, closes);

    QTemporaryDir dir;
    StalledProjectFile stalled(dir.filePath(QStringLiteral("stalled.qmk")));
    const QString ownPath = dir.filePath(QStringLiteral("own.qmk"));

    auto window = std::make_unique<MainWindow>();
    MainWindowTestAccess access(*window);
    stalled.stallIn(access);
    ImageEntry shown = memoryImage(dir.filePath(QStringLiteral("mem.png")), 200, 100, Qt::gray);
    access.project().dataset.addImage(shown);
    access.project().name = QStringLiteral("Own");
    access.project().projectType = QStringLiteral("object_detection");
    access.projectPath() = ownPath;
    access.refreshUi();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    prompts.answers.enqueue(stalled.path);
    window->onOpenProject();
    QVERIFY(window->isJobRunning());
    if (editWhileOpening) {
        window->labelCanvas()->setAnnotations({box({10, 10, 40, 40})});
        prompts.answers.enqueue(int(QMessageBox::Save));
    }
    prompts.answers.enqueue(quitAnswer);
    prompts.calls.clear();

    QCOMPARE(window->close(), closes);
    // Unsaved work is asked about first; then quitting without the open.
    if (editWhileOpening) {
        QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Unsaved Changes"));
        Project saved;
        QVERIFY(loadProjectFile(saved, ownPath));
        QCOMPARE(saved.dataset.images.at(0).labels.size(), 1);
    }
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("question"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Quit"));
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("An operation is still running.\nQuit anyway? Its result will be dropped."));
    QCOMPARE(window->isVisible(), !closes);
    QCOMPARE(window->isJobRunning(), !closes);

    // The window goes; the stalled read ends later without it.
    if (closes)
        window.reset();
    Project late;
    late.name = QStringLiteral("Late");
    QVERIFY(stalled.finish(projectToJsonBytes(late)));
    if (closes) {
        QTest::qWait(300);
        return;
    }
    QTRY_VERIFY(!window->isJobRunning());
    QCOMPARE(window->currentProject().name, QStringLiteral("Late"));
}

void TestProjectCommands::openInfersTheType()
{
    QTemporaryDir dir;
    Project saved;
    QList<Annotation> labels;
    for (int i = 0; i < 10; ++i)
        labels << box({double(i), 0, 5, 5});
    Annotation polygon;
    polygon.className = QStringLiteral("cat");
    polygon.kind = Polygon;
    polygon.points = {{0, 0}, {10, 0}, {10, 10}};
    labels << polygon;
    saved.dataset.addImage(imageEntry(dir.filePath(QStringLiteral("none.png")), 40, 30, labels));
    // Annotations on video frames alone do not type a project.
    Project framesOnly;
    framesOnly.dataset.addImage(imageEntry(dir.filePath(QStringLiteral("none.png")), 40, 30));
    VideoEntry video;
    video.filePath = dir.filePath(QStringLiteral("v.mp4"));
    video.frameCount = 10;
    video.frameLabels.insert(3, {polygon});
    framesOnly.dataset.addVideo(video);
    QVERIFY(saveProjectFile(saved, dir.filePath(QStringLiteral("typed.qmk"))));
    QVERIFY(saveProjectFile(framesOnly, dir.filePath(QStringLiteral("frames.qmk"))));

    MainWindow window;
    prompts.answers.enqueue(dir.filePath(QStringLiteral("typed.qmk")));
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QCOMPARE(window.currentProject().projectType, QStringLiteral("segmentation"));
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Polygon));
    QVERIFY(!window.isModified());

    prompts.answers.enqueue(dir.filePath(QStringLiteral("frames.qmk")));
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QVERIFY(window.currentProject().projectType.isEmpty());
}

void TestProjectCommands::saveAndSaveAs()
{
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = QStringLiteral("P");
    access.project().projectType = QStringLiteral("object_detection");
    access.modified() = true;

    // Save without a path asks for one; cancelling keeps the changes unsaved.
    window.onSaveProject();
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Save Project As"));
    QVERIFY(window.isModified());
    QVERIFY(window.currentProjectPath().isEmpty());

    // A name without a suffix gets ".qmk".
    prompts.answers.enqueue(dir.filePath(QStringLiteral("first")));
    window.onSaveProject();
    const QString first = dir.filePath(QStringLiteral("first.qmk"));
    QCOMPARE(window.currentProjectPath(), first);
    QVERIFY(QFileInfo::exists(first));
    QVERIFY(!window.isModified());
    QCOMPARE(statusText(window), QStringLiteral("Saved: first.qmk"));
    QCOMPARE(QSettings().value(QStringLiteral("lastProjectDir")).toString(), dir.path());
    QCOMPARE(window.windowTitle(), QStringLiteral("Quillmark 1.2.0  |  P \u2014 first.qmk"));

    // Save writes to the known path without asking.
    access.modified() = true;
    prompts.calls.clear();
    window.onSaveProject();
    QVERIFY(prompts.calls.isEmpty());
    QVERIFY(!window.isModified());

    // The dialog confirmed "first", not "first.qmk": replacing that file is
    // asked about, and No keeps it.
    const QByteArray firstBytes = readAll(first);
    access.project().name = QStringLiteral("Other");
    prompts.calls.clear();
    prompts.answers.enqueue(dir.filePath(QStringLiteral("first")));
    prompts.answers.enqueue(int(QMessageBox::No));
    window.onSaveProjectAs();
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("question"));
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("first.qmk already exists.\nDo you want to replace it?"));
    QCOMPARE(readAll(first), firstBytes);
    prompts.answers.enqueue(dir.filePath(QStringLiteral("first")));
    prompts.answers.enqueue(int(QMessageBox::Yes));
    window.onSaveProjectAs();
    QVERIFY(readAll(first) != firstBytes);

    // A dotted name is a name, not a suffix: the project file still ends in
    // ".qmk", so the Open dialog lists it; ".QMK" is kept as typed.
    QDir(dir.path()).mkdir(QStringLiteral("other"));
    const QList<QPair<QString, QString>> names = {
        {"garden.v2", "garden.v2.qmk"},
        {"other/second.json", "other/second.json.qmk"},
        {"LOUD.QMK", "LOUD.QMK"},
    };
    for (const auto &[typed, written] : names) {
        prompts.answers.enqueue(dir.filePath(typed));
        window.onSaveProjectAs();
        QCOMPARE(window.currentProjectPath(), dir.filePath(written));
        QVERIFY(QFileInfo::exists(dir.filePath(written)));
        QVERIFY(!QFileInfo::exists(dir.filePath(typed)) || typed == written);
    }
    QCOMPARE(statusText(window), QStringLiteral("Saved: LOUD.QMK"));
    // The next dialog starts in the folder of the last file.
    prompts.answers.enqueue(dir.filePath(QStringLiteral("other/third")));
    window.onSaveProjectAs();
    window.onSaveProjectAs();
    QCOMPARE(prompts.calls.constLast().text, dir.filePath(QStringLiteral("other")));
}

void TestProjectCommands::extractEmbeddedMedia()
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("media"));
    QVERIFY(QDir().mkpath(media));
    // A different file of the same name is already there and must survive.
    QFile existing(media + QStringLiteral("/0001.jpg"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("someone else's file");
    existing.close();

    MainWindow window;
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    const QByteArray red = encoded(Qt::red, "JPG");
    const QByteArray blue = encoded(Qt::blue, "JPG");
    ImageEntry a = imageEntry(QStringLiteral("0001.jpg"), 32, 24, {box({1, 1, 5, 5})});
    a.imageData = red;
    ImageEntry b = imageEntry(QStringLiteral("0001.jpg"), 32, 24);
    b.imageData = blue;
    ImageEntry scan = memoryImage(QStringLiteral("scan"), 8, 8, Qt::green);
    ImageEntry unnamed = imageEntry(QString(), 8, 8);
    unnamed.id = 7;
    unnamed.image = scan.image;
    const QString onDisk = writeImage(QDir(dir.path()), QStringLiteral("disk.png"), 8, 8, Qt::gray);
    dataset.addImage(a);
    dataset.addImage(b);
    dataset.addImage(scan);
    dataset.addImage(unnamed);
    dataset.addImage(imageEntry(onDisk, 8, 8));
    // Stored JPEG bytes under a name without a suffix: written as "photo.png",
    // so they must be PNG bytes.
    ImageEntry photo = imageEntry(QStringLiteral("photo"), 32, 24);
    photo.imageData = red;
    dataset.addImage(photo);
    // A name that begins with ':' is a name, not a path of the program's
    // resources: its bytes are written out too.
    ImageEntry colon = imageEntry(QStringLiteral(":cat.jpg"), 32, 24);
    colon.imageData = blue;
    dataset.addImage(colon);
    VideoEntry clip;
    clip.filePath = QStringLiteral("clip.mov");
    clip.bytes = QByteArray("video bytes");
    clip.frameCount = 3;
    dataset.addVideo(clip);
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
    const QString projectFile = dir.filePath(QStringLiteral("cats.qmk"));

    // Cancelling the media box writes nothing.
    prompts.answers.enqueue(int(QMessageBox::Cancel));
    QVERIFY(!window.saveProjectTo(projectFile));
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Extract Media Files"));
    QVERIFY(prompts.calls.at(0).text.startsWith(QStringLiteral("<b>This project contains embedded media</b>")));
    QVERIFY(!QFileInfo::exists(projectFile));
    QVERIFY(dataset.images.at(0).hasInMemoryImage());

    // OK, then a folder: the suggested folder is beside the project file.
    prompts.answers.enqueue(int(QMessageBox::Ok));
    prompts.answers.enqueue(media);
    QVERIFY(window.saveProjectTo(projectFile));
    QCOMPARE(prompts.calls.at(2).title, QStringLiteral("Choose Media Folder"));
    QCOMPARE(prompts.calls.at(2).text, dir.filePath(QStringLiteral("cats")));

    const QList<ImageEntry> &images = dataset.images;
    QCOMPARE(images.at(0).filePath, media + QStringLiteral("/0001_2.jpg"));
    QCOMPARE(images.at(1).filePath, media + QStringLiteral("/0001_3.jpg"));
    QCOMPARE(images.at(2).filePath, media + QStringLiteral("/scan.png"));
    QCOMPARE(images.at(3).filePath, media + QStringLiteral("/image_7.png"));
    QCOMPARE(images.at(4).filePath, onDisk);
    QCOMPARE(readAll(media + QStringLiteral("/0001.jpg")), QByteArray("someone else's file"));
    // Stored bytes are written as they are, not re-encoded.
    QCOMPARE(readAll(images.at(0).filePath), red);
    QCOMPARE(readAll(images.at(1).filePath), blue);
    QCOMPARE(QImage(images.at(2).filePath).pixelColor(0, 0), QColor(Qt::green));
    QCOMPARE(images.at(5).filePath, media + QStringLiteral("/photo.png"));
    QCOMPARE(QImageReader(images.at(5).filePath).format(), QByteArray("png"));
    QCOMPARE(QImage(images.at(5).filePath).size(), QSize(32, 24));
    QCOMPARE(images.at(6).filePath, media + QStringLiteral("/:cat.jpg"));
    QCOMPARE(readAll(images.at(6).filePath), blue);
    for (int i : {0, 1, 2, 3, 5, 6})
        QVERIFY(!images.at(i).hasInMemoryImage());
    QCOMPARE(dataset.videos.at(0).filePath, media + QStringLiteral("/clip.mov"));
    QVERIFY(dataset.videos.at(0).bytes.isEmpty());
    QCOMPARE(readAll(media + QStringLiteral("/clip.mov")), QByteArray("video bytes"));

    Project reread;
    QVERIFY(loadProjectFile(reread, projectFile));
    QCOMPARE(reread.dataset.images.at(0).filePath, images.at(0).filePath);
    QCOMPARE(reread.dataset.images.at(0).labels.size(), 1);

    // Once extracted, the next save writes the project file directly.
    prompts.calls.clear();
    QVERIFY(window.saveProjectTo(projectFile));
    QVERIFY(prompts.calls.isEmpty());
}

void TestProjectCommands::packageImagesAreShownAndExtracted()
{
    // A project opened from a package stored away from its images holds only
    // references into the package; the pixels are read when shown and when
    // the project is saved as a project file.
    QTemporaryDir dir;
    Dataset packed;
    const QByteArray red = encoded(Qt::red, "JPG", 60, 40);
    const QByteArray blue = encoded(Qt::blue, "PNG", 60, 40);
    for (const auto &[name, bytes] :
         {std::pair{QStringLiteral("a.jpg"), red}, std::pair{QStringLiteral("b.png"), blue}}) {
        ImageEntry entry = imageEntry(name, 60, 40, {box({1, 1, 5, 5})});
        entry.imageData = bytes;
        packed.addImage(entry);
    }
    const QString package = dir.filePath(QStringLiteral("set.qmpkg"));
    QVERIFY(QpkgHandler::writePackage(package, packed, {}, QStringLiteral("object_detection")));

    MainWindow window;
    window.resize(1200, 800);
    window.show();
    MainWindowTestAccess access(window);
    QVERIFY(QpkgHandler().importDataset(package, access.project().dataset, {}));
    Dataset &dataset = access.project().dataset;
    QVERIFY(dataset.images.at(1).storedBytes && dataset.images.at(1).imageData.isEmpty());
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
    access.selectImage(1);
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 1);
    const QImage shown = window.labelCanvas()->grab().toImage();
    const QColor centre = shown.pixelColor(shown.width() / 2, shown.height() / 2);
    QVERIFY2(centre.blue() > 200 && centre.red() < 60, qPrintable(centre.name()));

    const QString media = dir.filePath(QStringLiteral("media"));
    prompts.answers.enqueue(int(QMessageBox::Ok));
    prompts.answers.enqueue(media);
    QVERIFY(window.saveProjectTo(dir.filePath(QStringLiteral("p.qmk"))));
    QCOMPARE(dataset.images.at(0).filePath, media + QStringLiteral("/a.jpg"));
    QCOMPARE(readAll(dataset.images.at(0).filePath), red);
    QCOMPARE(readAll(dataset.images.at(1).filePath), blue);
    for (const ImageEntry &image : dataset.images) {
        QVERIFY(!image.hasInMemoryImage());
        QVERIFY(!image.storedBytes);
    }
}

void TestProjectCommands::failedExtractionKeepsTheMedia()
{
    QTemporaryDir dir;
    // The chosen folder cannot be made: its parent is a file.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry a = imageEntry(QStringLiteral("0001.jpg"), 32, 24);
    a.imageData = encoded(Qt::red, "JPG");
    access.project().dataset.addImage(a);
    access.modified() = true;
    const QString projectFile = dir.filePath(QStringLiteral("p.qmk"));
    prompts.answers.enqueue(int(QMessageBox::Ok));
    prompts.answers.enqueue(blocker + QStringLiteral("/media"));
    QVERIFY(!window.saveProjectTo(projectFile));

    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QVERIFY(!QFileInfo::exists(projectFile));
    QCOMPARE(access.project().dataset.images.at(0).filePath, QStringLiteral("0001.jpg"));
    QCOMPARE(access.project().dataset.images.at(0).imageData, a.imageData);
    QVERIFY(window.isModified());
    QVERIFY(window.currentProjectPath().isEmpty());
    QVERIFY(statusText(window) != QStringLiteral("Saved: p.qmk"));
}

void TestProjectCommands::editDuringASlowLoadStaysWithTheShownImage()
{
    QTemporaryDir dir;
    const auto slow = std::make_shared<LatePicture>();
    const QByteArray pixels = encoded(Qt::blue, "PNG", 400, 300);

    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry first = memoryImage(QStringLiteral("a.png"), 400, 300, Qt::gray);
    access.project().dataset.addImage(first);
    // The second image's pixels only arrive when the test delivers them.
    access.project().dataset.addImage(
        lateImage(QStringLiteral("slow.png"), slow, 400, 300, {box({300, 200, 20, 20})}));
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.projectPath() = dir.filePath(QStringLiteral("p.qmk"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    canvas->setTool(int(Tool::BBox));

    window.onImageSelected(1);
    QCOMPARE(window.currentImage(), 1);
    QCOMPARE(window.positionLabelWidget()->text(), QStringLiteral("2 / 2"));
    QTest::qWait(50);
    QCOMPARE(canvas->displayedEntryId(), 0);

    // Drawn and undone while image 1 loads: both belong to image 0.
    drawBox(canvas, {20, 20}, {120, 100});
    drawBox(canvas, {150, 20}, {250, 100});
    QTest::keySequence(canvas, QKeySequence::Undo);
    const Dataset &dataset = access.project().dataset;
    QCOMPARE(dataset.images.at(0).labels.size(), 1);
    QCOMPARE(dataset.images.at(1).labels.size(), 1);
    QCOMPARE(dataset.images.at(1).labels.at(0).bbox, QRectF(300, 200, 20, 20));
    QVERIFY(window.isModified());

    slow->deliver(pixels);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(300, 200, 20, 20));
    QCOMPARE(window.annotations()->annotationListWidget()->count(), 1);
    QCOMPARE(dataset.images.at(0).labels.size(), 1);
    QCOMPARE(window.zoomLabelWidget()->text(), QStringLiteral("%1%").arg(qRound(canvas->viewScale() * 100)));
}

void TestProjectCommands::staleLoadIsDropped()
{
    const auto slow = std::make_shared<LatePicture>();
    const QByteArray pixels = encoded(Qt::red, "PNG", 40, 30);
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(lateImage(QStringLiteral("slow.png"), slow, 40, 30));
    for (const QString &name : {QStringLiteral("b.png"), QStringLiteral("c.png")}) {
        ImageEntry entry = imageEntry(name, 40, 30);
        entry.image = QImage(40, 30, QImage::Format_RGB32);
        access.project().dataset.addImage(entry);
    }
    access.refreshUi(); // starts loading image 0, which waits
    window.onImageSelected(1);
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 1);
    slow->deliver(pixels);
    QTest::qWait(200);
    QCOMPARE(window.labelCanvas()->displayedEntryId(), 1);
    QCOMPARE(window.currentImage(), 1);
}

void TestProjectCommands::pictureOfAnEarlierProjectNeverLands()
{
    const auto slow = std::make_shared<LatePicture>();
    const QByteArray red = encoded(Qt::red, "PNG", 400, 300);

    MainWindow window;
    MainWindowTestAccess access(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Project A: its image 0 loads slowly.
    access.project().dataset.addImage(lateImage(QStringLiteral("slow.png"), slow, 400, 300));
    access.refreshUi();
    QCOMPARE(window.currentImage(), 0);

    // Project B replaces it before the pixels arrive; its image 0 holds blue
    // pixels in memory (as a package's images do) and shows at once.
    NewProjectSpec spec;
    spec.projectType = QStringLiteral("object_detection");
    spec.name = QStringLiteral("B");
    spec.classes = {{QStringLiteral("cat"), Qt::green}};
    window.createProject(spec);
    ImageEntry blue = memoryImage(QStringLiteral("blue.png"), 400, 300, Qt::blue);
    access.project().dataset.addImage(blue);
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    QCOMPARE(canvas->displayedEntryId(), 0);
    const auto centre = [canvas] {
        const QImage shot = canvas->grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() / 2);
    };
    QCOMPARE(centre(), QColor(Qt::blue));

    slow->deliver(red);
    QTest::qWait(300);
    QCOMPARE(canvas->displayedEntryId(), 0);
    QCOMPARE(centre(), QColor(Qt::blue));
    QCOMPARE(window.currentProject().dataset.images.at(0).filePath, QStringLiteral("blue.png"));
}

void TestProjectCommands::videoModeKeepsTheFrameOnTheCanvas()
{
    const auto slow = std::make_shared<LatePicture>();
    const QByteArray pixels = encoded(Qt::red, "PNG", 40, 30);
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(lateImage(QStringLiteral("slow.png"), slow, 40, 30));
    for (int i = 0; i < 2; ++i) {
        VideoEntry video;
        video.filePath = QStringLiteral("/v/%1.mp4").arg(i);
        video.width = 64;
        video.height = 48;
        video.frameCount = 10;
        access.project().dataset.addVideo(video);
    }
    access.refreshUi(); // starts loading image 0, which waits
    QImage frame(64, 48, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    access.showVideoFrame(1, 3, frame);
    LabelCanvas *canvas = window.labelCanvas();
    QCOMPARE(canvas->displayedEntryId(), ~1);

    // The image's pixels arriving after the switch to the video are dropped.
    slow->deliver(pixels);
    QTest::qWait(200);
    QCOMPARE(canvas->displayedEntryId(), ~1);

    // A refresh, or the removal of the current image, keeps the frame shown,
    // and the next edit still goes to the frame.
    access.refreshUi();
    QCOMPARE(canvas->displayedEntryId(), ~1);
    prompts.answers.enqueue(int(QMessageBox::Yes));
    window.onDeleteImages({0});
    QCOMPARE(canvas->displayedEntryId(), ~1);
    QVERIFY(window.isVideoMode());
    canvas->setAnnotations({box({5, 5, 10, 10})});
    QCOMPARE(access.project().dataset.videos.at(1).frameLabels.value(3).size(), 1);
    QVERIFY(access.project().dataset.videos.at(0).frameLabels.isEmpty());
}

void TestProjectCommands::nextPreviousApproveDiscard()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    for (int id : {3, 5, 9}) {
        ImageEntry entry = imageEntry(QStringLiteral("mem%1.png").arg(id), 10, 10, {box({0, 0, 2, 2})});
        entry.id = id;
        entry.image = QImage(10, 10, QImage::Format_RGB32);
        access.project().dataset.addImage(entry);
    }
    access.refreshUi();
    QCOMPARE(window.currentImage(), 3);

    const QList<QPair<void (MainWindow::*)(), int>> steps = {
        {&MainWindow::onPrev, 9}, {&MainWindow::onNext, 3}, {&MainWindow::onNext, 5}, {&MainWindow::onNext, 9},
        {&MainWindow::onNext, 3},
    };
    for (const auto &[step, expected] : steps) {
        (window.*step)();
        QCOMPARE(window.currentImage(), expected);
        QCOMPARE(window.labelCanvas()->displayedEntryId(), expected);
        QCOMPARE(window.imageList()->listView()->currentIndex().data(Qt::UserRole).toInt(), expected);
    }
    QCOMPARE(window.mediaNameLabelWidget()->text(), QStringLiteral("mem3.png"));
    QCOMPARE(window.positionLabelWidget()->text(), QStringLiteral("1 / 3"));

    access.selectImage(9);
    window.onApprove();
    QCOMPARE(statusText(window), QStringLiteral("Done."));
    QCOMPARE(window.currentImage(), 3);
    window.onDiscard();
    QCOMPARE(statusText(window), QStringLiteral("Discarded."));
    QCOMPARE(window.currentImage(), 5);
    for (const ImageEntry &image : access.project().dataset.images)
        QCOMPARE(image.labels.size(), 1);
    QVERIFY(!window.isModified());

    // An id that names no image counts as the first position.
    access.currentImageId() = 42;
    window.onNext();
    QCOMPARE(window.currentImage(), 5);

    // A choice on the film strip moves the image list's current row too.
    emit window.filmStripWidget()->imageSelected(9);
    QCOMPARE(window.currentImage(), 9);
    QCOMPARE(window.imageList()->listView()->currentIndex().data(Qt::UserRole).toInt(), 9);
}

void TestProjectCommands::removeImages_data()
{
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("status");
    QTest::newRow("current C") << QList<int>{2} << 3 << "Removed 1 image(s). 3 remaining.";
    QTest::newRow("C and D") << QList<int>{2, 3} << 1 << "Removed 2 image(s). 2 remaining.";
    QTest::newRow("all") << QList<int>{0, 1, 2, 3} << -1 << "Removed 4 image(s). 0 remaining.";
    QTest::newRow("not current") << QList<int>{0} << 2 << "Removed 1 image(s). 3 remaining.";
}

void TestProjectCommands::removeImages()
{
    QFETCH(QList<int>, removed);
    QFETCH(int, current);
    QFETCH(QString, status);
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    fourImageProject(access, dir);
    window.onImageSelected(2);
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 2);

    prompts.answers.enqueue(int(QMessageBox::Yes));
    window.onDeleteImages(removed);
    QCOMPARE(statusText(window), status);
    QCOMPARE(window.currentImage(), current);
    QVERIFY(window.isModified());
    QCOMPARE(window.imageList()->listView()->model()->rowCount(), 4 - removed.size());
    if (current >= 0) {
        QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), current);
        int position = 0;
        while (access.project().dataset.images.at(position).id != current)
            ++position;
        QCOMPARE(window.positionLabelWidget()->text(),
                 QStringLiteral("%1 / %2").arg(position + 1).arg(4 - removed.size()));
    } else {
        QVERIFY(!window.labelCanvas()->displayedEntryId().has_value());
        QVERIFY(window.mediaNameLabelWidget()->text().isEmpty());
    }
}

void TestProjectCommands::removeImageQuestions()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(imageEntry(QStringLiteral("/x/plain.png"), 5, 5));
    access.project().dataset.addImage(imageEntry(QStringLiteral("/x/marked.png"), 5, 5, {box({0, 0, 1, 1})}));
    access.project().dataset.addImage(imageEntry(QStringLiteral("/x/other.png"), 5, 5));
    access.refreshUi();

    const QList<QPair<QList<int>, QString>> cases = {
        {{0}, "Remove 'plain.png' from the project?"},
        {{1}, "'marked.png' has annotations. Remove it from the project?"},
        {{42}, "Remove 'image' from the project?"},
        {{0, 2}, "Remove 2 images from the project?"},
        {{0, 1}, "Remove 2 images from the project? Some have annotations."},
    };
    for (const auto &[ids, text] : cases) {
        prompts.answers.enqueue(int(QMessageBox::No));
        window.onDeleteImages(ids);
        QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Remove Images"));
        QCOMPARE(prompts.calls.constLast().text, text);
    }
    QCOMPARE(access.project().dataset.images.size(), 3);
    QVERIFY(!window.isModified());
    window.onDeleteImages({});
    QCOMPARE(prompts.calls.size(), cases.size());
}

void TestProjectCommands::removeVideos()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    for (int i = 0; i < 3; ++i) {
        VideoEntry video;
        video.filePath = QStringLiteral("/v/%1.mp4").arg(i);
        video.width = 64;
        video.height = 48;
        video.frameCount = 20;
        video.frameLabels.insert(2, {box({1, 1, 4, 4})});
        access.project().dataset.addVideo(video);
    }
    access.refreshUi();
    QImage frame(64, 48, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    access.showVideoFrame(1, 2, frame);
    QVERIFY(window.videoScrubberWidget()->isVisibleTo(&window));

    prompts.answers.enqueue(int(QMessageBox::No));
    window.onDeleteVideos({1});
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Remove Video"));
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("Remove this video and all its frame annotations from the project?"));
    QCOMPARE(access.project().dataset.videos.size(), 3);

    prompts.answers.enqueue(int(QMessageBox::Yes));
    window.onDeleteVideos({0, 1});
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("Remove 2 videos and all their frame annotations from the project?"));
    QCOMPARE(access.project().dataset.videos.size(), 1);
    QCOMPARE(statusText(window), QStringLiteral("Removed 2 video(s)."));
    QVERIFY(!window.isVideoMode());
    QCOMPARE(access.currentVideoId(), -1);
    QVERIFY(!window.labelCanvas()->displayedEntryId().has_value());
    QVERIFY(!window.videoScrubberWidget()->isVisibleTo(&window));
    QVERIFY(window.isModified());
}

void TestProjectCommands::bulkClassAssignment()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    for (int i = 0; i < 5; ++i) {
        ImageEntry entry = imageEntry(QStringLiteral("m%1.png").arg(i), 100, 50, {box({1, 1, 3, 3}, "old")});
        entry.image = QImage(100, 50, QImage::Format_RGB32);
        access.project().dataset.addImage(entry);
    }
    access.project().projectType = QStringLiteral("classification");
    access.refreshUi();
    const QStringList names = {"cat", "indoor"};

    // One image selected: it gets one whole-image box per class; the small box
    // drawn on it is no class tag and stays.
    access.onClassesSelected(names);
    const ImageEntry &first = access.project().dataset.images.at(0);
    QCOMPARE(first.labels.size(), 3);
    QCOMPARE(first.labels.at(2).className, QStringLiteral("old"));
    QCOMPARE(first.labels.at(0).className, QStringLiteral("cat"));
    QCOMPARE(first.labels.at(1).className, QStringLiteral("indoor"));
    QCOMPARE(first.labels.at(1).bbox, QRectF(0, 0, 100, 50));
    QCOMPARE(window.labelCanvas()->annotations().size(), 3);
    QVERIFY(window.isModified());
    QCOMPARE(access.project().dataset.images.at(1).labels.at(0).className, QStringLiteral("old"));

    // Five selected: a question first, then all five.
    window.imageList()->listView()->selectAll();
    prompts.answers.enqueue(int(QMessageBox::No));
    access.onClassesSelected({"dog"});
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Bulk Assign"));
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("5 image(s) will be assigned to \"dog\".\nProceed?"));
    QCOMPARE(access.project().dataset.images.at(3).labels.at(0).className, QStringLiteral("old"));

    prompts.answers.enqueue(int(QMessageBox::Yes));
    access.onClassesSelected(names);
    for (const ImageEntry &image : access.project().dataset.images) {
        QCOMPARE(image.labels.size(), 3);
        QCOMPARE(image.labels.at(0).className, QStringLiteral("cat"));
        QCOMPARE(image.labels.at(2).className, QStringLiteral("old"));
    }
    QCOMPARE(statusText(window), QStringLiteral("Assigned \"cat, indoor\" to 5 image(s)."));

    // Other project types are left alone.
    access.project().projectType = QStringLiteral("object_detection");
    access.onClassesSelected({"zebra"});
    QCOMPARE(access.project().dataset.images.at(0).labels.at(0).className, QStringLiteral("cat"));
}

void TestProjectCommands::classGatePrompts()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    prompts.answers.enqueue(int(QMessageBox::Ok));
    emit window.labelCanvas()->classRequired();
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("messageBox"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Save Project First"));
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("<b>Project has not been saved.</b>"));
    QVERIFY(prompts.calls.constLast().extra.startsWith(
        QStringLiteral("Please save your project before drawing annotations.<br><br>")));

    access.projectPath() = QStringLiteral("/p/x.qmk");
    window.onClassRequired();
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Select Project Type"));
    QCOMPARE(prompts.calls.constLast().text, QStringLiteral("<b>Project type is not selected.</b>"));
    QCOMPARE(prompts.calls.constLast().extra,
             QStringLiteral("Please select a project type before drawing annotations.<br><br>Click the&nbsp; <b>Set "
                            "Type ▾</b> &nbsp;badge in the top bar to continue."));
    QCOMPARE(prompts.calls.size(), 2);
}

void TestProjectCommands::defineAClassDialog()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.projectPath() = QStringLiteral("/p/x.qmk");
    access.project().projectType = QStringLiteral("object_detection");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QStringList listed;
    bool doneEnabledAtStart = true;
    onNextModal([&](QWidget *modal) {
        QCOMPARE(modal->windowTitle(), QStringLiteral("Define a Class"));
        auto *edit = modal->findChild<QLineEdit *>();
        auto *list = modal->findChild<QListWidget *>();
        QPushButton *add = nullptr;
        for (QPushButton *button : modal->findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("Add"))
                add = button;
        }
        QPushButton *done = modal->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        doneEnabledAtStart = done->isEnabled();
        QVERIFY(!add->isEnabled());
        QCOMPARE(edit->placeholderText(), QStringLiteral("Class name…"));
        edit->setText(QStringLiteral("   "));
        QVERIFY(!add->isEnabled());
        edit->setText(QStringLiteral(" cat "));
        QVERIFY(add->isEnabled());
        add->click();
        QVERIFY(edit->text().isEmpty());
        edit->setText(QStringLiteral("cat"));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(edit->text().isEmpty());
        edit->setText(QStringLiteral("Cat"));
        QTest::keyClick(edit, Qt::Key_Return);
        for (int i = 0; i < list->count(); ++i)
            listed << list->item(i)->text();
        QVERIFY(done->isEnabled());
        done->click();
    });
    window.onClassRequired();
    QVERIFY(!doneEnabledAtStart);
    QCOMPARE(listed, (QStringList{"cat", "Cat"}));
    QCOMPARE(access.project().dataset.classColors.keys(), (QStringList{"Cat", "cat"}));
    QCOMPARE(window.annotations()->classColors().size(), 2);
}

void TestProjectCommands::projectTypeChange()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.projectPath() = QStringLiteral("/p/x.qmk");
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.updateTitle();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const auto chooseCard = [](int index) {
        onNextModal([index](QWidget *modal) {
            QList<QAbstractButton *> cards;
            for (QAbstractButton *button : modal->findChildren<QAbstractButton *>()) {
                if (button->isCheckable())
                    cards << button;
            }
            QCOMPARE(cards.size(), 5);
            cards.at(index)->click();
            modal->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
    };
    // Card order follows the type table: detection, segmentation, pose, face, classification.
    chooseCard(1);
    window.onProjectTypeChangeRequested();
    QCOMPARE(window.currentProject().projectType, QStringLiteral("segmentation"));
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Polygon));
    QCOMPARE(window.labelCanvas()->currentTool(), int(Tool::Polygon));
    // The type is saved with the project: closing now asks first.
    QVERIFY(window.isModified());

    // The same type again changes nothing, not even the tool.
    access.modified() = false;
    window.labelCanvas()->setTool(int(Tool::Select));
    window.sideToolBarWidget()->setTool(int(Tool::Select));
    chooseCard(1);
    window.onProjectTypeChangeRequested();
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Select));
    QVERIFY(!window.isModified());

    // Without classes the user is led to define one.
    access.project().dataset.classColors.clear();
    bool classDialogShown = false;
    chooseCard(4);
    QTimer::singleShot(100, [&classDialogShown] {
        QWidget *modal = QApplication::activeModalWidget();
        classDialogShown = modal && modal->windowTitle() == QStringLiteral("Define a Class");
        if (modal)
            static_cast<QDialog *>(modal)->reject();
    });
    window.onProjectTypeChangeRequested();
    QCOMPARE(window.currentProject().projectType, QStringLiteral("classification"));
    QVERIFY(classDialogShown);
    QCOMPARE(window.labelCanvas()->currentTool(), int(Tool::Select));

    // Retyped to face, the project draws boxes: the face tool needs its model.
    access.project().dataset.addClass(QStringLiteral("face"), QColor());
    chooseCard(3);
    window.onProjectTypeChangeRequested();
    QCOMPARE(window.currentProject().projectType, QStringLiteral("face"));
    QCOMPARE(window.labelCanvas()->currentTool(), int(Tool::BBox));
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::BBox));
}

void TestProjectCommands::videoFrameWriteBack()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    VideoEntry video;
    video.filePath = QStringLiteral("/v/clip.mp4");
    video.width = 64;
    video.height = 48;
    video.frameCount = 30;
    video.frameLabels.insert(12, {box({1, 1, 10, 10})});
    video.frameLabels.insert(20, {box({2, 2, 10, 10})});
    access.project().dataset.addVideo(video);
    access.refreshUi();
    QImage frame(64, 48, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    access.showVideoFrame(0, 12, frame);
    window.videoScrubberWidget()->setMarkers({12, 20});

    window.labelCanvas()->deleteAnnotation(0);
    const auto stored = [&access] { return access.project().dataset.videos.at(0); };
    QVERIFY(!stored().frameLabels.contains(12));
    QCOMPARE(window.videoScrubberWidget()->markers(), QSet<int>{20});
    QVERIFY(window.isModified());

    // A frame requested but not yet shown does not take the edits of the one shown.
    access.currentFrame() = 25;
    window.labelCanvas()->setAnnotations({box({5, 5, 5, 5})});
    QCOMPARE(stored().frameLabels.value(12).size(), 1);
    QVERIFY(!stored().frameLabels.contains(25));
}

void TestProjectCommands::classEditsReachTheShownImage()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry entry = imageEntry(QStringLiteral("pkg.jpg"), 32, 24, {box({1, 1, 5, 5}, "cat"), box({2, 2, 5, 5}, "dog")});
    entry.imageData = encoded(Qt::red, "JPG");
    access.project().dataset.addImage(entry);
    access.project().dataset.addImage(imageEntry(QStringLiteral("/x/other.png"), 5, 5, {box({0, 0, 1, 1}, "cat")}));
    access.refreshUi();
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);

    emit window.annotations()->classRemoved(QStringLiteral("cat"));
    QCOMPARE(window.labelCanvas()->annotations().size(), 1);
    QCOMPARE(access.project().dataset.images.at(1).labels.size(), 0);
    // A later edit on the canvas cannot bring the removed class back.
    window.labelCanvas()->selectAnnotation(0);
    window.labelCanvas()->deleteAnnotation(0);
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 0);
    QVERIFY(window.isModified());

    emit window.annotations()->classRenamed(QStringLiteral("dog"), QStringLiteral("hound"));
    QVERIFY(access.project().dataset.classColors.contains(QStringLiteral("hound")));
    // An edited package image keeps its pixels in memory.
    QCOMPARE(access.project().dataset.images.at(0).imageData, entry.imageData);
}

void TestProjectCommands::mediaCheckTakenAwayBeforeItsAnswer()
{
    // The check of an opened project's files answers from its worker. When the
    // project is closed while that answer is on its way, the check is deleted,
    // and the answer must reach no handler that would use it (under ASan, the
    // handler's use of the deleted check shows).
    QTemporaryDir dir;
    Project saved;
    saved.projectType = QStringLiteral("object_detection");
    saved.dataset.addImage(imageEntry(writeImage(QDir(dir.path()), QStringLiteral("a.png"), 20, 20, Qt::gray), 20, 20));
    const QString path = dir.filePath(QStringLiteral("p.qmk"));
    QVERIFY(saveProjectFile(saved, path));

    MainWindow window;
    MissingMediaCheck::setBeforeFinishedHook(&pauseBeforeMediaCheckAnswer);
    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY(mediaCheckAnswering.available() > 0);
    mediaCheckAnswering.acquire();
    window.onCloseProject();
    // The deferred deletion runs here: the check's destructor waits for its
    // worker, which sends the answer meanwhile.
    QTest::qWait(1000);
    MissingMediaCheck::setBeforeFinishedHook(nullptr);
    QVERIFY(!window.findChild<MissingMediaCheck *>());
    QVERIFY(window.currentProject().dataset.images.isEmpty());
    QCOMPARE(prompts.calls.size(), 1);
}

void TestProjectCommands::openedFileAsksNothingUntilChanged_data()
{
    QTest::addColumn<bool>("package");
    QTest::addColumn<QString>("command");
    for (const bool package : {true, false}) {
        for (const QString command : {"close", "new", "exit"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(package ? "package" : "project file", command)))
                << package << command;
    }
}

void TestProjectCommands::openedFileAsksNothingUntilChanged()
{
    // A package or project file opened into an empty window and left as it
    // was holds nothing to save: Close, New and leaving the program ask no
    // question. An edit afterwards does make them ask.
    QFETCH(bool, package);
    QFETCH(QString, command);
    QTemporaryDir dir;
    Dataset packed;
    for (const QString name : {"a.png", "b.png"}) {
        ImageEntry entry = imageEntry(writeImage(QDir(dir.path()), name, 60, 40, Qt::gray), 60, 40, {box({1, 1, 5, 5})});
        if (package) {
            entry.imageData = encoded(Qt::red, "PNG", 60, 40);
            entry.filePath = name;
        }
        packed.addImage(entry);
    }
    const QString path = dir.filePath(package ? QStringLiteral("set.qmpkg") : QStringLiteral("set.qmk"));
    if (package) {
        QVERIFY(QpkgHandler::writePackage(path, packed, {}, QStringLiteral("object_detection")));
    } else {
        Project project;
        project.projectType = QStringLiteral("object_detection");
        project.dataset = packed;
        QVERIFY(saveProjectFile(project, path));
    }

    MainWindow window;
    window.resize(1280, 720);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    prompts.answers.enqueue(path);
    if (package)
        window.onImportQuillPackage();
    else
        window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);
    QCOMPARE(window.currentProject().dataset.images.size(), 2);
    QVERIFY(!window.isModified());

    const auto run = [&] {
        if (command == QLatin1String("close")) {
            window.onCloseProject();
        } else if (command == QLatin1String("new")) {
            onNextModal([](QWidget *modal) {
                if (auto *wizard = qobject_cast<QDialog *>(modal))
                    wizard->reject();
            });
            window.onNewProject();
        } else {
            window.close();
        }
    };
    const auto questions = [&] {
        return std::count_if(prompts.calls.cbegin(), prompts.calls.cend(),
                             [](const QmTest::PromptCall &call) { return call.kind == QLatin1String("question"); });
    };
    run();
    QCOMPARE(questions(), 0);
    if (command == QLatin1String("new"))
        QCOMPARE(window.currentProject().dataset.images.size(), 2);
    else if (command == QLatin1String("close"))
        QVERIFY(window.currentProject().dataset.images.isEmpty());
    else
        QVERIFY(!window.isVisible());
    if (command != QLatin1String("new"))
        return;

    // An edit is a change: now the same command asks.
    window.labelCanvas()->setAnnotations({});
    QVERIFY(window.isModified());
    prompts.answers.enqueue(int(QMessageBox::Cancel));
    run();
    QCOMPARE(questions(), 1);
}

void TestProjectCommands::packageSavedAsProjectOffersAFolderThatExists_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("saved");
    QTest::newRow("the folder offered") << "cats" << true;
    QTest::newRow("another folder") << "elsewhere" << true;
    QTest::newRow("no folder") << "" << false;
}

void TestProjectCommands::packageSavedAsProjectOffersAFolderThatExists()
{
    // Saving a package's project as a project file offers the folder beside
    // it, named after it; a folder picker takes only a folder that exists, so
    // the offered one is there when the picker opens. It is not left behind
    // when the user picks another folder or none.
    QFETCH(QString, answer);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("elsewhere"))));
    FolderPickerPrompts picker;
    Prompts::setOverride(&picker);
    const auto restore = qScopeGuard([this] { Prompts::setOverride(&prompts); });
    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry photo = imageEntry(QStringLiteral("photo.png"), 32, 24, {box({1, 1, 5, 5})});
    photo.imageData = encoded(Qt::red, "PNG");
    access.project().dataset.addImage(photo);
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();

    const QString offered = dir.filePath(QStringLiteral("cats"));
    picker.answers.enqueue(int(QMessageBox::Ok));
    picker.answers.enqueue(answer.isEmpty() ? QString() : dir.filePath(answer));
    QCOMPARE(window.saveProjectTo(dir.filePath(QStringLiteral("cats.qmk"))), saved);
    QCOMPARE(picker.calls.at(1).kind, QStringLiteral("dir"));
    QCOMPARE(picker.calls.at(1).text, offered);
    QCOMPARE(picker.startFolderExisted, QList<bool>{true});
    QCOMPARE(QFileInfo(offered).isDir(), answer == QLatin1String("cats"));
    if (saved)
        QCOMPARE(access.project().dataset.images.at(0).filePath, dir.filePath(answer) + QStringLiteral("/photo.png"));
}

void TestProjectCommands::filteredListStepsWithTheCanvas()
{
    // With a filter on the Files list, every step shows an image the list
    // shows, and the list highlights it: D and A, the first and last image,
    // Approve. The film strip holds the same images.
    MainWindow window;
    MainWindowTestAccess access(window);
    sixImagesSomeLabelled(access);
    window.resize(1280, 720);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ImageListPanel *list = window.imageList();
    LabelCanvas *canvas = window.labelCanvas();

    list->unlabeledFilter()->setChecked(false); // shows 0, 2 and 5
    QVERIFY2(outOfStep(window, 0).isEmpty(), qPrintable(outOfStep(window, 0)));
    QCOMPARE(window.filmStripWidget()->shownIds(), (QList<int>{0, 2, 5}));
    canvas->setFocus();
    const QList<QPair<std::function<void()>, int>> steps = {
        {[&] { QTest::keyClick(canvas, Qt::Key_D); }, 2},
        {[&] { QTest::keyClick(canvas, Qt::Key_D); }, 5},
        {[&] { QTest::keyClick(canvas, Qt::Key_D); }, 0},
        {[&] { QTest::keyClick(canvas, Qt::Key_A); }, 5},
        {[&] { QTest::keyClick(canvas, Qt::Key_A); }, 2},
        {[&] { emit window.toolBarWidget()->skipPreviousClicked(); }, 0},
        {[&] { emit window.toolBarWidget()->skipNextClicked(); }, 5},
        {[&] { window.onApprove(); }, 0},
    };
    for (const auto &[step, expected] : steps) {
        step();
        QVERIFY2(outOfStep(window, expected).isEmpty(), qPrintable(outOfStep(window, expected)));
    }

    // The other filter: 1, 3 and 4, the first of them shown. Labelled, the
    // image shown leaves the list; the next step goes on from it.
    list->labeledFilter()->setChecked(false);
    list->unlabeledFilter()->setChecked(true);
    QVERIFY2(outOfStep(window, 1).isEmpty(), qPrintable(outOfStep(window, 1)));
    QCOMPARE(window.filmStripWidget()->shownIds(), (QList<int>{1, 3, 4}));
    canvas->setAnnotations({box({2, 2, 6, 6})});
    QVERIFY(!list->showsValue(1));
    QTest::keyClick(canvas, Qt::Key_D);
    QVERIFY2(outOfStep(window, 3).isEmpty(), qPrintable(outOfStep(window, 3)));

    // A list that shows nothing: nothing on the canvas, and D says why.
    list->unlabeledFilter()->setChecked(false);
    QVERIFY(!canvas->displayedEntryId().has_value());
    QVERIFY(!list->listView()->currentIndex().isValid());
    QTest::keyClick(canvas, Qt::Key_D);
    QVERIFY(!canvas->displayedEntryId().has_value());
    QVERIFY(statusText(window).startsWith(QStringLiteral("The Files list shows no image")));
    list->labeledFilter()->setChecked(true);
    QVERIFY2(outOfStep(window, 0).isEmpty(), qPrintable(outOfStep(window, 0)));
}

void TestProjectCommands::removingTheShownItemKeepsListAndCanvasTogether()
{
    QImage frame(64, 48, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    {
        // The video shown goes: the canvas is empty, and the list highlights
        // nothing (not an image the canvas does not show).
        MainWindow window;
        MainWindowTestAccess access(window);
        for (int i = 0; i < 2; ++i)
            access.project().dataset.addImage(memoryImage(QStringLiteral("m%1.png").arg(i), 40, 30));
        for (int i = 0; i < 2; ++i) {
            VideoEntry video;
            video.filePath = QStringLiteral("/v/%1.mp4").arg(i);
            video.width = 64;
            video.height = 48;
            video.frameCount = 10;
            access.project().dataset.addVideo(video);
        }
        access.refreshUi();
        access.showVideoFrame(1, 2, frame);
        window.imageList()->selectVideo(1);
        prompts.answers.enqueue(int(QMessageBox::Yes));
        window.onDeleteVideos({1});
        QVERIFY(!window.isVideoMode());
        QVERIFY(!window.labelCanvas()->displayedEntryId().has_value());
        QVERIFY(!window.imageList()->listView()->currentIndex().isValid());
        QCOMPARE(window.currentImage(), -1);
        // The next step shows an image, and the list follows it.
        window.onNext();
        QVERIFY2(outOfStep(window, 1).isEmpty(), qPrintable(outOfStep(window, 1)));

        // A video that is not shown goes: the image shown stays highlighted.
        prompts.answers.enqueue(int(QMessageBox::Yes));
        window.onDeleteVideos({0});
        QVERIFY2(outOfStep(window, 1).isEmpty(), qPrintable(outOfStep(window, 1)));
    }
    {
        // The image shown goes while the list is filtered: the next image the
        // list shows takes its place on the canvas and in the list.
        MainWindow window;
        MainWindowTestAccess access(window);
        sixImagesSomeLabelled(access);
        window.imageList()->unlabeledFilter()->setChecked(false); // 0, 2, 5
        QVERIFY2(outOfStep(window, 0).isEmpty(), qPrintable(outOfStep(window, 0)));
        prompts.answers.enqueue(int(QMessageBox::Yes));
        window.onDeleteImages({0});
        QVERIFY2(outOfStep(window, 2).isEmpty(), qPrintable(outOfStep(window, 2)));
        prompts.answers.enqueue(int(QMessageBox::Yes));
        window.onDeleteImages({5, 2});
        QVERIFY(!window.labelCanvas()->displayedEntryId().has_value());
        QVERIFY(!window.imageList()->listView()->currentIndex().isValid());
    }
}

void TestProjectCommands::picturesDecodeAFewAtATime()
{
    // Stepping quickly through pictures that take long to read: only a few
    // decodes run at once, and a selection waiting for its turn gives it to
    // the next one; the last picture selected is the one shown.
    auto gate = std::make_shared<DecodeGate>();
    const QByteArray png = encoded(Qt::blue, "PNG", 60, 40);
    MainWindow window;
    MainWindowTestAccess access(window);
    constexpr int count = 10;
    for (int i = 0; i < count; ++i) {
        ImageEntry entry = imageEntry(QStringLiteral("p%1.png").arg(i), 60, 40);
        entry.storedBytes = std::make_shared<GatedBytes>(gate, png);
        access.project().dataset.addImage(entry);
    }
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi(); // image 0 starts decoding
    for (int i = 1; i < count; ++i)
        window.onNext();
    QCOMPARE(window.currentImage(), count - 1);
    QTRY_VERIFY(gate->inFlight >= 2);
    // Time for any further decode to start, were one to.
    QTest::qWait(200);
    QCOMPARE(gate->peak.load(), 2);

    gate->open.release(count * 2);
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), count - 1);
    QTRY_COMPARE(gate->inFlight.load(), 0);
    // The first two, then the last selected: the ones passed over are never read.
    QCOMPARE(gate->reads.load(), 3);
    QCOMPARE(window.imageList()->listView()->currentIndex().data(Qt::UserRole).toInt(), count - 1);
}

void TestProjectCommands::stalledDecodeFreesItsPlace()
{
    // Two reads that hang (a network path that stopped answering) hold their
    // places only for a while: a later picture is decoded all the same, and
    // shown. Results of the hung reads, when they come at last, are handed
    // over too (the window drops those of pictures no longer selected).
    auto gate = std::make_shared<DecodeGate>();
    auto quick = std::make_shared<DecodeGate>();
    quick->open.release(1);
    const QByteArray png = encoded(Qt::blue, "PNG", 6, 4);
    PictureDecodeQueue queue(nullptr, 2, 300);
    QList<int> delivered;
    for (int i = 0; i < 3; ++i) {
        ImageEntry entry = imageEntry(QStringLiteral("p%1.png").arg(i), 6, 4);
        entry.id = i;
        entry.storedBytes = std::make_shared<GatedBytes>(i < 2 ? gate : quick, png);
        queue.request(entry, 1, [&delivered, i](const PictureDecodeQueue::Result &result) {
            if (!result.pixels.isNull())
                delivered.append(i);
        });
    }
    QCOMPARE(queue.running(), 2);
    QVERIFY(queue.hasWaiting());
    QTRY_COMPARE(delivered, QList<int>{2});
    QCOMPARE(gate->inFlight.load(), 2);
    gate->open.release(2);
    QTRY_COMPARE(delivered.size(), 3);
    QCOMPARE(queue.running(), 0);
}

void TestProjectCommands::endToEndSession()
{
    QTemporaryDir dir;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    NewProjectSpec spec;
    spec.projectType = QStringLiteral("segmentation");
    spec.name = QStringLiteral("Garden");
    spec.classes = {{QStringLiteral("leaf"), QColor(0, 160, 0)}};
    for (int i = 0; i < 3; ++i)
        spec.imagePaths << writeImage(QDir(dir.path()), QStringLiteral("g%1.png").arg(i), 400, 300,
                                      QColor::fromHsv(i * 90, 200, 200));
    const QString path = dir.filePath(QStringLiteral("garden.qmk"));
    spec.savePath = path;
    window.createProject(spec);
    QCOMPARE(window.currentProject().dataset.images.size(), 3);

    LabelCanvas *canvas = window.labelCanvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    canvas->zoomActualSize();
    window.labelCanvas()->setFocus();
    QCOMPARE(canvas->currentTool(), int(Tool::Polygon));
    // A segmentation project has no box tool: B leaves the polygon tool on.
    QTest::keyClick(canvas, Qt::Key_B);
    QCOMPARE(canvas->currentTool(), int(Tool::Polygon));
    for (const QPointF &p : {QPointF(30, 30), QPointF(130, 30), QPointF(130, 110), QPointF(30, 110)})
        clickAt(canvas, p);
    clickAt(canvas, {30, 30}); // closes the polygon at its first point
    QTest::keyClick(canvas, Qt::Key_V);
    QTest::keyClick(canvas, Qt::Key_P);
    for (const QPointF &p : {QPointF(200, 50), QPointF(300, 60), QPointF(260, 160)})
        clickAt(canvas, p);
    clickAt(canvas, {200, 50});
    QCOMPARE(canvas->annotations().size(), 2);
    QVERIFY(window.isModified());

    window.onSaveProject();
    QVERIFY(!window.isModified());
    const QByteArray firstSave = readAll(path);
    window.onCloseProject();
    QVERIFY(window.currentProject().dataset.images.isEmpty());
    QVERIFY(!canvas->displayedEntryId().has_value());

    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY(!window.isJobRunning());
    const Project &reopened = window.currentProject();
    QCOMPARE(reopened.projectType, QStringLiteral("segmentation"));
    QCOMPARE(reopened.dataset.images.size(), 3);
    const QList<Annotation> labels = reopened.dataset.images.at(0).labels;
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels.at(0).kind, int(Polygon));
    QCOMPARE(labels.at(0).bbox, QRectF(30, 30, 100, 80));
    QCOMPARE(labels.at(1).kind, int(Polygon));
    QCOMPARE(labels.at(1).points.size(), 3);
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    QCOMPARE(canvas->annotations().size(), 2);

    window.onSaveProject();
    QCOMPARE(readAll(path), firstSave);
}

QM_TEST_MAIN(TestProjectCommands)
#include "tst_projectcommands.moc"
