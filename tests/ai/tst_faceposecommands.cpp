// The face and pose commands through the real main window, offscreen, with the
// tiny generated models: loading, the preview on the current image, accepting it
// as one undo step, clearing it, losing it to another image, runs over all
// images, failures and cancelling.

#include "AiCommandTestSupport.h"
#include "AiDialogTestSupport.h"
#include "AppTestSupport.h"
#include "FacePoseTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ModelsFolder.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "dialogs/SettingsDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUndoStack>

using namespace Quillmark;
using namespace AppTest;
using AiDialogTest::buttonWithText;
using FacePoseTest::model;

namespace {

// Runs the settings dialog from the tool bar; `edit` changes it before OK, or
// Cancel is pressed when it returns false.
void runSettings(MainWindow &window, const std::function<bool(SettingsDialog *)> &edit)
{
    onNextModal([edit](QWidget *modal) {
        auto *dialog = qobject_cast<SettingsDialog *>(modal);
        QVERIFY(dialog);
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        buttons->button(edit(dialog) ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    emit window.toolBarWidget()->settingsClicked();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isModelLoading(), QmTest::patienceMs);
}

} // namespace

class TestFacePoseCommands : public QObject, AiCommandTest::WindowFixture {
    Q_OBJECT

    QTemporaryDir dir;

    // A project of the type with images 0 and 1 as files of 640 x 480, image 2 a
    // file that is missing, and image 3 held in memory (1280 x 720); image 0 is
    // shown.
    void openProject(const QString &type)
    {
        Project &project = access->project();
        project.projectType = type;
        const QDir folder(dir.path());
        project.dataset.addImage(imageEntry(writeImage(folder, "a.png", 640, 480, Qt::gray), 640, 480));
        project.dataset.addImage(imageEntry(writeImage(folder, "b.png", 640, 480, Qt::darkGray), 640, 480));
        project.dataset.addImage(imageEntry(folder.filePath("missing.png"), 640, 480));
        ImageEntry inMemory = imageEntry(QString(), 1280, 720);
        inMemory.image = FacePoseTest::picture(1280, 720);
        project.dataset.addImage(inMemory);
        access->refreshUi();
        access->updateTitle();
        showImage(0);
    }

    void showImage(int id)
    {
        access->selectImage(id);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), id);
    }

    const ImageEntry &image(int id) { return *access->project().dataset.imageById(id); }

    void loadFaceModel(const char *name)
    {
        emit window->faceAnnotationDialog()->modelSelected(model(name));
        waitForModelLoads();
        QVERIFY2(window->faceEngine().isReady(), qPrintable(window->faceEngine().lastError()));
    }

    void loadPoseModel(const char *name)
    {
        emit window->poseAnnotationDialog()->modelSelected(model(name));
        waitForModelLoads();
        QVERIFY2(window->poseEngine().isReady(), qPrintable(window->poseEngine().lastError()));
    }

    QListWidget *faceList() { return window->faceAnnotationDialog()->findChild<QListWidget *>(); }

private slots:
    void initTestCase()
    {
        // No models folder from the program's or the working folder: the
        // dialogs find only what a test names.
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        QVERIFY(findModelsFolder(QCoreApplication::applicationDirPath()).isEmpty());
    }

    void init() { open(); }

    void cleanup() { close(); }

    // The Face tool opens the face panel and hands the canvas back to Select.
    void faceToolOpensThePanel()
    {
        openProject("face");
        SideToolBar *side = window->sideToolBarWidget();
        QVERIFY(side->button(int(Tool::Face))->isEnabled());
        side->button(int(Tool::Face))->click();
        QVERIFY(window->faceAnnotationDialog()->isVisible());
        QCOMPARE(window->labelCanvas()->currentTool(), int(Tool::Select));
        QCOMPARE(side->tool(), int(Tool::Select));
    }

    void faceModelLoading()
    {
        FaceAnnotationDialog *dialog = window->faceAnnotationDialog();
        QLabel *info = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        loadFaceModel("face_landmarks.onnx");
        QCOMPARE(statusText(*window), QStringLiteral("Face model: face_landmarks.onnx"));
        QCOMPARE(info->text(), QStringLiteral("✓ Model loaded  (5 landmarks)"));
        QCOMPARE(dialog->loadedPath(), model("face_landmarks.onnx"));
        QVERIFY(buttonWithText(dialog, "Run Current")->isEnabled());

        loadFaceModel("face_box.onnx");
        QCOMPARE(info->text(), QStringLiteral("✓ Model loaded  (bbox only — no landmarks)"));

        emit dialog->modelSelected(model("bad_face_two_outputs.onnx"));
        waitForModelLoads();
        const QString failure = QStringLiteral("Failed to load face model: Beklenmeyen çıkış sayısı: 2. Desteklenen: "
                                               "1 (post-processed) veya 3 (DFL multi-scale).");
        QCOMPARE(statusText(*window), failure);
        QCOMPARE(info->text(), failure);
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        QVERIFY(dialog->loadedPath().isEmpty());
    }

