// The auto-label commands through the real window, with the generated tiny
// models run by the real ONNX Runtime: choosing the tool, loading the model,
// runs over the current image (one undo step per result) and over every image
// (straight into the records, off the GUI thread), failures, and what changes
// under a run.

#include "AiCommandTestSupport.h"
#include "AiDialogTestSupport.h"
#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "panels/ImageListPanel.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QThreadPool>
#include <QUndoStack>

#include <sys/stat.h>

using namespace Quillmark;
using AiDialogTest::buttonWithText;
using namespace AppTest;

namespace {

QString model(const char *name)
{
    return QStringLiteral(QM_AI_MODELS_DIR "/") + QLatin1String(name);
}

QList<int> kinds(const QList<Annotation> &labels)
{
    QList<int> result;
    for (const Annotation &a : labels)
        result.append(a.kind);
    return result;
}

} // namespace

class TestAutoLabelCommands : public QObject, AiCommandTest::WindowFixture {
    Q_OBJECT

    QTemporaryDir dir;
    // Ids of the three images: a 1280 x 720 picture held in memory, a
    // 720 x 1280 file, and a file that is no picture.
    int wide = -1;
    int tall = -1;
    int broken = -1;

    AiAutoLabelDialog *dialog() const { return window->autoLabelDialog(); }

    void openProject(const QString &type)
    {
        access->project().projectType = type;
        ImageEntry inMemory = imageEntry(QStringLiteral("wide.png"), 1280, 720);
        inMemory.image = QImage(1280, 720, QImage::Format_RGB32);
        inMemory.image.fill(QColor(90, 120, 150));
        access->project().dataset.addImage(inMemory);
        access->project().dataset.addImage(
            imageEntry(writeImage(QDir(dir.path()), "tall.png", 720, 1280, QColor(40, 80, 20)), 720, 1280));
        QFile garbage(dir.filePath("broken.png"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a picture");
        garbage.close();
        access->project().dataset.addImage(imageEntry(garbage.fileName(), 0, 0));
        const QList<ImageEntry> &images = access->project().dataset.images;
        wide = images.at(0).id;
        tall = images.at(1).id;
        broken = images.at(2).id;
        access->refreshUi();
        access->updateTitle();
        access->modified() = false;
    }

    void show(int imageId)
    {
        access->selectImage(imageId);
        window->imageList()->selectImage(imageId);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), imageId);
    }

    void chooseAiTool()
    {
        emit window->sideToolBarWidget()->toolChanged(Tool::AiLabel);
        waitForModelLoads();
    }

    const ImageEntry &entry(int id) { return *access->project().dataset.imageById(id); }

private slots:
    void init() { open(); }

    void cleanup() { close(); }

    // The tool loads the model configured in Settings and shows the dialog in
    // simple mode; the tool goes back to Select; choosing it again loads
    // nothing new.
    void toolLoadsTheConfiguredModel()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        QSignalSpy selected(dialog(), &AiAutoLabelDialog::modelSelected);
        chooseAiTool();
        QCOMPARE(selected.count(), 1);
        QVERIFY(window->detectionEngine().isLoaded());
        QCOMPARE(dialog()->loadedPath(), model("det_names.onnx"));
        QCOMPARE(statusText(*window), QStringLiteral("Model: det_names.onnx  |  2 classes  |  detection"));
        QVERIFY(dialog()->isVisible());
        QVERIFY(dialog()->isSimpleMode());
        QCOMPARE(dialog()->windowTitle(), QStringLiteral("AI Detection"));
        QCOMPARE(window->labelCanvas()->currentTool(), int(Tool::Select));
        QCOMPARE(window->sideToolBarWidget()->tool(), int(Tool::Select));
        QVERIFY(buttonWithText(dialog(), "Run on Current Image")->isEnabled());

