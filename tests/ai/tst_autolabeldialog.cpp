// The models folder convention and the auto-label dialog: which models it
// lists, when it announces one, and its buttons, on the styled window.
//
// This program runs from a folder of its own with no "models" folder at or
// above it, so that each test decides through the working folder and the
// "modelsDir" setting where the models are.

#include "AiDialogTestSupport.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/ModelsFolder.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace Quillmark;
using namespace AiDialogTest;

namespace {

QString chosenFolderSetting()
{
    return QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).value("modelsDir").toString();
}

void setChosenFolder(const QString &folder)
{
    QSettings settings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    if (folder.isEmpty())
        settings.remove("modelsDir");
    else
        settings.setValue("modelsDir", folder);
}

// The dialog as a child of the styled window, as in the program.
struct Host : StyledHost<AiAutoLabelDialog> {
    QComboBox *combo() const { return dialog->findChild<QComboBox *>(); }
};

} // namespace

class TestAutoLabelDialog : public QObject {
    Q_OBJECT

    WorkingFolders folders;

private slots:
    void initTestCase()
    {
        QVERIFY(folders.isValid());
        QVERIFY(runsAwayFromModels());
    }

    void init() { setChosenFolder({}); }

    void cleanup() { folders.restore(); }

    // findModelsFolder: the start's own "models", else the first of up to 8
    // parents that has one.
    void modelsFolderSearch_data()
    {
        QTest::addColumn<QString>("modelsAt"); // folder holding "models", relative to the tree
        QTest::addColumn<QString>("start");    // relative to the tree
        QTest::addColumn<QString>("expected"); // relative, or empty for none

        QTest::newRow("own") << "app"
                             << "app"
                             << "app/models";
        QTest::newRow("two levels up") << "top"
                                       << "top/bin/x64"
                                       << "top/models";
        QTest::newRow("eight levels up") << "t"
                                         << "t/1/2/3/4/5/6/7/8"
                                         << "t/models";
        QTest::newRow("nine levels up: not found") << "t"
                                                   << "t/1/2/3/4/5/6/7/8/9"
                                                   << "";
        QTest::newRow("the nearest wins") << "n/a"
                                          << "n/a/b"
                                          << "n/a/models";
    }

    void modelsFolderSearch()
    {
        QFETCH(QString, modelsAt);
        QFETCH(QString, start);
        QFETCH(QString, expected);
        QTemporaryDir tree;
        QVERIFY(QDir(tree.path()).mkpath(modelsAt + "/models"));
        QVERIFY(QDir(tree.path()).mkpath(start));
        if (QTest::currentDataTag() == QLatin1String("the nearest wins"))
            QVERIFY(QDir(tree.path()).mkpath("n/models"));
        const QString found = findModelsFolder(tree.filePath(start));
        QCOMPARE(found, expected.isEmpty() ? QString() : QDir::cleanPath(tree.filePath(expected)));
    }

    // resolveModelsDir's order: the program's folder, the working folder, and
    // the hand-chosen folder only when neither has one; then the subfolder when
    // it exists.
    void modelsFolderOrder_data()
    {
        QTest::addColumn<bool>("appHas");
        QTest::addColumn<bool>("workHas");
        QTest::addColumn<QString>("chosen"); // "set", "gone" or empty
        QTest::addColumn<QString>("subfolder");
        QTest::addColumn<QString>("expected"); // "app", "work", "chosen", "" + optional "/detection"

        QTest::newRow("program folder first") << true << true << "set"
                                              << ""
                                              << "app/models";
        QTest::newRow("working folder next") << false << true << "set"
                                             << ""
                                             << "work/models";
        QTest::newRow("chosen folder last") << false << false << "set"
                                            << ""
                                            << "chosen";
        QTest::newRow("chosen folder gone") << false << false << "gone"
                                            << ""
                                            << "";
        QTest::newRow("nothing") << false << false << ""
                                 << ""
                                 << "";
        QTest::newRow("subfolder that exists") << true << false << ""
                                               << "detection"
                                               << "app/models/detection";
        QTest::newRow("subfolder missing: the base") << true << false << ""
                                                     << "segmentation"
                                                     << "app/models";
        QTest::newRow("subfolder of the chosen folder") << false << false << "set"
                                                        << "detection"
                                                        << "chosen/detection";
    }