    // Run current -> preview on the canvas and in the list -> Accept adds the
    // faces as one undo step to the image's record.
    void faceRunCurrentThenAccept()
    {
        openProject("face");
        loadFaceModel("face_landmarks.onnx");
        LabelCanvas *canvas = window->labelCanvas();

        window->onFaceRunCurrent();
        waitForRunEnd();
        // 640 x 480 into 640 x 640: 80 rows of border above; the face in the
        // border only is dropped, two overlapping ones suppressed at IoU 0.45.
        QCOMPARE(statusText(*window), QStringLiteral("Face: 3 face(s) detected.  Click Accept to save."));
        QCOMPARE(window->pendingFaceResults().size(), 3);
        const QList<Annotation> pending = canvas->pendingAnnotationList();
        QCOMPARE(pending.size(), 3);
        QCOMPARE(pending[0].kind, int(Keypoint));
        QCOMPARE(pending[0].className, QStringLiteral("face"));
        QCOMPARE(pending[0].bbox, QRectF(220, 190, 200, 100));
        QCOMPARE(pending[0].points.size(), 5);
        QCOMPARE(faceList()->count(), 3);
        QVERIFY(image(0).labels.isEmpty());

        // A second run replaces the preview.
        window->onFaceRunCurrent();
        waitForRunEnd();
        QCOMPARE(canvas->pendingAnnotationList().size(), 3);
        QCOMPARE(faceList()->count(), 3);

        const int stepsBefore = canvas->undoStack()->count();
        QTest::mouseClick(buttonWithText(window->faceAnnotationDialog(), "Accept"), Qt::LeftButton);
        QCOMPARE(statusText(*window), QStringLiteral("Face annotations accepted."));
        QCOMPARE(image(0).labels.size(), 3);
        QCOMPARE(image(0).labels[0].keypointVis, (QList<int>{2, 2, 0, 0, 2}));
        QVERIFY(window->isModified());
        QVERIFY(access->project().dataset.classColors.contains("face"));
        QCOMPARE(canvas->undoStack()->count(), stepsBefore + 1);
        QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Pose Annotation"));
        QVERIFY(canvas->pendingAnnotationList().isEmpty());
        QVERIFY(window->pendingFaceResults().isEmpty());
        QCOMPARE(faceList()->count(), 0);

        canvas->undoStack()->undo();
        QVERIFY(image(0).labels.isEmpty());

        // Accepting with nothing pending does nothing.
        window->statusBar()->clearMessage();
        window->onFaceAccept();
        QVERIFY(statusText(*window).isEmpty());
        QVERIFY(image(0).labels.isEmpty());
    }

    void faceClearAndNoImage()
    {
        openProject("face");
        loadFaceModel("face_box.onnx");
        window->onFaceRunCurrent();
        waitForRunEnd();
        LabelCanvas *canvas = window->labelCanvas();
        const Annotation first = canvas->pendingAnnotationList()[0];
        QCOMPARE(first.kind, int(BoundingBox));
        // A face without landmarks shows as its box: the outline is on screen.
        const QPoint edge = canvas->toScreen(QPointF(first.bbox.left(), first.bbox.center().y())).toPoint();
        const QImage withPreview = canvas->grab().toImage();
        window->onFaceClear();
        const QImage without = canvas->grab().toImage();
        QVERIFY(withPreview.pixelColor(edge) != without.pixelColor(edge));
        QCOMPARE(statusText(*window), QStringLiteral("Face preview cleared."));
        QVERIFY(window->labelCanvas()->pendingAnnotationList().isEmpty());
        QVERIFY(window->pendingFaceResults().isEmpty());
        QCOMPARE(faceList()->count(), 0);

        window->onFaceRunCurrent();
        waitForRunEnd();
        access->currentImageId() = -1;
        window->onFaceRunCurrent();
        QVERIFY(!window->isAiBatchRunning());
        QCOMPARE(statusText(*window), QStringLiteral("Face: please open an image first."));
        QCOMPARE(window->pendingFaceResults().size(), 3);
    }

