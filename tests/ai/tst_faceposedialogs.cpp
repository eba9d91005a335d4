// The face and pose dialogs on the styled window: which models they find,
// when they announce one, their buttons, the lists of results and the
// visibility cycle of the pose dialog's keypoint tree.
//
// This program runs from a folder of its own with no "models" folder at or
// above it, so each test decides through the working folder and the settings
// where the models are.

#include "AiDialogTestSupport.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ModelsFolder.h"
#include "ai/ui/PoseAnnotationDialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace Quillmark;
using namespace AiDialogTest;

namespace {

PosePerson person(float score, const QList<int> &visibilities)
{
    PosePerson p;
    p.score = score;
    p.box = QRectF(10, 10, 50, 80);
    for (int i = 0; i < visibilities.size(); ++i)
        p.keypoints.append({float(10 + i), float(20 + i), 0.5f, visibilities[i]});
    return p;
}

// Clicks the centre of a cell of the tree, as a user does.
void clickCell(QTreeWidget *tree, int row, int column)
{
    QTreeWidgetItem *item = tree->topLevelItem(row);
    const QRect rect = tree->visualItemRect(item);
    const int x = tree->header()->sectionViewportPosition(column) + tree->header()->sectionSize(column) / 2;
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, rect.center().y()));
}

// True when some pixel of `rect` in `image` is within 40 of `colour` in every
// channel.
bool hasColourNear(const QImage &image, const QRect &rect, const QColor &colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
                std::abs(c.blue() - colour.blue()) < 40)
                return true;
        }
    }
    return false;
}

} // namespace

class TestFacePoseDialogs : public QObject {
    Q_OBJECT

    WorkingFolders folders;

private slots:
    void initTestCase()
    {
        QVERIFY(folders.isValid());
        QVERIFY(runsAwayFromModels());
    }