    void modelsFolderOrder()
    {
        QFETCH(bool, appHas);
        QFETCH(bool, workHas);
        QFETCH(QString, chosen);
        QFETCH(QString, subfolder);
        QFETCH(QString, expected);
        QTemporaryDir tree;
        const QDir t(tree.path());
        QVERIFY(t.mkpath(appHas ? "app/models/detection" : "app"));
        QVERIFY(t.mkpath(workHas ? "work/models" : "work"));
        QVERIFY(t.mkpath("chosen/detection"));
        const QString chosenDir = chosen == "set" ? t.filePath("chosen") : chosen == "gone" ? t.filePath("gone") : "";
        const QString result = resolveModelsDirFrom(t.filePath("app"), t.filePath("work"), chosenDir, subfolder);
        QCOMPARE(result, expected.isEmpty() ? QString() : QDir::cleanPath(t.filePath(expected)));
    }

    // The same through the program's own places: the working folder and the
    // setting.
    void modelsFolderOfThisProgram()
    {
        const QString work = folders.workIn("order");
        const QString chosen = folders.path("order-chosen");
        QVERIFY(QDir().mkpath(chosen));
        setChosenFolder(chosen);
        QCOMPARE(resolveModelsDir(), chosen);
        QVERIFY(QDir().mkpath(work + "/models"));
        QCOMPARE(resolveModelsDir(), QDir::cleanPath(work + "/models"));
    }