    // A preview belongs to its image: showing another drops it (and the list),
    // so Accept adds nothing anywhere.
    void imageChangeDropsThePreview()
    {
        openProject("face");
        loadFaceModel("face_box.onnx");
        window->onFaceRunCurrent();
        waitForRunEnd();
        QCOMPARE(faceList()->count(), 3);
        showImage(3);
        QVERIFY(window->pendingFaceResults().isEmpty());
        QCOMPARE(faceList()->count(), 0);
        QVERIFY(!buttonWithText(window->faceAnnotationDialog(), "Accept")->isEnabled());
        window->onFaceAccept();
        for (const ImageEntry &entry : access->project().dataset.images)
            QVERIFY(entry.labels.isEmpty());
        QVERIFY(!window->isModified());
    }

    // Results of a run whose image is no longer shown when they arrive are
    // dropped, not shown on the other image.
    void imageChangeDuringTheRun()
    {
        openProject("face");
        // Image 1's pixels in memory, so that showing it is immediate.
        access->project().dataset.imageById(1)->image = FacePoseTest::picture(640, 480);
        showImage(3);
        loadFaceModel("face_box.onnx");
        window->onFaceRunCurrent();
        QVERIFY(window->isAiBatchRunning());
        access->selectImage(1); // while the run is in flight
        QCOMPARE(window->labelCanvas()->displayedEntryId(), 1);
        waitForRunEnd();
        QCOMPARE(statusText(*window),
                 QStringLiteral("Face: another image is shown now; the faces found were dropped."));
        QVERIFY(window->labelCanvas()->pendingAnnotationList().isEmpty());
        QVERIFY(window->pendingFaceResults().isEmpty());
    }