    void init()
    {
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).clear();
        QSettings().clear();
    }

    void cleanup() { folders.restore(); }

    // --- Face dialog ------------------------------------------------------------

    void faceDialogDefaults()
    {
        folders.workIn("face-defaults");
        StyledHost<FaceAnnotationDialog> host;
        FaceAnnotationDialog *dialog = host.dialog;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Face Detection"));
        QCOMPARE(dialog->minimumWidth(), 300);
        QCOMPARE(dialog->confidence(), 0.35f);
        QCOMPARE(dialog->iouThreshold(), 0.45f);
        const QList<QDoubleSpinBox *> spins = dialog->findChildren<QDoubleSpinBox *>();
        QCOMPARE(spins.size(), 2);
        QCOMPARE(spins[0]->minimum(), 0.05);
        QCOMPARE(spins[0]->maximum(), 0.95);
        QCOMPARE(spins[1]->minimum(), 0.10);
        QCOMPARE(spins[1]->maximum(), 0.90);
        QCOMPARE(spins[1]->singleStep(), 0.05);
        QCOMPARE(groupTitled(dialog, "Model")->title(), QStringLiteral("Model  (yolov8?-face.onnx)"));
        QLabel *info = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        QVERIFY(info);
        QCOMPARE(info->text(), QStringLiteral("Select a model."));
        QVERIFY(info->wordWrap());

        QSignalSpy selected(dialog, &FaceAnnotationDialog::modelSelected);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(selected.count(), 0); // no models folder anywhere
        QCOMPARE(dialog->findChild<QListWidget *>()->height(), 100);
        QCOMPARE(dialog->findChild<QProgressBar *>()->isVisible(), false);
        QCOMPARE(buttonWithText(dialog, "Browse…")->width(), 72);
        // Its label fits in the fixed width on the styled window.
        QVERIFY(buttonWithText(dialog, "Browse…")->sizeHint().width() <= 72);
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Run All")->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Accept")->isEnabled());
        QVERIFY(buttonWithText(dialog, "Clear")->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Cancel")->isVisible());

        // The disabled run buttons look disabled on the styled window: another
        // face and a dimmer label.
        QPushButton *run = buttonWithText(dialog, "Run Current");
        const QImage disabled = run->grab().toImage();
        const int disabledText = textContrast(run);
        dialog->setLoadedPath(QStringLiteral("/models/face.onnx"));
        dialog->setModelReady(true);
        const QImage enabled = run->grab().toImage();
        QCOMPARE(disabled.size(), enabled.size());
        QVERIFY(disabled.pixelColor(4, disabled.height() / 2) != enabled.pixelColor(4, enabled.height() / 2));
        QVERIFY2(textContrast(run) > disabledText + 40,
                 qPrintable(QStringLiteral("enabled %1, disabled %2").arg(textContrast(run)).arg(disabledText)));
    }

    // A "face" subfolder lists every model in it; any other folder only the
    // files named like a face model, sorted by name with their sizes.
    void faceModelScan_data()
    {
        QTest::addColumn<QStringList>("files"); // relative to the working folder, with sizes "name:bytes"
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("face subfolder") << QStringList{"models/face/scrfd.onnx:1500",
                                                       "models/face/yolov8n-face.onnx:3145728",
                                                       "models/face/notes.txt:10", "models/yolov8n.onnx:10"}
                                        << QStringList{"scrfd.onnx  (1 KB)", "yolov8n-face.onnx  (3 MB)"};
        QTest::newRow("models folder: names with face")
            << QStringList{"models/yolov8n.onnx:10", "models/yolov8n-face.onnx:500", "models/MyFace.onnx:2048",
                           "models/sam_encoder.onnx:10", "models/FACE.onnx:10"}
            << QStringList{"MyFace.onnx  (2 KB)", "yolov8n-face.onnx  (1 KB)"};
        QTest::newRow("subfolder named otherwise")
            << QStringList{"models/detection/face_det.onnx:10", "models/interface.onnx:10"}
            << QStringList{"interface.onnx  (1 KB)"};
    }

    void faceModelScan()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        const QString dir = folders.workIn(QString("face-scan-%1").arg(QTest::currentDataTag()));
        for (const QString &file : files)
            makeFile(dir + "/" + file.section(':', 0, 0), file.section(':', 1).toLongLong());

        StyledHost<FaceAnnotationDialog> host;
        QSignalSpy selected(host.dialog, &FaceAnnotationDialog::modelSelected);
        host.dialog->show();
        QComboBox *combo = host.dialog->findChild<QComboBox *>();
        QCOMPARE(comboTexts(combo), expected);
        // The first model found loads by itself.
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), combo->itemData(0).toString());
        QVERIFY(QFileInfo(combo->itemData(0).toString()).isAbsolute());
    }

    // The dialog is narrow (300 pixels at least); a model's name and size are
    // shown whole all the same, also for a model picked from elsewhere.
    void faceModelNamesShownWhole()
    {
        const QString dir = folders.workIn("face-whole");
        makeFile(dir + "/models/face/yolov8n-face.onnx", 2048);
        StyledHost<FaceAnnotationDialog> host;
        host.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.dialog));
        QComboBox *combo = host.dialog->findChild<QComboBox *>();
        QCOMPARE(combo->currentText(), QStringLiteral("yolov8n-face.onnx  (2 KB)"));
        QTRY_VERIFY(showsWholeText(combo));
        QVERIFY(host.dialog->width() >= 300);

        const QString elsewhere = dir + "/downloads/yolov8n-face-widerface-finetuned-640.onnx";
        makeFile(elsewhere);
        host.dialog->setLoadedPath(elsewhere);
        QCOMPARE(combo->currentText(), QFileInfo(elsewhere).fileName());
        QTRY_VERIFY(showsWholeText(combo));
    }

    // Once a model is loaded, showing again announces nothing and keeps it
    // selected; choosing another item announces it.
    void faceModelAnnouncedOnce()
    {
        const QString dir = folders.workIn("face-once");
        makeFile(dir + "/models/face/a.onnx");
        makeFile(dir + "/models/face/b.onnx");
        StyledHost<FaceAnnotationDialog> host;
        FaceAnnotationDialog *dialog = host.dialog;
        QSignalSpy selected(dialog, &FaceAnnotationDialog::modelSelected);
        dialog->show();
        QCOMPARE(selected.count(), 1);
        const QString b = QDir::cleanPath(dir + "/models/face/b.onnx");
        dialog->setLoadedPath(b);
        dialog->setModelReady(true, "✓ Model loaded  (5 landmarks)");
        dialog->hide();
        dialog->show();
        QCOMPARE(selected.count(), 1);
        QComboBox *combo = dialog->findChild<QComboBox *>();
        QCOMPARE(combo->currentData().toString(), b);

        // A model loaded from elsewhere stays the selected item.
        makeFile(dir + "/elsewhere/c-face.onnx");
        dialog->setLoadedPath(QDir::cleanPath(dir + "/elsewhere/c-face.onnx"));
        dialog->rescanModels();
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QStringLiteral("c-face.onnx"));
        QCOMPARE(selected.count(), 1);

        QTest::keyClick(combo, Qt::Key_Home);
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.last().at(0).toString(), QDir::cleanPath(dir + "/models/face/a.onnx"));
    }

    void faceBrowse()
    {
        const QString dir = folders.workIn("face-browse");
        makeFile(dir + "/models/face/a.onnx");
        makeFile(dir + "/picked/my-model.onnx");
        QmTest::ScriptedPrompts prompts;
        Prompts::setOverride(&prompts);
        StyledHost<FaceAnnotationDialog> host;
        FaceAnnotationDialog *dialog = host.dialog;
        dialog->show();
        dialog->setLoadedPath(QDir::cleanPath(dir + "/models/face/a.onnx"));
        QSignalSpy selected(dialog, &FaceAnnotationDialog::modelSelected);

        // Cancelled: nothing changes.
        QTest::mouseClick(buttonWithText(dialog, "Browse…"), Qt::LeftButton);
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].kind, QStringLiteral("open"));
        QCOMPARE(prompts.calls[0].title, QStringLiteral("Select Face Model"));
        QCOMPARE(prompts.calls[0].text, QDir::cleanPath(dir + "/models"));
        QCOMPARE(prompts.calls[0].extra, QStringLiteral("ONNX Models (*.onnx)"));
        QCOMPARE(selected.count(), 0);

        const QString picked = dir + "/picked/my-model.onnx";
        prompts.answers.enqueue(picked);
        QTest::mouseClick(buttonWithText(dialog, "Browse…"), Qt::LeftButton);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), picked);
        QComboBox *combo = dialog->findChild<QComboBox *>();
        QCOMPARE(combo->currentText(), QStringLiteral("my-model.onnx"));
        QCOMPARE(QSettings("Quillmark", "Quillmark").value("lastModelDir").toString(), dir + "/picked");

        // The next browse starts where the last one ended.
        QTest::mouseClick(buttonWithText(dialog, "Browse…"), Qt::LeftButton);
        QCOMPARE(prompts.calls.last().text, dir + "/picked");
        Prompts::setOverride(nullptr);
    }

    void faceButtonsFollowTheState()
    {
        folders.workIn("face-buttons");
        StyledHost<FaceAnnotationDialog> host;
        FaceAnnotationDialog *dialog = host.dialog;
        dialog->show();
        QLabel *info = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        QPushButton *runCurrent = buttonWithText(dialog, "Run Current");
        QPushButton *runAll = buttonWithText(dialog, "Run All");
        QPushButton *accept = buttonWithText(dialog, "Accept");

        dialog->setModelReady(false, "Failed to load face model: broken");
        QCOMPARE(info->text(), QStringLiteral("Failed to load face model: broken"));
        QVERIFY(!runCurrent->isEnabled() && !runAll->isEnabled());
        dialog->setRunning(false);
        QVERIFY(!runCurrent->isEnabled());
        dialog->setModelReady(true);
        QCOMPARE(info->text(), QStringLiteral("✓ Model loaded."));
        QVERIFY(runCurrent->isEnabled() && runAll->isEnabled());

        FaceDetection boxOnly;
        boxOnly.score = 0.8765f;
        FaceDetection withLandmarks;
        withLandmarks.score = 0.5f;
        withLandmarks.hasLandmarks = true;
        dialog->setFaces({boxOnly, withLandmarks});
        QCOMPARE(listTexts(dialog->findChild<QListWidget *>()),
                 (QStringList{"Face #1  —  conf: 0.88  •  bbox only", "Face #2  —  conf: 0.50  •  5 landmarks"}));
        QVERIFY(accept->isEnabled());

        dialog->setRunning(true);
        QVERIFY(!runCurrent->isEnabled() && !runAll->isEnabled() && !accept->isEnabled());
        QVERIFY(buttonWithText(dialog, "Cancel")->isVisible());
        QVERIFY(!dialog->findChild<QComboBox *>()->isEnabled());
        QSignalSpy cancel(dialog, &FaceAnnotationDialog::cancelRequested);
        QTest::mouseClick(buttonWithText(dialog, "Cancel"), Qt::LeftButton);
        QCOMPARE(cancel.count(), 1);
        dialog->setRunning(false);
        QVERIFY(runCurrent->isEnabled() && accept->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Cancel")->isVisible());

        dialog->clearFaces();
        QCOMPARE(dialog->findChild<QListWidget *>()->count(), 0);
        QVERIFY(!accept->isEnabled());

        QProgressBar *progress = dialog->findChild<QProgressBar *>();
        dialog->setProgress(3, 10);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->value(), 3);
        QCOMPARE(progress->maximum(), 10);
        dialog->setProgress(0, 0);
        QVERIFY(!progress->isVisible());

        const QList<QPair<QString, const char *>> clicks{{"Run Current", SIGNAL(runCurrentRequested())},
                                                         {"Run All", SIGNAL(runAllRequested())},
                                                         {"Clear", SIGNAL(clearRequested())}};
        for (const auto &[text, signal] : clicks) {
            QSignalSpy spy(dialog, signal);
            QTest::mouseClick(buttonWithText(dialog, text), Qt::LeftButton);
            QCOMPARE(spy.count(), 1);
        }
    }

    // --- Pose dialog ------------------------------------------------------------

    // While a run shows "Cancel", every button of the pose dialog shows its
    // whole text under the application's style sheet, in both themes.
    void poseButtonsShowTheirText_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("light") << int(Theme::Light);
        QTest::newRow("dark") << int(Theme::Dark);
    }

    void poseButtonsShowTheirText()
    {
        QFETCH(int, mode);
        folders.workIn("pose-buttons");
        StyledHost<PoseAnnotationDialog> host{Theme::Mode(mode)};
        host.window.show();
        PoseAnnotationDialog *dialog = host.dialog;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->setRunning(true);
        dialog->setProgress(1, 5);
        QTest::qWait(50);
        for (const char *text : {"Run Current", "Run All", "Cancel", "Accept", "Clear", "Close"}) {
            QPushButton *button = buttonWithText(dialog, text);
            QVERIFY(button->isVisible());
            const int needed = button->fontMetrics().horizontalAdvance(button->text());
            QVERIFY2(button->contentsRect().width() >= needed,
                     qPrintable(QStringLiteral("%1: %2 px for %3 px of text")
                                    .arg(text)
                                    .arg(button->contentsRect().width())
                                    .arg(needed)));
        }
    }

    // After a run over all images the progress bar goes, and so does the room
    // the window grew by for it.
    void runProgressLeavesNoEmptySpace()
    {
        folders.workIn("face-shrink");
        StyledHost<FaceAnnotationDialog> host;
        host.window.show();
        FaceAnnotationDialog *dialog = host.dialog;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTest::qWait(50);
        const int before = dialog->height();
        dialog->setRunning(true);
        dialog->setProgress(0, 40);
        QTest::qWait(50);
        dialog->setProgress(40, 40);
        dialog->setRunning(false);
        dialog->setProgress(0, 0);
        QTRY_COMPARE(dialog->height(), before);
    }

    void poseDialogDefaults()
    {
        folders.workIn("pose-defaults");
        StyledHost<PoseAnnotationDialog> host;
        PoseAnnotationDialog *dialog = host.dialog;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Pose Annotation"));
        QCOMPARE(dialog->minimumWidth(), 400);
        QVERIFY(dialog->windowFlags().testFlag(Qt::Tool));
        QCOMPARE(dialog->confThreshold(), 0.25f);
        QCOMPARE(dialog->iouThreshold(), 0.45f);
        QCOMPARE(dialog->keypointConfThreshold(), 0.30f);
        const QList<QDoubleSpinBox *> spins = dialog->findChildren<QDoubleSpinBox *>();
        QCOMPARE(spins.size(), 3);
        QCOMPARE(spins[2]->maximum(), 0.90);
        QCOMPARE(spins[2]->toolTip(),
                 QStringLiteral("Bu değerin altındaki keypoint'ler 'Unlabeled' olarak işaretlenir"));

        QSignalSpy selected(dialog, &PoseAnnotationDialog::modelSelected);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(selected.count(), 0);

        // Nothing anywhere: both modes say so, and the label in red.
        QComboBox *combo = dialog->findChild<QComboBox *>();
        QCOMPARE(comboTexts(combo), (QStringList{"Body  (body.onnx bulunamadı)", "Hand  (hand.onnx bulunamadı)"}));
        QLabel *label = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QStringLiteral("Hata: body.onnx bulunamadı — Settings → Models → Body"));
        QCOMPARE(label->styleSheet(), QStringLiteral("color: #ff5757;"));
        QVERIFY(hasColourNear(label->grab().toImage(), label->rect(), QColor(0xff, 0x57, 0x57)));
        // The whole line is there to read, down to "Body", at the dialog's width.
        const QRect room = label->contentsRect();
        const QRect needed =
            label->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, label->text());
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QStringLiteral("%1 x %2 in %3 x %4")
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(room.width())
                                .arg(room.height())));

        QTreeWidget *tree = dialog->findChild<QTreeWidget *>();
        QCOMPARE(tree->headerItem()->text(0), QStringLiteral("#"));
        QCOMPARE(tree->headerItem()->text(2), QStringLiteral("Visibility"));
        QCOMPARE(tree->header()->sectionSize(0), 28);
        QCOMPARE(tree->header()->sectionSize(2), 105);
        QVERIFY(tree->height() >= 200 && tree->height() <= 280);
        QVERIFY(dialog->findChild<QListWidget *>()->height() <= 110);
        QCOMPARE(groupTitled(dialog, "Detected")->title(), QStringLiteral("Detected Persons (0)"));
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Run All")->isEnabled());
        QVERIFY(!buttonWithText(dialog, "Accept")->isEnabled());
        QVERIFY(!dialog->findChild<QProgressBar *>()->isVisible());

        QTest::mouseClick(buttonWithText(dialog, "Close"), Qt::LeftButton);
        QVERIFY(dialog->isHidden());
    }

    // The configured model wins over the models folder's file; modes switch
    // between them; a shown dialog with a model loaded announces nothing.
    void poseModesAndModels()
    {
        const QString dir = folders.workIn("pose-models");
        makeFile(dir + "/models/body.onnx");
        makeFile(dir + "/models/hand.onnx");
        makeFile(dir + "/configured/my-body.onnx");
        const QString body = QDir::cleanPath(dir + "/configured/my-body.onnx");
        const QString hand = QDir::cleanPath(dir + "/models/hand.onnx");
        QSettings().setValue("models/body", body);

        StyledHost<PoseAnnotationDialog> host;
        PoseAnnotationDialog *dialog = host.dialog;
        QSignalSpy selected(dialog, &PoseAnnotationDialog::modelSelected);
        dialog->show();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), body);
        QComboBox *combo = dialog->findChild<QComboBox *>();
        QCOMPARE(comboTexts(combo), (QStringList{"Body", "Hand"}));

        dialog->setLoadedPath(body);
        dialog->setModelReady(true);
        QLabel *label = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        QCOMPARE(label->text(), QStringLiteral("Type: Body Pose (YOLOv8-Pose · 17 kp)"));
        QVERIFY(label->styleSheet().isEmpty());
        QVERIFY(buttonWithText(dialog, "Run Current")->isEnabled());
        dialog->hide();
        dialog->show();
        QCOMPARE(selected.count(), 1);

        dialog->selectMode("Hand"); // not exactly "hand": Body, which is loaded
        QCOMPARE(selected.count(), 1);
        QCOMPARE(combo->currentIndex(), 0);
        dialog->selectMode("hand");
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.last().at(0).toString(), hand);

        // A failed load keeps the run buttons off until a load succeeds.
        dialog->setModelReady(false, "broken");
        QCOMPARE(label->text(), QStringLiteral("Hata: broken"));
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        dialog->setRunning(false);
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        dialog->setLoadedPath(hand);
        dialog->setModelReady(true);
        QCOMPARE(label->text(), QStringLiteral("Type: Hand Pose (21 kp)"));
        QVERIFY(buttonWithText(dialog, "Run All")->isEnabled());
        dialog->setRunning(true);
        QVERIFY(!buttonWithText(dialog, "Run All")->isEnabled());
        QVERIFY(!combo->isEnabled());
        QVERIFY(buttonWithText(dialog, "Cancel")->isVisible());
    }

    void poseModeWithoutModel()
    {
        const QString dir = folders.workIn("pose-hand-missing");
        makeFile(dir + "/models/body.onnx");
        StyledHost<PoseAnnotationDialog> host;
        PoseAnnotationDialog *dialog = host.dialog;
        dialog->show();
        const QString body = QDir::cleanPath(dir + "/models/body.onnx");
        dialog->setLoadedPath(body);
        dialog->setModelReady(true);
        QSignalSpy selected(dialog, &PoseAnnotationDialog::modelSelected);
        dialog->selectMode("hand");
        QCOMPARE(selected.count(), 0);
        QLabel *label = dialog->findChild<QLabel *>(QStringLiteral("mutedLabel"));
        QCOMPARE(label->text(), QStringLiteral("Hata: hand.onnx bulunamadı — Settings → Models → Hand"));
        QVERIFY(!buttonWithText(dialog, "Run Current")->isEnabled());
        // Back to Body, whose model is still loaded: ready again without a load.
        dialog->selectMode("body");
        QCOMPARE(selected.count(), 0);
        QVERIFY(buttonWithText(dialog, "Run Current")->isEnabled());
        QCOMPARE(label->text(), QStringLiteral("Type: Body Pose (YOLOv8-Pose · 17 kp)"));
    }

    void posePersonsAndKeypoints()
    {
        folders.workIn("pose-persons");
        StyledHost<PoseAnnotationDialog> host;
        PoseAnnotationDialog *dialog = host.dialog;
        dialog->show();
        QSignalSpy chosen(dialog, &PoseAnnotationDialog::personSelected);

        QList<int> seventeen(17, 2);
        seventeen[3] = 0;
        dialog->setPersons({person(0.904f, seventeen), person(0.5f, QList<int>(21, 1)), person(0.3f, {2, 1, 0, 0, 2})});
        QListWidget *list = dialog->findChild<QListWidget *>();
        QCOMPARE(listTexts(list),
                 (QStringList{"Person 1     conf: 0.90     16/17 kp", "Person 2     conf: 0.50     21/21 kp",
                              "Person 3     conf: 0.30     3/5 kp"}));
        QCOMPARE(groupTitled(dialog, "Detected")->title(), QStringLiteral("Detected Persons (3)"));
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toInt(), 0);
        QVERIFY(buttonWithText(dialog, "Accept")->isEnabled());

        QTreeWidget *tree = dialog->findChild<QTreeWidget *>();
        QCOMPARE(groupTitled(dialog, "Keypoints")->title(), QStringLiteral("Keypoints — Person 1"));
        QCOMPARE(tree->topLevelItemCount(), 17);
        QCOMPARE(tree->topLevelItem(0)->text(1), QStringLiteral("Nose"));
        QCOMPARE(tree->topLevelItem(16)->text(1), QStringLiteral("Right Ankle"));
        QCOMPARE(tree->topLevelItem(5)->text(0), QStringLiteral("5"));
        QCOMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("● Visible"));
        QCOMPARE(tree->topLevelItem(3)->text(2), QStringLiteral("× Unlabeled"));
        QCOMPARE(tree->topLevelItem(0)->foreground(2).color(), QColor("#55c772"));
        QCOMPARE(tree->topLevelItem(3)->foreground(2).color(), QColor("#888888"));
        // The visibility colour is where the user looks: in the cell.
        const QImage shot = tree->viewport()->grab().toImage();
        QRect cell = tree->visualItemRect(tree->topLevelItem(0));
        cell.setLeft(tree->header()->sectionViewportPosition(2));
        QVERIFY(hasColourNear(shot, cell.intersected(shot.rect()), QColor(0x55, 0xc7, 0x72)));

        list->setCurrentRow(1);
        QCOMPARE(chosen.last().at(0).toInt(), 1);
        QCOMPARE(dialog->selectedPersonIndex(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(1), QStringLiteral("Wrist"));
        QCOMPARE(tree->topLevelItem(20)->text(1), QStringLiteral("Pinky Tip"));
        QCOMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("○ Occluded"));
        list->setCurrentRow(2);
        QCOMPARE(tree->topLevelItem(4)->text(1), QStringLiteral("kp 4"));

        dialog->highlightKeypoint(3);
        QCOMPARE(tree->currentItem(), tree->topLevelItem(3));
        dialog->highlightKeypoint(5); // person 3 has 5 keypoints
        QCOMPARE(tree->currentItem(), tree->topLevelItem(3));

        dialog->clearPersons();
        QCOMPARE(list->count(), 0);
        QCOMPARE(tree->topLevelItemCount(), 0);
        QCOMPARE(groupTitled(dialog, "Detected")->title(), QStringLiteral("Detected Persons (0)"));
        QCOMPARE(groupTitled(dialog, "Keypoints")->title(), QStringLiteral("Keypoints"));
        QVERIFY(!buttonWithText(dialog, "Accept")->isEnabled());
        QCOMPARE(dialog->selectedPersonIndex(), -1);
    }

    // Only clicks in the visibility column count; three of them go round
    // visible, occluded, unlabelled and back.
    void poseVisibilityCycle()
    {
        folders.workIn("pose-cycle");
        StyledHost<PoseAnnotationDialog> host;
        PoseAnnotationDialog *dialog = host.dialog;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->setPersons({person(0.9f, {2, 2, 2}), person(0.8f, {2, 2, 2})});
        dialog->findChild<QListWidget *>()->setCurrentRow(1);
        QTreeWidget *tree = dialog->findChild<QTreeWidget *>();
        QSignalSpy changed(dialog, &PoseAnnotationDialog::keypointVisibilityChanged);

        clickCell(tree, 1, 0);
        clickCell(tree, 1, 1);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(tree->topLevelItem(1)->text(2), QStringLiteral("● Visible"));

        const QList<int> expected{1, 0, 2};
        const QStringList texts{"○ Occluded", "× Unlabeled", "● Visible"};
        for (int i = 0; i < 3; ++i) {
            clickCell(tree, 1, 2);
            QCOMPARE(changed.count(), i + 1);
            QCOMPARE(changed.last(), (QList<QVariant>{1, 1, expected[i]}));
            QCOMPARE(tree->topLevelItem(1)->text(2), texts[i]);
            QCOMPARE(dialog->shownPersons()[1].keypoints[1].visibility, expected[i]);
        }
        QCOMPARE(dialog->shownPersons()[0].keypoints[1].visibility, 2);
    }
};

QM_TEST_MAIN(TestFacePoseDialogs)
#include "tst_faceposedialogs.moc"