    // Primary models first, the others after a separator; models of other tools
    // are left out; sizes in KB below 1 MiB (at least 1), else MB.
    void listsTheProjectsModels_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("detection") << "object_detection"
                                   << QStringList{"yolov8n.onnx  (1 KB)", "---", "yolov8n-seg.onnx  (3 MB)"};
        QTest::newRow("segmentation") << "segmentation"
                                      << QStringList{"yolov8n-seg.onnx  (3 MB)", "---", "yolov8n.onnx  (1 KB)"};
        QTest::newRow("semantic segmentation")
            << "semantic_segmentation" << QStringList{"yolov8n-seg.onnx  (3 MB)", "---", "yolov8n.onnx  (1 KB)"};
        QTest::newRow("pose: all alike") << "pose" << QStringList{"yolov8n-seg.onnx  (3 MB)", "yolov8n.onnx  (1 KB)"};
    }

    void listsTheProjectsModels()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, expected);
        // No "detection" or "segmentation" subfolder: the models folder itself.
        const QString models = folders.workIn(QStringLiteral("list-") + QTest::currentDataTag()) + "/models";
        makeFile(models + "/yolov8n.onnx", 500);
        makeFile(models + "/yolov8n-seg.onnx", 3 * 1048576 + 524288);
        for (const char *other : {"face_det.onnx", "sam_encoder.onnx", "SAM_Decoder.onnx", "body-POSE.onnx"})
            makeFile(models + "/" + other, 10);
        makeFile(models + "/notes.txt", 10);
        QVERIFY(QDir().mkpath(models + "/folder.onnx"));

        Host host;
        host.dialog->setProjectType(type);
        host.dialog->rescanModels();
        QCOMPARE(comboTexts(host.combo()), expected);
        QCOMPARE(host.combo()->itemData(0).toString(),
                 QFileInfo(models + "/" + expected.first().section(' ', 0, 0)).absoluteFilePath());
    }

    // The point-prompt and concept models live in "segmentation" by default; a
    // segmentation project's list must not offer them as detectors, nor load
    // the first of them when the dialog shows.
    void promptSegmentationModelsAreLeftOut()
    {
        const QString models = folders.workIn("prompt-models") + "/models/segmentation";
        for (const char *name : {"segmentation_mobile_sam.onnx", "mobile_sam.onnx", "EfficientSAM_vitt.onnx",
                                 "sam3_vision_encoder.onnx", "sam3_decoder.onnx"})
            makeFile(models + "/" + name);
        makeFile(models + "/sam3_tokenizer.json");
        Host host;
        QSignalSpy selected(host.dialog, &AiAutoLabelDialog::modelSelected);
        host.dialog->setProjectType("segmentation");
        host.dialog->show();
        QCOMPARE(comboTexts(host.combo()), QStringList{"— no compatible ONNX models found in models/ —"});
        QCOMPARE(selected.count(), 0);

        // The names the program itself uses for its task models stay listed.
        makeFile(models + "/segmentation.onnx", 2048);
        makeFile(models + "/yolov8n-seg.onnx", 2048);
        makeFile(models + "/detection.onnx", 2048);
        buttonWithText(host.dialog, "↺")->click();
        QCOMPARE(comboTexts(host.combo()), (QStringList{"segmentation.onnx  (2 KB)", "yolov8n-seg.onnx  (2 KB)", "---",
                                                        "detection.onnx  (2 KB)"}));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), QFileInfo(models + "/segmentation.onnx").absoluteFilePath());
    }

    void detectionSubfolderIsUsed()
    {
        const QString models = folders.workIn("subfolder") + "/models";
        makeFile(models + "/top.onnx", 2048);
        makeFile(models + "/detection/det.onnx", 2048);
        Host host;
        host.dialog->setProjectType("object_detection");
        host.dialog->rescanModels();
        QCOMPARE(comboTexts(host.combo()), QStringList{"det.onnx  (2 KB)"});
        host.dialog->setProjectType("classification");
        host.dialog->rescanModels();
        QCOMPARE(comboTexts(host.combo()), QStringList{"top.onnx  (2 KB)"});
    }

    // Without any models folder: only the placeholder, which announces nothing.
    void placeholderWithoutModels()
    {
        folders.workIn("empty");
        Host host;
        QSignalSpy selected(host.dialog, &AiAutoLabelDialog::modelSelected);
        host.dialog->setProjectType("object_detection");
        host.dialog->show();
        QCOMPARE(comboTexts(host.combo()), QStringList{"— no compatible ONNX models found in models/ —"});
        emit host.combo()->activated(0);
        QCOMPARE(selected.count(), 0);
        QVERIFY(!buttonWithText(host.dialog, "Run on Current Image")->isEnabled());
    }

    // The list's own mode: the first model is announced on the first showing;
    // once it is loaded, showing again or rescanning announces nothing.
    void announcesOnlyWhatIsNotLoaded()
    {
        const QString models = folders.workIn("announce") + "/models";
        makeFile(models + "/a.onnx", 100);
        makeFile(models + "/b.onnx", 100);
        Host host;
        host.dialog->setProjectType("pose");
        QSignalSpy selected(host.dialog, &AiAutoLabelDialog::modelSelected);

        host.dialog->show();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), QFileInfo(models + "/a.onnx").absoluteFilePath());
        host.dialog->setLoadedPath(QFileInfo(models + "/b.onnx").absoluteFilePath());
        host.dialog->setModelType(false);

        host.dialog->hide();
        host.dialog->show();
        buttonWithText(host.dialog, "↺")->click();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(host.combo()->currentText(), QStringLiteral("b.onnx  (1 KB)"));

        // The user's choice clears the loaded model until the window reports it.
        emit host.combo()->activated(0);
        QCOMPARE(selected.count(), 2);
        QVERIFY(host.dialog->loadedPath().isEmpty());
        QVERIFY(!buttonWithText(host.dialog, "Run on All Images")->isEnabled());
    }

    // Simple mode: the model configured in Settings stays selected, even when it
    // lies outside the models folder, and showing announces no other.
    void simpleModeKeepsTheConfiguredModel()
    {
        const QString models = folders.workIn("simple") + "/models";
        makeFile(models + "/first.onnx", 100);
        const QString configured = folders.path("elsewhere/mine.onnx");
        makeFile(configured, 4096);

        Host host;
        host.dialog->setProjectType("object_detection");
        QSignalSpy selected(host.dialog, &AiAutoLabelDialog::modelSelected);
        host.dialog->setDetectionMode(true);
        host.dialog->show(); // nothing loaded yet (say the load failed)
        QCOMPARE(selected.count(), 0);
        QVERIFY(!buttonWithText(host.dialog, "Run on Current Image")->isEnabled());

        host.dialog->setLoadedPath(configured);
        host.dialog->setModelType(true);
        host.dialog->hide();
        host.dialog->show();
        QCOMPARE(selected.count(), 0);
        QCOMPARE(host.combo()->currentData().toString(), configured);
        QCOMPARE(comboTexts(host.combo()), (QStringList{"first.onnx  (1 KB)", "---", "mine.onnx  (4 KB)"}));
        QVERIFY(!host.dialog->findChild<QGroupBox *>()->isVisibleTo(host.dialog));
        QVERIFY(buttonWithText(host.dialog, "Run on Current Image")->isEnabled());
    }

    // Run buttons: enabled exactly while a model is loaded and nothing runs;
    // "Cancel" only while running.
    void runButtonsFollowTheModel()
    {
        folders.workIn("buttons");
        Host host;
        host.dialog->show();
        QPushButton *current = buttonWithText(host.dialog, "Run on Current Image");
        QPushButton *all = buttonWithText(host.dialog, "Run on All Images");
        QPushButton *cancel = buttonWithText(host.dialog, "Cancel");
        QLabel *typeLabel = host.dialog->findChild<QLabel *>("mutedLabel");
        QVERIFY(!current->isEnabled());
        QVERIFY(typeLabel->isHidden());
        host.dialog->setDetectionMode(true);
        QVERIFY(!current->isEnabled());

        host.dialog->setLoadedPath("/models/x.onnx");
        host.dialog->setModelType(true);
        QVERIFY(current->isEnabled() && all->isEnabled());
        QVERIFY(!typeLabel->isHidden());
        QCOMPARE(typeLabel->text(), QStringLiteral("Type: Segmentation (YOLOv8-Seg)"));
        QVERIFY(!cancel->isVisible());

        QSignalSpy runAll(host.dialog, &AiAutoLabelDialog::runAllRequested);
        QSignalSpy cancelled(host.dialog, &AiAutoLabelDialog::cancelRequested);
        all->click();
        QCOMPARE(runAll.count(), 1);
        host.dialog->setRunning(true);
        QVERIFY(!current->isEnabled() && !all->isEnabled());
        QVERIFY(cancel->isVisible() && cancel->isEnabled());
        QVERIFY(!host.combo()->isEnabled());
        cancel->click();
        QCOMPARE(cancelled.count(), 1);
        host.dialog->setRunning(false);
        QVERIFY(current->isEnabled());
        QVERIFY(!cancel->isVisible());

        host.dialog->setLoadedPath(QString()); // a failed load
        QVERIFY(!current->isEnabled() && !all->isEnabled());
        QVERIFY(typeLabel->isHidden());
        host.dialog->setLoadedPath("/models/x.onnx");
        host.dialog->setProjectType("segmentation"); // forgets the model
        QVERIFY(!current->isEnabled());
    }

    void progressAndThresholds()
    {
        Host host;
        host.dialog->show();
        auto *bar = host.dialog->findChild<QProgressBar *>();
        QVERIFY(!bar->isVisible());
        host.dialog->setProgress(3, 10);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->maximum(), 10);
        QCOMPARE(bar->value(), 3);
        host.dialog->setProgress(0, 0);
        QVERIFY(!bar->isVisible());

        QCOMPARE(host.dialog->confidence(), 0.25f);
        QCOMPARE(host.dialog->iouThreshold(), 0.45f);
        const auto spins = host.dialog->findChildren<QDoubleSpinBox *>();
        QCOMPARE(spins.size(), 2);
        spins[0]->setValue(0.99);
        QCOMPARE(host.dialog->confidence(), 0.95f);
        spins[1]->setValue(0.0);
        QCOMPARE(host.dialog->iouThreshold(), 0.10f);
    }

    void titleAndSegmentationTab()
    {
        Host host;
        auto *tabs = host.dialog->findChild<QTabWidget *>();
        auto *panel = new QWidget;
        host.dialog->addSegmentationTab(panel);
        host.dialog->show();
        QSignalSpy deactivated(host.dialog, &AiAutoLabelDialog::samPanelDeactivated);

        const QList<std::tuple<QString, QString, bool>> cases{
            {"object_detection", "AI Detection", false},
            {"segmentation", "AI Segmentation", true},
            {"semantic_segmentation", "AI Segmentation", true},
            {"pose", "AI Auto-Label", false},
        };
        for (const auto &[type, title, seg] : cases) {
            host.dialog->setProjectType(type);
            QCOMPARE(host.dialog->windowTitle(), title);
            QCOMPARE(tabs->isTabVisible(1), seg);
            QCOMPARE(tabs->tabBar()->isVisible(), seg);
        }

        host.dialog->setProjectType("segmentation");
        host.dialog->showSegmentationTab();
        QCOMPARE(tabs->currentIndex(), 1);
        deactivated.clear();
        tabs->setCurrentIndex(0);
        QCOMPARE(deactivated.count(), 1);
        host.dialog->hide();
        QCOMPARE(deactivated.count(), 2);

        host.dialog->setProjectType("object_detection"); // back on tab 0, tab 1 out of reach
        host.dialog->showSegmentationTab();
        QCOMPARE(tabs->currentIndex(), 0);
    }

    // The click-segmentation tab exists in every project but shows only in
    // segmentation projects; hidden, it must not leave its height as empty
    // space below the run buttons. Long model names are shown whole.
    void fitsItsContent()
    {
        const QString models = folders.workIn("fit") + "/models";
        makeFile(models + "/yolov8x-seg-finetuned-on-street-scenes-1280.onnx", 3 * 1048576);
        Host plain;
        plain.dialog->setProjectType("object_detection");
        plain.dialog->setDetectionMode(true);
        plain.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(plain.dialog));

        Host host;
        // A panel as tall as its content, as the click-segmentation panel is.
        auto *panel = new QWidget;
        auto *tall = new QWidget(panel);
        tall->setMinimumSize(300, 500);
        (new QVBoxLayout(panel))->addWidget(tall);
        host.dialog->addSegmentationTab(panel);
        host.dialog->setProjectType("segmentation");
        host.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.dialog));
        QVERIFY(host.dialog->height() >= 500);
        QTRY_VERIFY(showsWholeText(host.combo()));

        host.dialog->setProjectType("object_detection");
        host.dialog->setDetectionMode(true);
        QTRY_COMPARE(host.dialog->height(), plain.dialog->height());
        QPushButton *close = buttonWithText(host.dialog, "Close");
        QPushButton *run = buttonWithText(host.dialog, "Run on All Images");
        QVERIFY(close->mapTo(host.dialog, QPoint()).y() - run->mapTo(host.dialog, QPoint()).y() < 120);

        // Shown again as a segmentation project: the panel fits again.
        host.dialog->hide();
        host.dialog->setProjectType("segmentation");
        host.dialog->show();
        QTRY_VERIFY(host.dialog->height() >= 500);
    }

    // A model that fails to load says why in a message of several lines
    // (the path and the runtime's words): the window grows to hold it, and
    // the rows above it keep their height, on the click-segmentation tab and
    // in the panel as a window of its own.
    void longMessagesKeepTheRowsWhole()
    {
        const QString message =
            "Failed to load model: Load model from " + folders.path(QString(6, 'n') + "/" + QString(60, 'm')) +
            ".onnx failed:Protobuf parsing failed. The file is no ONNX model, or it was cut short while it was "
            "copied; choose another file or copy it again.";
        const auto rowsWhole = [](QWidget *window) -> QString {
            for (QWidget *w : window->findChildren<QWidget *>()) {
                if (!w->isVisible())
                    continue;
                const auto *label = qobject_cast<QLabel *>(w);
                const int needed = label && label->wordWrap() ? label->heightForWidth(label->width())
                                                              : w->minimumSizeHint().height();
                if (w->height() < needed)
                    return QStringLiteral("%1 \"%2\" is %3 px high of %4")
                        .arg(w->metaObject()->className(), label ? label->text().left(30) : w->objectName())
                        .arg(w->height())
                        .arg(needed);
            }
            return {};
        };

        Host host;
        auto *panel = new AiSegDialog;
        panel->setEmbedded(true);
        host.dialog->addSegmentationTab(panel);
        host.dialog->setProjectType("semantic_segmentation");
        host.dialog->showSegmentationTab();
        host.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.dialog));
        panel->setStatus(message);
        QTRY_VERIFY2(rowsWhole(host.dialog).isEmpty(), qPrintable(rowsWhole(host.dialog)));

        StyledHost<AiSegDialog> alone;
        alone.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(alone.dialog));
        alone.dialog->setStatus(message);
        QTRY_VERIFY2(rowsWhole(alone.dialog).isEmpty(), qPrintable(rowsWhole(alone.dialog)));
    }

    // "…" stores the chosen folder and lists it (when no other models folder
    // is found); cancelling changes nothing.
    void chooseModelsFolder()
    {
        folders.workIn("choose");
        const QString chosen = folders.path("picked");
        makeFile(chosen + "/picked.onnx", 100);

        QmTest::ScriptedPrompts prompts;
        QmTest::PromptsOverride installed(&prompts);
        Host host;
        host.dialog->show();
        QSignalSpy selected(host.dialog, &AiAutoLabelDialog::modelSelected);

        buttonWithText(host.dialog, "…")->click(); // cancelled
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].title, QStringLiteral("Models Klasörünü Seç"));
        QCOMPARE(prompts.calls[0].text, QDir::homePath());
        QVERIFY(chosenFolderSetting().isEmpty());

        prompts.answers.enqueue(chosen);
        buttonWithText(host.dialog, "…")->click();
        QCOMPARE(chosenFolderSetting(), chosen);
        QCOMPARE(comboTexts(host.combo()), QStringList{"picked.onnx  (1 KB)"});
        QCOMPARE(selected.count(), 1);
    }

    // On the styled window: the fixed sizes, and the disabled run buttons look
    // disabled.
    void styledLook()
    {
        folders.workIn("look");
        Host host;
        host.window.show();
        host.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.dialog));
        QVERIFY(host.dialog->width() >= 420);
        QVERIFY(host.dialog->windowFlags().testFlag(Qt::Tool));
        QCOMPARE(buttonWithText(host.dialog, "↺")->width(), 30);
        QCOMPARE(buttonWithText(host.dialog, "…")->width(), 30);
        // The placeholder is shown whole.
        QCOMPARE(host.combo()->currentText(), QStringLiteral("— no compatible ONNX models found in models/ —"));
        QTRY_VERIFY(showsWholeText(host.combo()));
        QCOMPARE(buttonWithText(host.dialog, "↺")->toolTip(), QStringLiteral("Modelleri yeniden tara"));
        QCOMPARE(buttonWithText(host.dialog, "…")->toolTip(), QStringLiteral("Models klasörünü seç"));

        QPushButton *run = buttonWithText(host.dialog, "Run on All Images");
        const QImage disabled = run->grab().toImage();
        const int disabledText = textContrast(run);
        host.dialog->setLoadedPath("/models/x.onnx");
        host.dialog->setModelType(false);
        const QImage enabled = run->grab().toImage();
        QCOMPARE(disabled.size(), enabled.size());
        QVERIFY(disabled != enabled);
        QVERIFY2(textContrast(run) > disabledText + 40,
                 qPrintable(QStringLiteral("enabled %1, disabled %2").arg(textContrast(run)).arg(disabledText)));
    }
};

QM_TEST_MAIN(TestAutoLabelDialog)
#include "tst_autolabeldialog.moc"