    // Failed runs are failures, never "0 face(s)".
    void faceRunFailure()
    {
        openProject("face");
        loadFaceModel("bad_face_fp16.onnx");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FaceInferencer::run: .*float16"));
        window->onFaceRunCurrent();
        waitForRunEnd();
        QVERIFY2(statusText(*window).startsWith(QStringLiteral("Face: inference failed — ")),
                 qPrintable(statusText(*window)));
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].kind, QStringLiteral("warning"));
        QVERIFY(prompts.calls[0].text.contains(QStringLiteral("float16")));

        for (int i = 0; i < 3; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FaceInferencer::run: .*float16"));
        window->onFaceRunAll();
        waitForRunEnd();
        QVERIFY2(statusText(*window).contains(QStringLiteral("Inference failed on 3 image(s)")),
                 qPrintable(statusText(*window)));
        QVERIFY(prompts.calls.last().text.startsWith(QStringLiteral("Inference failed on 3 of 4 images")));
        QVERIFY(!window->isModified());
    }

    // Every readable image gets its faces in its record, without undo steps;
    // the missing file is skipped and still counted.
    void faceRunAll()
    {
        openProject("face");
        loadFaceModel("face_box.onnx");
        window->onFaceRunCurrent();
        waitForRunEnd();
        QVERIFY(!window->pendingFaceResults().isEmpty());
        const int stepsBefore = window->labelCanvas()->undoStack()->count();

        window->onFaceRunAll();
        QVERIFY(!buttonWithText(window->faceAnnotationDialog(), "Run All")->isEnabled());
        QVERIFY(!buttonWithText(window->faceAnnotationDialog(), "Cancel")->isHidden());
        waitForRunEnd();
        // 3 faces on each readable picture; the missing file is counted.
        QCOMPARE(image(0).labels.size(), 3);
        QCOMPARE(image(1).labels.size(), 3);
        QCOMPARE(image(2).labels.size(), 0);
        QCOMPARE(image(3).labels.size(), 3);
        QCOMPARE(statusText(*window),
                 QStringLiteral("Face: added 9 face(s) across 4 image(s). 1 image(s) could not be read."));
        QVERIFY(window->isModified());
        QCOMPARE(image(0).labels[0].className, QStringLiteral("face"));
        // The shown image's canvas holds them; the preview, now added, is gone.
        QCOMPARE(window->labelCanvas()->annotations().size(), 3);
        QVERIFY(window->labelCanvas()->undoStack()->count() <= stepsBefore);
        QVERIFY(window->pendingFaceResults().isEmpty());
        QVERIFY(buttonWithText(window->faceAnnotationDialog(), "Run All")->isEnabled());
        QVERIFY(!window->isAiBatchRunning());
    }

    // Cancelled before any result was applied: nothing is added.
    void faceRunAllCancelled()
    {
        openProject("face");
        loadFaceModel("face_box.onnx");
        window->onFaceRunAll();
        QTest::mouseClick(buttonWithText(window->faceAnnotationDialog(), "Cancel"), Qt::LeftButton);
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("Face: cancelled after 0 of 4 image(s); added 0 face(s)."));
        for (const ImageEntry &entry : access->project().dataset.images)
            QVERIFY(entry.labels.isEmpty());
        QVERIFY(!window->isModified());
    }

    // The model cannot change under a run.
    void modelKeptDuringARun()
    {
        openProject("face");
        loadFaceModel("face_box.onnx");
        window->onFaceRunAll();
        emit window->faceAnnotationDialog()->modelSelected(model("face_landmarks.onnx"));
        waitForModelLoads();
        QCOMPARE(statusText(*window), QStringLiteral("Please wait until the current operation has finished."));
        QCOMPARE(window->faceEngine().modelPath(), model("face_box.onnx"));
        waitForRunEnd();
    }

    // While one tool's run goes on, the other tools' run buttons stay
    // enabled in their own windows: each click says why nothing starts.
    void otherRunsWaitForTheRunningOne()
    {
        openProject("pose");
        loadFaceModel("face_box.onnx");
        loadPoseModel("pose_17.onnx");
        window->onFaceRunAll();
        QVERIFY(window->isAiBatchRunning());
        const std::vector<std::pair<const char *, std::function<void()>>> requests{
            {"face current", [this] { window->onFaceRunCurrent(); }},
            {"pose current", [this] { window->onPoseRunCurrent(); }},
            {"pose all", [this] { window->onPoseRunAll(); }},
        };
        for (const auto &[name, request] : requests) {
            window->statusBar()->clearMessage();
            request();
            QVERIFY2(statusText(*window) == QStringLiteral("Please wait until the current operation has finished."),
                     name);
        }
        QVERIFY(buttonWithText(window->poseAnnotationDialog(), "Run All")->isEnabled());
        waitForRunEnd();
        QVERIFY(window->pendingPoseResults().isEmpty());
        QCOMPARE(image(3).labels.size(), 3);
        QCOMPARE(image(3).labels[0].className, QStringLiteral("face"));
    }

    // Run All is enabled once a model is loaded, also before the project has
    // images: it says why nothing runs.
    void runAllWithoutImages()
    {
        loadFaceModel("face_box.onnx");
        loadPoseModel("pose_17.onnx");
        QVERIFY(buttonWithText(window->faceAnnotationDialog(), "Run All")->isEnabled());
        window->onFaceRunAll();
        QVERIFY(!window->isAiBatchRunning());
        QCOMPARE(statusText(*window), QStringLiteral("Face: the project has no images yet."));
        QVERIFY(buttonWithText(window->poseAnnotationDialog(), "Run All")->isEnabled());
        window->onPoseRunAll();
        QVERIFY(!window->isAiBatchRunning());
        QCOMPARE(statusText(*window), QStringLiteral("Pose: the project has no images yet."));
    }

    // Accepted settings hand the configured face and body models to their
    // dialogs, which load them; a configured file that is missing does not
    // unload a working model, and Cancel pushes nothing.
    void settingsPushConfiguredModels()
    {
        QSettings().setValue("models/body", model("pose_21.onnx"));
        runSettings(*window, [](SettingsDialog *dialog) {
            dialog->modelEdit("models/face")->setText(model("face_box.onnx"));
            return true;
        });
        QCOMPARE(window->faceEngine().modelPath(), model("face_box.onnx"));
        QCOMPARE(window->faceAnnotationDialog()->loadedPath(), model("face_box.onnx"));
        QCOMPARE(window->poseEngine().modelPath(), model("pose_21.onnx"));
        QCOMPARE(window->poseEngine().keypointCount(), 21);

        runSettings(*window, [](SettingsDialog *dialog) {
            dialog->modelEdit("models/face")->setText(model("face_landmarks.onnx"));
            return false;
        });
        QCOMPARE(window->faceEngine().modelPath(), model("face_box.onnx"));

        runSettings(*window, [](SettingsDialog *dialog) {
            dialog->modelEdit("models/face")->setText(QDir::tempPath() + "/no-such-face.onnx");
            return true;
        });
        QVERIFY(window->faceEngine().isReady());
        QCOMPARE(window->faceEngine().modelPath(), model("face_box.onnx"));
    }

    // --- Pose -------------------------------------------------------------------

    void poseRunCurrentVisibilityAccept()
    {
        openProject("pose");
        showImage(3);
        PoseAnnotationDialog *dialog = window->poseAnnotationDialog();
        loadPoseModel("pose_17.onnx");
        QCOMPARE(statusText(*window), QStringLiteral("Pose model: pose_17.onnx"));
        QVERIFY(buttonWithText(dialog, "Run Current")->isEnabled());
        dialog->show();
        waitForModelLoads();

        window->onPoseRunCurrent();
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("Pose: 1 person(s) detected.  Click Accept to save."));
        QCOMPARE(window->pendingPoseResults().size(), 1);
        QList<Annotation> pending = window->labelCanvas()->pendingAnnotationList();
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending[0].className, QStringLiteral("person"));
        QCOMPARE(pending[0].points.size(), 17);
        QCOMPARE(pending[0].keypointVis[1], 2);

        // Keypoint 1 visible -> occluded through the dialog's tree: the preview
        // follows at once.
        QTreeWidget *tree = dialog->findChild<QTreeWidget *>();
        QTRY_COMPARE(tree->topLevelItemCount(), 17);
        QTreeWidgetItem *item = tree->topLevelItem(1);
        const QRect rect = tree->visualItemRect(item);
        const int x = tree->header()->sectionViewportPosition(2) + 20;
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, rect.center().y()));
        QCOMPARE(window->labelCanvas()->pendingAnnotationList()[0].keypointVis[1], 1);

        // A person index beyond the preview changes nothing.
        emit dialog->keypointVisibilityChanged(3, 1, 0);
        QCOMPARE(window->labelCanvas()->pendingAnnotationList()[0].keypointVis[1], 1);

        window->onPoseAccept();
        QCOMPARE(statusText(*window), QStringLiteral("Pose annotations accepted."));
        QCOMPARE(image(3).labels.size(), 1);
        QCOMPARE(image(3).labels[0].kind, int(Keypoint));
        QCOMPARE(image(3).labels[0].keypointVis[1], 1);
        QCOMPARE(window->labelCanvas()->undoStack()->undoText(), QStringLiteral("Pose Annotation"));
        QCOMPARE(dialog->findChild<QListWidget *>()->count(), 0);
    }

    // The hovered keypoint of the selected annotation becomes the tree's
    // current row while the pose panel is shown.
    void hoveredKeypointForwarded()
    {
        openProject("pose");
        showImage(3);
        PoseAnnotationDialog *dialog = window->poseAnnotationDialog();
        loadPoseModel("pose_17.onnx");
        dialog->show();
        waitForModelLoads();
        window->onPoseRunCurrent();
        waitForRunEnd();
        emit window->labelCanvas()->poseKeypointHovered(4);
        QTreeWidget *tree = dialog->findChild<QTreeWidget *>();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(4));
        dialog->hide();
        emit window->labelCanvas()->poseKeypointHovered(6);
        QCOMPARE(tree->currentItem(), tree->topLevelItem(4));
    }

    // One preview at a time: a pose preview replaces a face preview.
    void onePreviewAtATime()
    {
        openProject("pose");
        showImage(3);
        loadFaceModel("face_box.onnx");
        loadPoseModel("pose_17.onnx");
        window->onFaceRunCurrent();
        waitForRunEnd();
        QVERIFY(!window->pendingFaceResults().isEmpty());
        window->onPoseRunCurrent();
        waitForRunEnd();
        QVERIFY(window->pendingFaceResults().isEmpty());
        QCOMPARE(faceList()->count(), 0);
        QCOMPARE(window->labelCanvas()->pendingAnnotationList().size(), 1);
        window->onFaceAccept();
        QVERIFY(image(3).labels.isEmpty());
    }

    void poseRunAllCountsImages()
    {
        openProject("pose");
        loadPoseModel("pose_17.onnx");
        window->onPoseRunAll();
        waitForRunEnd();
        QCOMPARE(statusText(*window), QStringLiteral("Pose: processed 4 image(s). 1 image(s) could not be read."));
        QCOMPARE(image(3).labels.size(), 1);
        QCOMPARE(image(3).labels[0].className, QStringLiteral("person"));
        QVERIFY(window->isModified());
    }

    void palmDetectorGivesSevenKeypoints()
    {
        openProject("pose");
        showImage(3);
        loadPoseModel("palm_192.onnx");
        window->onPoseRunCurrent();
        waitForRunEnd();
        const QList<Annotation> pending = window->labelCanvas()->pendingAnnotationList();
        QCOMPARE(pending.size(), 3);
        for (const Annotation &hand : pending) {
            QCOMPARE(hand.className, QStringLiteral("person"));
            QCOMPARE(hand.kind, int(Keypoint));
            QCOMPARE(hand.keypointVis, QList<int>(7, 2));
        }
    }
};

QM_TEST_MAIN(TestFacePoseCommands)
#include "tst_faceposecommands.moc"
