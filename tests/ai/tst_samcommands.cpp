// Click and concept segmentation through the real main window, offscreen, with
// small generated models in a models folder next to the test program: encode,
// click, preview, accept as one undo step; what happens after another image is
// shown; concept detections accepted in the order given.

#include "AiCommandTestSupport.h"
#include "AiDialogTestSupport.h"
#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "PipeRescue.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "canvas/LabelCanvas.h"

#include <atomic>

#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>

using namespace Quillmark;
using namespace AppTest;
using AiDialogTest::buttonWithText;

namespace {

QString modelsRoot()
{
    return QCoreApplication::applicationDirPath() + "/models";
}

void copyModel(const QString &from, const QString &to)
{
    const QString target = modelsRoot() + "/segmentation/" + to;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    QVERIFY2(QFile::copy(QStringLiteral(QM_SAM_MODELS_DIR "/") + from, target), qPrintable(from));
}

QString statusOf(QWidget *dialog)
{
    return dialog->findChild<QLabel *>("mutedLabel")->text();
}

// Counts the debug lines that announce a concept encoder load.
std::atomic<int> encoderLoads = 0; // models open on a worker thread
QtMessageHandler previousHandler = nullptr;
void countLoads(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains("[SAM3] Loading vision encoder"))
        ++encoderLoads;
    previousHandler(type, context, message);
}

} // namespace