        chooseAiTool();
        QCOMPARE(selected.count(), 1);
        QVERIFY(prompts.calls.isEmpty());
    }

    void toolWithoutAModel()
    {
        openProject("segmentation");
        chooseAiTool();
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].title, QStringLiteral("Model Not Found"));
        QCOMPARE(prompts.calls[0].text, QStringLiteral("No segmentation model is configured.\n\nPlease set the model "
                                                       "path in Settings → Models → Segmentation."));
        QVERIFY(!dialog()->isVisible());
        QCOMPARE(window->sideToolBarWidget()->tool(), int(Tool::Select));

        // A configured model that failed to load leaves the run buttons off.
        QSettings().setValue("models/segmentation", model("bad_channels_last.onnx"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: .*"));
        chooseAiTool();
        QVERIFY(dialog()->isVisible());
        QVERIFY(!window->detectionEngine().isLoaded());
        QVERIFY(statusText(*window).startsWith("Failed to load model: bad_channels_last.onnx"));
        QVERIFY(!buttonWithText(dialog(), "Run on Current Image")->isEnabled());
        QVERIFY(!buttonWithText(dialog(), "Run on All Images")->isEnabled());
    }

    // A model opens on a worker: the dialog shows the busy state with "Cancel"
    // at once; Cancel drops the load, whose model never arrives. Closing the
    // dialog and the window while a model opens neither crashes nor hangs.
    void modelOpensOffTheWindowThread()
    {
        openProject("object_detection");
        dialog()->show();
        emit dialog()->modelSelected(model("det_names.onnx"));
        QVERIFY(window->isModelLoading());
        QCOMPARE(statusText(*window), QStringLiteral("Loading model: det_names.onnx…"));
        QPushButton *cancel = buttonWithText(dialog(), "Cancel");
        QVERIFY(cancel->isVisible());
        QVERIFY(!buttonWithText(dialog(), "Run on All Images")->isEnabled());
        QVERIFY(!buttonWithText(dialog(), "Run on Current Image")->isEnabled());

        cancel->click();
        QVERIFY(!window->isModelLoading());
        QVERIFY(!cancel->isVisible());
        QCOMPARE(statusText(*window), QStringLiteral("Model loading cancelled."));
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QVERIFY(!window->detectionEngine().isLoaded());
        QVERIFY(dialog()->loadedPath().isEmpty());

        // The next load is taken in as usual.
        emit dialog()->modelSelected(model("det_names.onnx"));
        waitForModelLoads();
        QVERIFY(window->detectionEngine().isLoaded());
        QCOMPARE(dialog()->loadedPath(), model("det_names.onnx"));

        emit dialog()->modelSelected(model("seg.onnx"));
        dialog()->hide();
        close();
        QThreadPool::globalInstance()->waitForDone();
        open();
    }

    // A "model" that is a named pipe or a link to /dev/zero is refused at
    // once, whether it is the configured model or one chosen in the dialog:
    // nothing waits on the pipe or reads the device, and the window says why.
    void specialFileAsTheModel_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
    }

    void specialFileAsTheModel()
    {
        QFETCH(QString, kind);
        openProject("object_detection");
        const QString name = kind + QStringLiteral(".onnx");
        const QString path = dir.filePath(name);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QFile::link("/dev/zero", path));
        QSettings().setValue("models/detection", path);
        QElapsedTimer timer;
        timer.start();
        chooseAiTool();
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].title, QStringLiteral("Model Not Found"));
        QVERIFY(!window->detectionEngine().isLoaded());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: .*"));
        emit dialog()->modelSelected(path);
        waitForModelLoads();
        QVERIFY(timer.elapsed() < QmTest::patienceMs);
        QVERIFY(!window->detectionEngine().isLoaded());
        QCOMPARE(statusText(*window),
                 QStringLiteral("Failed to load model: %1 — the model is not a regular file").arg(name));
        QVERIFY(!buttonWithText(dialog(), "Run on Current Image")->isEnabled());
    }

    // Each result of a run on the shown image is one undo step; the results go
    // into the image's record and mark the project modified.
    void runOnTheCurrentImage()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        chooseAiTool();
        show(wide);

        buttonWithText(dialog(), "Run on Current Image")->click();
        QVERIFY(window->isAiBatchRunning());
        QCOMPARE(statusText(*window), QStringLiteral("Running inference…"));
        QVERIFY(!buttonWithText(dialog(), "Run on All Images")->isEnabled());
        waitForRunEnd();

        QCOMPARE(statusText(*window), QStringLiteral("AI: found 4 object(s) on current image."));
        QUndoStack *undo = window->labelCanvas()->undoStack();
        QCOMPARE(undo->count(), 4);
        for (int i = 0; i < undo->count(); ++i)
            QCOMPARE(undo->text(i), QStringLiteral("AI Detection"));
        QCOMPARE(entry(wide).labels.size(), 4);
        QCOMPARE(entry(wide).labels.at(0).className, QStringLiteral("cat"));
        QCOMPARE(entry(wide).labels.at(0).bbox, QRectF(440, 260, 400, 200));
        QCOMPARE(entry(wide).labels.at(0).confidence, 0.9f);
        QCOMPARE(kinds(entry(wide).labels), (QList<int>{BoundingBox, BoundingBox, BoundingBox, BoundingBox}));
        QVERIFY(access->modified());
        QVERIFY(access->project().dataset.classColors.contains("dog"));
        QVERIFY(buttonWithText(dialog(), "Run on All Images")->isEnabled());

        undo->undo();
        QCOMPARE(entry(wide).labels.size(), 3);
    }

    // A segmentation model in a segmentation project gives polygons that keep
    // the detection's box; an unreadable current image is a message.
    void segmentationOnTheCurrentImage()
    {
        openProject("segmentation");
        QSettings().setValue("models/segmentation", model("seg.onnx"));
        chooseAiTool();
        QCOMPARE(statusText(*window), QStringLiteral("Model: seg.onnx  |  1 classes  |  segmentation"));
        show(wide);
        buttonWithText(dialog(), "Run on Current Image")->click();
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("AI: found 2 instance(s) on current image."));
        const QList<Annotation> labels = entry(wide).labels;
        QCOMPARE(kinds(labels), (QList<int>{Polygon, Polygon}));
        QCOMPARE(labels.at(0).bbox, QRectF(280, 160, 560, 240));
        QCOMPARE(labels.at(0).points, (QList<QPointF>{{320, 204}, {320, 356}, {800, 356}, {800, 204}}));
        QVERIFY(labels.at(1).points.isEmpty());
        QCOMPARE(window->labelCanvas()->undoStack()->count(), 2);

        access->selectImage(broken);
        buttonWithText(dialog(), "Run on Current Image")->click();
        waitForRunEnd();
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].kind, QStringLiteral("warning"));
        QCOMPARE(prompts.calls[0].text, QStringLiteral("Could not read image file."));
    }

    // Run over all images: off the GUI thread with the file commands and the
    // image list waiting; results straight into the records, no undo steps; the
    // unreadable image is counted.
    void runOnAllImages()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        chooseAiTool();
        show(wide);
        window->labelCanvas()->addDetection(box(QRectF(1, 1, 5, 5), "mine"));
        access->modified() = false;

        buttonWithText(dialog(), "Run on All Images")->click();
        QVERIFY(window->isJobRunning());
        QVERIFY(!window->toolBarWidget()->isEnabled());
        QVERIFY(!window->imageList()->isEnabled());
        QVERIFY(buttonWithText(dialog(), "Cancel")->isVisible());
        window->onSaveProject(); // waits for the run
        QCOMPARE(statusText(*window), QStringLiteral("Please wait until the current operation has finished."));
        waitForRunEnd();

        QCOMPARE(statusText(*window), QStringLiteral("AI: added 8 detection(s) across 3 images. "
                                                     "1 image(s) could not be read."));
        QCOMPARE(entry(wide).labels.size(), 5);
        QCOMPARE(entry(wide).labels.at(0).className, QStringLiteral("mine"));
        QCOMPARE(entry(tall).labels.size(), 4);
        QCOMPARE(entry(tall).labels.at(0).bbox, QRectF(320, 60, 80, 80));
        QVERIFY(entry(broken).labels.isEmpty());
        QCOMPARE(window->labelCanvas()->annotations().size(), 5);
        QCOMPARE(window->labelCanvas()->undoStack()->count(), 0);
        QVERIFY(access->modified());
        QVERIFY(window->toolBarWidget()->isEnabled());
        QVERIFY(window->imageList()->isEnabled());
        QVERIFY(!window->progressBarWidget()->isVisible());
        QVERIFY(!buttonWithText(dialog(), "Cancel")->isVisible());
    }

    // A model whose output cannot be decoded is a failure, never "found 0".
    void malformedModelIsAFailure()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_rows.onnx"));
        chooseAiTool();
        show(wide);
        buttonWithText(dialog(), "Run on Current Image")->click();
        waitForRunEnd();
        QVERIFY2(statusText(*window).startsWith("AI: inference failed — output shape [1,50,6]"),
                 qPrintable(statusText(*window)));
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].title, QStringLiteral("AI Auto-Label"));
        QVERIFY(prompts.calls[0].text.startsWith("Inference failed:\noutput shape [1,50,6]"));
        QVERIFY(entry(wide).labels.isEmpty());
        QVERIFY(!access->modified());

        buttonWithText(dialog(), "Run on All Images")->click();
        waitForRunEnd();
        QVERIFY2(statusText(*window).startsWith("AI: added 0 detection(s) across 3 images. 1 image(s) could not "
                                                "be read. Inference failed on 2 image(s): output shape"),
                 qPrintable(statusText(*window)));
        QCOMPARE(prompts.calls.size(), 2);
        QVERIFY(prompts.calls[1].text.startsWith("Inference failed on 2 of 3 images:\n"));
        QVERIFY(!access->modified());
    }

    // The shown image changes while its run is in flight: the results go to the
    // image they were computed for, not to the one now shown.
    void imageChangesDuringARun()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        chooseAiTool();
        show(tall);
        buttonWithText(dialog(), "Run on Current Image")->click();
        access->selectImage(wide); // in memory: shown at once, before any result
        QCOMPARE(window->labelCanvas()->displayedEntryId(), wide);
        waitForRunEnd();

        QCOMPARE(statusText(*window), QStringLiteral("AI: added 4 object(s) to tall.png, which is no longer shown."));
        QVERIFY(entry(wide).labels.isEmpty());
        QVERIFY(window->labelCanvas()->annotations().isEmpty());
        QCOMPARE(window->labelCanvas()->undoStack()->count(), 0);
        QCOMPARE(entry(tall).labels.size(), 4);
        QVERIFY(access->modified());
        show(tall);
        QCOMPARE(window->labelCanvas()->annotations().size(), 4);
    }

    // Cancelled before any result arrived: nothing is added. A project that
    // replaces the running one gets nothing of the run either.
    void cancelOrReplaceStopsTheRun()
    {
        openProject("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        chooseAiTool();
        buttonWithText(dialog(), "Run on All Images")->click();
        buttonWithText(dialog(), "Cancel")->click();
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("AI: cancelled after 0 of 3 image(s); added 0 detection(s)."));
        for (int id : {wide, tall, broken})
            QVERIFY(entry(id).labels.isEmpty());
        QVERIFY(!access->modified());

        buttonWithText(dialog(), "Run on All Images")->click();
        NewProjectSpec spec;
        spec.name = QStringLiteral("fresh");
        spec.projectType = QStringLiteral("object_detection");
        window->createProject(spec);
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("AI: stopped, the project was replaced."));
        QVERIFY(access->project().dataset.images.isEmpty());
        QVERIFY(!access->modified());
        QVERIFY(window->toolBarWidget()->isEnabled());
    }

    // A project whose every picture fails to read adds nothing and stays
    // unmodified; with no image shown the current-image run asks for one.
    void nothingToReadOrShow()
    {
        access->project().projectType = QStringLiteral("object_detection");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        chooseAiTool();
        buttonWithText(dialog(), "Run on Current Image")->click();
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].kind, QStringLiteral("information"));
        QCOMPARE(prompts.calls[0].text, QStringLiteral("Please open an image first."));
        // Run on All Images is enabled with the model: it says why nothing runs.
        buttonWithText(dialog(), "Run on All Images")->click();
        QVERIFY(!window->isAiBatchRunning());
        QCOMPARE(statusText(*window), QStringLiteral("AI: the project has no images yet."));

        for (const char *name : {"x.png", "y.jpg"})
            access->project().dataset.addImage(imageEntry(dir.filePath(name), 10, 10));
        access->refreshUi();
        // The shown image's failed load reports itself first.
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), access->project().dataset.images.first().id);
        access->modified() = false;
        buttonWithText(dialog(), "Run on All Images")->click();
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("AI: added 0 detection(s) across 2 images. "
                                                     "2 image(s) could not be read."));
        QVERIFY(!access->modified());
    }

    // Accepted settings load the model of the project's task; cancelled ones
    // load nothing.
    void settingsLoadTheTasksModel()
    {
        openProject("segmentation");
        QSettings().setValue("models/detection", model("det_names.onnx"));
        QSettings().setValue("models/segmentation", model("seg.onnx"));
        QSignalSpy selected(dialog(), &AiAutoLabelDialog::modelSelected);
        onNextModal([](QWidget *modal) { static_cast<QDialog *>(modal)->reject(); });
        emit window->toolBarWidget()->settingsClicked();
        waitForModelLoads();
        QCOMPARE(selected.count(), 0);

        onNextModal([](QWidget *modal) { static_cast<QDialog *>(modal)->accept(); });
        emit window->toolBarWidget()->settingsClicked();
        waitForModelLoads();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), model("seg.onnx"));
        QVERIFY(window->detectionEngine().isSegmentation());
        QCOMPARE(dialog()->loadedPath(), model("seg.onnx"));
    }

    // In other project types the dialog offers its model list instead.
    void poseProjectUsesTheList()
    {
        access->project().projectType = QStringLiteral("pose");
        access->updateTitle();
        chooseAiTool();
        QVERIFY(dialog()->isVisible());
        QVERIFY(!dialog()->isSimpleMode());
        QVERIFY(prompts.calls.isEmpty());
        QCOMPARE(dialog()->windowTitle(), QStringLiteral("AI Auto-Label"));
    }
};

QM_TEST_MAIN(TestAutoLabelCommands)
#include "tst_autolabelcommands.moc"