class TestSamCommands : public QObject, AiCommandTest::WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QDir(modelsRoot()).removeRecursively();
        // The point-prompt model: 8 x 16 masks; the winner covers rows 2-5 and
        // columns 4-11, that is (40, 25) to (120, 55) on a 160 x 80 image.
        copyModel("sam_blocks.onnx", "segmentation_mobile_sam.onnx");
        for (const char *name :
             {"sam3_vision_encoder.onnx", "sam3_decoder.onnx", "sam3_tokenizer.json", "sam3_image_norm.json"})
            copyModel(QStringLiteral("sam3/") + name, name);
        previousHandler = qInstallMessageHandler(countLoads);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        QDir(modelsRoot()).removeRecursively();
    }

    void init()
    {
        open();
        MainWindowTestAccess &access = *this->access;
        const QDir dir(files.path());
        access.project().projectType = QStringLiteral("segmentation");
        access.project().dataset.addImage(imageEntry(writeImage(dir, "A.png", 160, 80, QColor(255, 0, 51)), 160, 80));
        access.project().dataset.addImage(imageEntry(writeImage(dir, "B.png", 160, 80, Qt::darkBlue), 160, 80));
        // Pixels from a package: the path names no file.
        ImageEntry packaged = imageEntry(dir.filePath("gone/C.png"), 160, 80);
        packaged.image = QImage(160, 80, QImage::Format_RGB32);
        packaged.image.fill(Qt::red);
        access.project().dataset.addImage(packaged);
        access.refreshUi();
        access.updateTitle();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), 0);
    }

    void cleanup() { close(); }

    // Encode, click, see the preview, accept: one polygon as one undo step.
    void clickSegmentation()
    {
        AiSegDialog *panel = window->segmentationDialog();
        LabelCanvas *canvas = window->labelCanvas();
        panel->refreshModels();
        waitForModelLoads();
        QCOMPARE(window->pointPromptEngine().kind(), SamModelKind::Combined);
        QCOMPARE(statusOf(panel), QStringLiteral("Model loaded.  Click \"Encode Current Image\" to begin."));

        // A click before any encoding does nothing.
        emit canvas->samPromptsChanged({QPointF(50, 30)}, {});
        QCOMPARE(statusOf(panel), QStringLiteral("Model loaded.  Click \"Encode Current Image\" to begin."));

        buttonWithText(panel, "Encode Current Image")->click();
        QCOMPARE(statusOf(panel), QStringLiteral("Image encoded.  Left-click = positive  |  Right-click = negative"));
        QVERIFY(canvas->isInSamMode());
        QVERIFY(statusText(*window).startsWith("SAM ready"));

        clickAt(canvas, QPointF(60, 40));
        QCOMPARE(statusOf(panel), QStringLiteral("Preview ready (4 pts).  Click Accept to keep, or add more prompts."));
        QPushButton *accept = buttonWithText(panel, "Accept");
        QVERIFY(accept->isEnabled());
        const int stepsBefore = canvas->undoStack()->count();
        accept->click();

        const QList<Annotation> labels = window->currentProject().dataset.images.at(0).labels;
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].kind, Polygon);
        QCOMPARE(labels[0].points, (QList<QPointF>{{40, 25}, {40, 55}, {120, 55}, {120, 25}}));
        QCOMPARE(labels[0].bbox, QRectF(40, 25, 80, 30));
        QCOMPARE(canvas->undoStack()->count(), stepsBefore + 1);
        QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("SAM Segment"));
        QVERIFY(window->isModified());
        QVERIFY(!accept->isEnabled());
        QCOMPARE(statusText(*window), QStringLiteral("SAM segment accepted."));
        QVERIFY(canvas->isInSamMode());

        // Clear keeps prompt mode: the next click decodes without a new encoding.
        buttonWithText(panel, "Clear Prompts")->click();
        QCOMPARE(statusOf(panel), QStringLiteral("Prompts cleared.  Click the image to place new prompts."));
        clickAt(canvas, QPointF(60, 40), Qt::RightButton);
        QVERIFY(accept->isEnabled());

        canvas->undoStack()->undo();
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
    }

    // After another image is shown the encoding is not used on it: Clear does
    // not re-enter prompt mode and Accept adds nothing.
    void imageChangeEndsTheEncoding()
    {
        AiSegDialog *panel = window->segmentationDialog();
        LabelCanvas *canvas = window->labelCanvas();
        MainWindowTestAccess &access = *this->access;
        panel->refreshModels();
        waitForModelLoads();
        buttonWithText(panel, "Encode Current Image")->click();
        clickAt(canvas, QPointF(60, 40));
        QVERIFY(buttonWithText(panel, "Accept")->isEnabled());

        access.selectImage(1);
        QTRY_COMPARE(canvas->displayedEntryId(), 1);
        QVERIFY(!canvas->isInSamMode());
        buttonWithText(panel, "Accept")->click();
        QCOMPARE(statusOf(panel), QStringLiteral("The image changed.  Encode the current image first."));
        buttonWithText(panel, "Clear Prompts")->click();
        QVERIFY(!canvas->isInSamMode());
        QCOMPARE(statusOf(panel), QStringLiteral("Cleared.  Encode an image first."));
        emit canvas->samPromptsChanged({QPointF(60, 40)}, {});
        QVERIFY(!buttonWithText(panel, "Accept")->isEnabled());
        for (const ImageEntry &image : window->currentProject().dataset.images)
            QVERIFY(image.labels.isEmpty());

        // Encoding the new image starts afresh.
        buttonWithText(panel, "Encode Current Image")->click();
        QVERIFY(canvas->isInSamMode());
        clickAt(canvas, QPointF(60, 40));
        buttonWithText(panel, "Accept")->click();
        QCOMPARE(window->currentProject().dataset.images.at(1).labels.size(), 1);

        // Leaving the tab ends prompt mode.
        emit window->autoLabelDialog()->samPanelDeactivated();
        QVERIFY(!canvas->isInSamMode());
        QCOMPARE(statusOf(panel), QStringLiteral("SAM mode ended.  Click \"Encode Current Image\" to start again."));
    }

    // Another model chosen in prompt mode: the encoding and the preview were
    // the other model's, so prompt mode ends rather than taking clicks that
    // nothing answers, and Accept has nothing to keep.
    void anotherModelEndsPromptMode()
    {
        AiSegDialog *panel = window->segmentationDialog();
        LabelCanvas *canvas = window->labelCanvas();
        panel->refreshModels();
        waitForModelLoads();
        buttonWithText(panel, "Encode Current Image")->click();
        clickAt(canvas, QPointF(60, 40));
        QPushButton *accept = buttonWithText(panel, "Accept");
        QVERIFY(accept->isEnabled());

        emit panel->encoderSelected(modelsRoot() + "/segmentation/segmentation_mobile_sam.onnx");
        waitForModelLoads();
        QVERIFY(!canvas->isInSamMode());
        QVERIFY(!accept->isEnabled());
        QCOMPARE(statusOf(panel), QStringLiteral("Model loaded.  Click \"Encode Current Image\" to begin."));
        clickAt(canvas, QPointF(60, 40));
        QVERIFY(!accept->isEnabled());

        // A model that fails to load ends it too.
        buttonWithText(panel, "Encode Current Image")->click();
        clickAt(canvas, QPointF(60, 40));
        QVERIFY(accept->isEnabled());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SAM loadEncoder: .*"));
        emit panel->encoderSelected(modelsRoot() + "/segmentation/no_such_model.onnx");
        waitForModelLoads();
        QVERIFY(!canvas->isInSamMode());
        QVERIFY(!accept->isEnabled());
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
    }

    void encodeNeedsAnImageAndAModel()
    {
        AiSegDialog *panel = window->segmentationDialog();
        MainWindowTestAccess &access = *this->access;
        window->onSamEncode();
        QCOMPARE(prompts.calls.last().kind, QStringLiteral("warning"));
        QCOMPARE(prompts.calls.last().text, QStringLiteral("Load a SAM model first (segmentation_mobile_sam.onnx)."));

        // A split encoder loads but cannot decode.
        copyModel("sam1_encoder.onnx", "sam1_encoder_for_test.onnx");
        emit panel->encoderSelected(modelsRoot() + "/segmentation/sam1_encoder_for_test.onnx");
        waitForModelLoads();
        QVERIFY(statusOf(panel).startsWith("Bu dosya tek dosya SAM modeli değil"));
        QVERIFY(!buttonWithText(panel, "Encode Current Image")->isEnabled());
        emit panel->encoderSelected(modelsRoot() + "/segmentation/missing.onnx");
        waitForModelLoads();
        QVERIFY(statusOf(panel).startsWith("Failed to load model: "));

        // Package pixels, not the missing file behind the path.
        panel->refreshModels();
        waitForModelLoads();
        emit panel->encoderSelected(modelsRoot() + "/segmentation/segmentation_mobile_sam.onnx");
        waitForModelLoads();
        access.selectImage(2);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), 2);
        window->onSamEncode();
        QCOMPARE(statusOf(panel), QStringLiteral("Image encoded.  Left-click = positive  |  Right-click = negative"));

        access.currentImageId() = -1;
        window->onSamEncode();
        QCOMPARE(prompts.calls.last().kind, QStringLiteral("information"));
        QCOMPARE(prompts.calls.last().text, QStringLiteral("Open an image first."));
    }

    // Encoding takes the pixels the canvas shows: no file is read on the
    // window's thread, where a read that waits would freeze the window. The
    // shown picture's file is replaced by a named pipe here, which a read
    // would wait on for good. A picture that is a pipe from the start shows
    // no pixels, and encoding says at once that it cannot be read.
    void encodeReadsNoFileOnTheWindowThread()
    {
        AiSegDialog *panel = window->segmentationDialog();
        MainWindowTestAccess &access = *this->access;
        panel->refreshModels();
        waitForModelLoads();
        const QString shown = window->currentProject().dataset.images.at(0).filePath;
        const QString pipe = QDir(files.path()).filePath("pipe.png");
        // The next test writes its pictures afresh: never into a pipe.
        const auto removePipes = qScopeGuard([&] {
            QFile::remove(shown);
            QFile::remove(pipe);
        });
        QVERIFY(QFile::remove(shown));
        QCOMPARE(::mkfifo(QFile::encodeName(shown).constData(), 0600), 0);
        {
            QmTest::PipeRescue rescue(shown, QmTest::patienceMs);
            buttonWithText(panel, "Encode Current Image")->click();
            rescue.done();
            QVERIFY2(!rescue.rescued, "the encode read the picture's file on the window's thread");
        }
        QCOMPARE(statusOf(panel), QStringLiteral("Image encoded.  Left-click = positive  |  Right-click = negative"));

        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QmTest::PipeRescue rescue(pipe, QmTest::patienceMs);
        access.project().dataset.addImage(imageEntry(pipe, 160, 80));
        const int pipeId = access.project().dataset.images.constLast().id;
        access.refreshUi();
        access.selectImage(pipeId);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), pipeId);
        window->onSamEncode();
        rescue.done();
        QVERIFY(!rescue.rescued);
        QCOMPARE(prompts.calls.last().kind, QStringLiteral("warning"));
        QCOMPARE(prompts.calls.last().text, QStringLiteral("Cannot read the current image file."));
    }

    // Models loaded while no image is shown: Encode asks for one, and works
    // once one is shown, without loading the models again.
    void conceptModelsBeforeAnImage()
    {
        MainWindowTestAccess &access = *this->access;
        access.currentImageId() = -1;
        AiSam3Dialog *dialog = window->conceptDialog();
        dialog->show();
        waitForModelLoads();
        QVERIFY(window->conceptEngine().modelsLoaded());
        QCOMPARE(statusOf(dialog), QStringLiteral("Models loaded.  Open an image first."));
        QPushButton *encode = buttonWithText(dialog, "Encode Current Image");
        QVERIFY(encode->isEnabled());
        encode->click();
        QCOMPARE(prompts.calls.last().kind, QStringLiteral("information"));
        QCOMPARE(prompts.calls.last().text, QStringLiteral("Open an image first."));

        access.selectImage(1);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), 1);
        QVERIFY(encode->isEnabled());
        encode->click();
        QCOMPARE(statusOf(dialog), QStringLiteral("Image encoded.  Type a concept prompt and click Detect."));
        QVERIFY(buttonWithText(dialog, "Detect")->isEnabled());
    }

    // Detect, preview, and accept two detections in the order given; the models
    // are not loaded again when the dialog names the same files.
    void conceptSegmentation()
    {
        AiSam3Dialog *dialog = window->conceptDialog();
        LabelCanvas *canvas = window->labelCanvas();
        // The click-segmentation panel opens the concept dialog.
        encoderLoads = 0;
        buttonWithText(window->segmentationDialog(), "SAM3 Concepts…")->click();
        waitForModelLoads();
        QVERIFY(dialog->isVisible());
        QVERIFY(window->conceptEngine().modelsLoaded());
        QCOMPARE(encoderLoads, 1);
        dialog->hide();
        dialog->show();
        waitForModelLoads();
        QCOMPARE(encoderLoads, 1);
        QCOMPARE(statusOf(dialog), QStringLiteral("Models loaded.  Click \"Encode Current Image\" to begin."));

        buttonWithText(dialog, "Encode Current Image")->click();
        QCOMPARE(statusOf(dialog), QStringLiteral("Image encoded.  Type a concept prompt and click Detect."));
        dialog->findChild<QLineEdit *>()->setText("cat");
        buttonWithText(dialog, "Detect")->click();
        QCOMPARE(statusOf(dialog),
                 QStringLiteral("2 detection(s) found.  Select instances and click Accept Selected."));
        const QList<Sam3Detection> results = window->conceptResults();
        QCOMPARE(results.size(), 2);

        auto *list = dialog->findChild<QListWidget *>();
        list->item(1)->setSelected(true);
        list->item(0)->setSelected(true);
        QCOMPARE(canvas->previewPolygonList().size(), 2);

        canvas->setCurrentClass("vehicle");
        const int stepsBefore = canvas->undoStack()->count();
        buttonWithText(dialog, "Accept Selected")->click();
        const QList<Annotation> labels = window->currentProject().dataset.images.at(0).labels;
        QCOMPARE(labels.size(), 2);
        QCOMPARE(labels[0].confidence, results[1].score);
        QCOMPARE(labels[1].confidence, results[0].score);
        for (const Annotation &a : labels) {
            QCOMPARE(a.className, QStringLiteral("vehicle"));
            QCOMPARE(a.kind, Polygon);
            QVERIFY(a.points.size() >= 3);
            QVERIFY(QRectF(0, 0, 160, 80).contains(a.bbox));
        }
        // Detection 0's box runs far outside the picture (its probe corners are
        // the normalised pixel (255, 0, 51): x from 160 to 0, y from -80 to 320):
        // clamped to it.
        QCOMPARE(labels[1].bbox, QRectF(0, 0, 160, 80));
        QCOMPARE(canvas->undoStack()->count(), stepsBefore + 2);
        QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("AI Detection"));
        QVERIFY(window->currentProject().dataset.classColors.contains("vehicle"));
        QCOMPARE(statusText(*window), QStringLiteral("SAM3: 2 segment(s) added."));

        // Out-of-range rows add nothing but still report.
        window->onSam3Accept({7, -1});
        QCOMPARE(statusText(*window), QStringLiteral("SAM3: 0 segment(s) added."));

        // Nothing above the threshold, and a prompt of blanks.
        window->onSam3Detect("cat", 0.99f, 0.5f);
        QCOMPARE(statusOf(dialog), QStringLiteral("No detections above threshold 0.99 for \"cat\"."));
        window->onSam3Detect("   ", 0.5f, 0.5f);
        QCOMPARE(statusOf(dialog), QStringLiteral("Enter a concept prompt (e.g. \"person\", \"yellow bus\")."));

        buttonWithText(dialog, "Clear")->click();
        QCOMPARE(list->count(), 0);
        QVERIFY(window->conceptResults().isEmpty());
        QCOMPARE(statusOf(dialog), QStringLiteral("Detections cleared.  Type a new prompt and click Detect."));
    }

    // Held detections belong to their image: shown another, they neither
    // preview nor become annotations there.
    void conceptDetectionsStayWithTheirImage()
    {
        AiSam3Dialog *dialog = window->conceptDialog();
        MainWindowTestAccess &access = *this->access;
        dialog->show();
        waitForModelLoads();
        window->onSam3Encode();
        window->onSam3Detect("cat", 0.5f, 0.5f);
        QCOMPARE(window->conceptResults().size(), 2);

        access.selectImage(1);
        QTRY_COMPARE(window->labelCanvas()->displayedEntryId(), 1);
        window->onSam3Preview({0, 1});
        QVERIFY(window->labelCanvas()->previewPolygonList().isEmpty());
        window->onSam3Accept({0, 1});
        QVERIFY(window->currentProject().dataset.images.at(1).labels.isEmpty());
        QVERIFY(statusOf(dialog).startsWith("These detections belong to another image."));
        window->onSam3Detect("cat", 0.5f, 0.5f);
        QCOMPARE(statusOf(dialog), QStringLiteral("The image changed.  Encode the current image first."));
        window->onSam3Clear();
        QCOMPARE(statusOf(dialog), QStringLiteral("Cleared.  Encode an image first."));
    }

    // Encodings and detections belong to the project they were made in. After
    // the project is closed and another lists the same picture under the same
    // id (a face project), nothing held is used there: Accept adds nothing and
    // the dialogs say why; both engines must encode again.
    void projectSwitchForgetsEncodingsAndDetections()
    {
        AiSam3Dialog *dialog = window->conceptDialog();
        AiSegDialog *panel = window->segmentationDialog();
        LabelCanvas *canvas = window->labelCanvas();
        MainWindowTestAccess &access = *this->access;
        panel->refreshModels();
        waitForModelLoads();
        buttonWithText(panel, "Encode Current Image")->click();
        QVERIFY(canvas->isInSamMode());
        dialog->show();
        waitForModelLoads();
        window->onSam3Encode();
        window->onSam3Detect("cat", 0.5f, 0.5f);
        QCOMPARE(window->conceptResults().size(), 2);
        auto *list = dialog->findChild<QListWidget *>();
        list->item(0)->setSelected(true);
        QVERIFY(buttonWithText(dialog, "Accept Selected")->isEnabled());

        const ImageEntry picture = window->currentProject().dataset.images.at(0);
        window->onCloseProject();
        const QString why = QStringLiteral("The project changed: encodings and detections were cleared.  "
                                           "Encode the current image to begin again.");
        QCOMPARE(statusOf(dialog), why);
        QCOMPARE(statusOf(panel), why);
        access.project().projectType = QStringLiteral("face");
        access.project().dataset.addImage(imageEntry(picture.filePath, 160, 80));
        QCOMPARE(window->currentProject().dataset.images.at(0).id, picture.id);
        access.refreshUi();
        QTRY_COMPARE(canvas->displayedEntryId(), picture.id);

        QVERIFY(window->conceptResults().isEmpty());
        QCOMPARE(list->count(), 0);
        QVERIFY(!buttonWithText(dialog, "Accept Selected")->isEnabled());
        QVERIFY(!window->conceptEngine().imageEncoded());
        QVERIFY(!window->pointPromptEngine().imageEncoded());
        QVERIFY(!canvas->isInSamMode());
        window->onSam3Accept({0, 1});
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
        QCOMPARE(statusOf(dialog),
                 QStringLiteral("No detections to accept.  Encode the current image and detect first."));
        window->onSam3Detect("cat", 0.5f, 0.5f);
        QCOMPARE(statusOf(dialog), QStringLiteral("Encode an image first."));
        emit canvas->samPromptsChanged({QPointF(50, 30)}, {});
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
        QVERIFY(!buttonWithText(panel, "Accept")->isEnabled());
    }

    // Deleting an annotation, the segment just accepted included, leaves
    // prompt mode on: the next click previews again.
    void deletingKeepsPromptMode()
    {
        AiSegDialog *panel = window->segmentationDialog();
        LabelCanvas *canvas = window->labelCanvas();
        panel->refreshModels();
        waitForModelLoads();
        buttonWithText(panel, "Encode Current Image")->click();
        clickAt(canvas, QPointF(60, 40));
        buttonWithText(panel, "Accept")->click();
        QCOMPARE(window->currentProject().dataset.images.at(0).labels.size(), 1);

        canvas->deleteAnnotation(0);
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
        QVERIFY(canvas->isInSamMode());
        clickAt(canvas, QPointF(60, 40));
        QCOMPARE(statusOf(panel), QStringLiteral("Preview ready (4 pts).  Click Accept to keep, or add more prompts."));
        buttonWithText(panel, "Accept")->click();
        QCOMPARE(window->currentProject().dataset.images.at(0).labels.size(), 1);

        // The same from the keyboard, with the segment selected.
        canvas->selectAnnotation(0);
        QTest::keyClick(canvas, Qt::Key_Delete);
        QVERIFY(window->currentProject().dataset.images.at(0).labels.isEmpty());
        QVERIFY(canvas->isInSamMode());
    }

    // An engine failure is reported as one, not as "no detections".
    void conceptFailureIsShown()
    {
        AiSam3Dialog *dialog = window->conceptDialog();
        dialog->show();
        waitForModelLoads();
        const QString dir = QStringLiteral(QM_SAM_MODELS_DIR "/sam3/");
        QVERIFY(window->conceptEngine().loadModels(dir + "sam3_vision_encoder.onnx", dir + "decoder_bool_masks.onnx",
                                                   dir + "sam3_tokenizer.json"));
        window->onSam3Encode();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\\[SAM3\\] .*bool"));
        window->onSam3Detect("cat", 0.5f, 0.5f);
        QVERIFY2(statusOf(dialog).startsWith("Detection failed: Decoder output 'pred_masks'"),
                 qPrintable(statusOf(dialog)));
        QVERIFY(statusText(*window).startsWith("SAM3: "));
    }

private:
    QTemporaryDir files;
};

QM_TEST_MAIN(TestSamCommands)
#include "tst_samcommands.moc"
