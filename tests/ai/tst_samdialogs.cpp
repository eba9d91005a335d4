// The click segmentation panel and the concept segmentation dialog, styled with
// the application's style sheet: their model lists from the models folder, the
// requests they emit and what the user sees of them.
//
// The program finds the models folder next to its own folder first; this test
// runs from a folder of its own and builds "models" there as each case needs.

#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"

#include "AiDialogTestSupport.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace AiDialogTest;

namespace {

QString modelsRoot()
{
    return QCoreApplication::applicationDirPath() + "/models";
}

// Scripted prompts, installed for the life of the object.
struct Prompted {
    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride installed{&prompts};
};

} // namespace

class TestSamDialogs : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QDir(modelsRoot()).removeRecursively();
        QSettings().remove("models/sam");
        QSettings("Quillmark", "Quillmark").remove("modelsDir");
        QVERIFY(QDir::setCurrent(workDir.path()));
    }

    void cleanupTestCase() { QDir(modelsRoot()).removeRecursively(); }

    void segPanelLook()
    {
        StyledHost<AiSegDialog> host;
        AiSegDialog &dialog = *host.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SAM Segmentation"));
        QCOMPARE(dialog.minimumWidth(), 460);
        QVERIFY(dialog.windowFlags().testFlag(Qt::Tool));
        const QLabel *status = dialog.findChild<QLabel *>("mutedLabel");
        QCOMPARE(status->text(), QStringLiteral("Select a SAM model."));
        QVERIFY(status->wordWrap());
        QVERIFY(!buttonWithText(&dialog, "Encode Current Image")->isEnabled());
        QVERIFY(!buttonWithText(&dialog, "Accept")->isEnabled());
        QVERIFY(buttonWithText(&dialog, "Clear Prompts")->isEnabled());
        QCOMPARE(buttonWithText(&dialog, "↺")->toolTip(), QStringLiteral("Yenile"));
        QCOMPARE(buttonWithText(&dialog, "…")->toolTip(), QStringLiteral("Models klasörünü seç"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(buttonWithText(&dialog, "Close")->isVisible());
        QCOMPARE(buttonWithText(&dialog, "↺")->width(), 30);
        QVERIFY(dialog.width() >= 460);
        // The disabled buttons must look disabled next to an enabled one.
        QPushButton *encode = buttonWithText(&dialog, "Encode Current Image");
        const int disabledText = textContrast(encode);
        dialog.setEncodeEnabled(true);
        QVERIFY2(textContrast(encode) > disabledText + 40,
                 qPrintable(QStringLiteral("enabled %1, disabled %2").arg(textContrast(encode)).arg(disabledText)));

        buttonWithText(&dialog, "Close")->click();
        QVERIFY(dialog.isHidden());

        // As a tab: a plain child of the page that holds it, without Close.
        QWidget page;
        page.setStyleSheet(buildAppStyleSheet(Theme::Light));
        auto *embedded = new AiSegDialog(&page);
        embedded->setEmbedded(true);
        QVERIFY(!embedded->isWindow());
        page.show();
        embedded->show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(embedded->isVisible());
        QVERIFY(!buttonWithText(embedded, "Close")->isVisible());
    }

    // Only single-file point-prompt models are listed; the first scan loads the
    // first of them, later scans keep the choice quietly.
    void segPanelModelList()
    {
        const QString folder = modelsRoot() + "/segmentation/";
        makeFile(folder + "mobile_sam.onnx", 900);
        makeFile(folder + "zz_sam_hq.onnx", 3000000);
        for (const char *name :
             {"sam3_decoder.onnx", "sam_vit_b_encoder.onnx", "SAM_decoder.onnx", "yolo.onnx", "sam_notes.txt"})
            makeFile(folder + name, 10);

        AiSegDialog dialog;
        QSignalSpy selected(&dialog, &AiSegDialog::encoderSelected);
        const auto *combo = dialog.findChild<QComboBox *>();
        dialog.show();
        QCOMPARE(comboTexts(combo), (QStringList{"mobile_sam.onnx  (1 KB)", "zz_sam_hq.onnx  (2 MB)"}));
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), QFileInfo(folder + "mobile_sam.onnx").absoluteFilePath());

        // The user picks the second; a rescan finds a new file and keeps the pick.
        selected.clear();
        QTest::keyClick(const_cast<QComboBox *>(combo), Qt::Key_Down);
        QCOMPARE(selected.size(), 1);
        QCOMPARE(dialog.currentModelPath(), QFileInfo(folder + "zz_sam_hq.onnx").absoluteFilePath());
        makeFile(folder + "another_sam.onnx", 2048);
        buttonWithText(&dialog, "↺")->click();
        QCOMPARE(combo->count(), 3);
        QCOMPARE(dialog.currentModelPath(), QFileInfo(folder + "zz_sam_hq.onnx").absoluteFilePath());
        QCOMPARE(selected.size(), 1);
    }

    void segPanelConfiguredModel()
    {
        const QString folder = modelsRoot() + "/segmentation/";
        makeFile(folder + "a_sam.onnx", 100);
        makeFile(folder + "b_sam.onnx", 100);
        QTemporaryDir elsewhere;
        makeFile(elsewhere.filePath("my_model.onnx"), 5000);

        // Configured outside the folder: put first and chosen.
        QSettings().setValue("models/sam", elsewhere.filePath("my_model.onnx"));
        {
            AiSegDialog dialog;
            QSignalSpy selected(&dialog, &AiSegDialog::encoderSelected);
            dialog.refreshModels();
            QCOMPARE(comboTexts(dialog.findChild<QComboBox *>()).first(), QStringLiteral("my_model.onnx  (4 KB)"));
            QCOMPARE(selected.size(), 1);
            QCOMPARE(selected.at(0).at(0).toString(), elsewhere.filePath("my_model.onnx"));
        }
        // Configured and listed: not twice, and chosen.
        QSettings().setValue("models/sam", folder + "b_sam.onnx");
        AiSegDialog dialog;
        QSignalSpy selected(&dialog, &AiSegDialog::encoderSelected);
        dialog.refreshModels();
        QCOMPARE(dialog.findChild<QComboBox *>()->count(), 2);
        QCOMPARE(selected.at(0).at(0).toString(), QFileInfo(folder + "b_sam.onnx").absoluteFilePath());
    }

    // Nothing anywhere: the placeholder, no signal; then a folder chosen by hand
    // is remembered and scanned.
    void segPanelWithoutModels()
    {
        Prompted prompted;
        AiSegDialog dialog;
        QSignalSpy selected(&dialog, &AiSegDialog::encoderSelected);
        auto *combo = dialog.findChild<QComboBox *>();
        dialog.refreshModels();
        QCOMPARE(comboTexts(combo), QStringList{"— model bulunamadı (models/segmentation_mobile_sam.onnx) —"});
        QVERIFY(dialog.currentModelPath().isEmpty());
        emit combo->activated(0);
        QCOMPARE(selected.size(), 0);

        QTemporaryDir chosen;
        makeFile(chosen.filePath("segmentation/mobile_sam.onnx"), 10);
        prompted.prompts.answers.enqueue(chosen.path());
        buttonWithText(&dialog, "…")->click();
        QCOMPARE(prompted.prompts.calls.last().title, QStringLiteral("Models Klasörünü Seç"));
        QCOMPARE(prompted.prompts.calls.last().text, QDir::homePath());
        QCOMPARE(QSettings("Quillmark", "Quillmark").value("modelsDir").toString(), chosen.path());
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), chosen.filePath("segmentation/mobile_sam.onnx"));
    }

    void segPanelRequests()
    {
        AiSegDialog dialog;
        QSignalSpy encode(&dialog, &AiSegDialog::encodeRequested);
        QSignalSpy accept(&dialog, &AiSegDialog::acceptRequested);
        QSignalSpy clear(&dialog, &AiSegDialog::clearRequested);
        dialog.setEncodeEnabled(true);
        dialog.setAcceptEnabled(true);
        buttonWithText(&dialog, "Encode Current Image")->click();
        buttonWithText(&dialog, "Accept")->click();
        buttonWithText(&dialog, "Clear Prompts")->click();
        QCOMPARE(encode.size() + accept.size() + clear.size(), 3);
        dialog.setStatus("Busy");
        QCOMPARE(dialog.findChild<QLabel *>("mutedLabel")->text(), QStringLiteral("Busy"));
    }

    void conceptDialogLook()
    {
        StyledHost<AiSam3Dialog> host(Theme::Dark);
        AiSam3Dialog &dialog = *host.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SAM3 Concept Segmentation"));
        QCOMPARE(dialog.minimumWidth(), 480);
        QVERIFY(dialog.windowFlags().testFlag(Qt::Tool));
        QCOMPARE(dialog.findChild<QLabel *>("mutedLabel")->text(),
                 QStringLiteral("Select models and encode an image."));
        for (const char *name : {"Encode Current Image", "Detect", "Accept Selected"})
            QVERIFY2(!buttonWithText(&dialog, name)->isEnabled(), name);
        const auto *list = dialog.findChild<QListWidget *>();
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(list->maximumHeight(), 160);
        const QList<QDoubleSpinBox *> spins = dialog.findChildren<QDoubleSpinBox *>();
        QCOMPARE(spins.size(), 2);
        for (const QDoubleSpinBox *spin : spins) {
            QCOMPARE(spin->value(), 0.5);
            QCOMPARE(spin->minimum(), 0.05);
            QCOMPARE(spin->maximum(), 0.95);
        }
        QCOMPARE(dialog.findChild<QLineEdit *>()->placeholderText(),
                 QStringLiteral("e.g.  person,  yellow bus,  red car"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // The label fits: the style sheet's padding makes it wider than 80.
        QPushButton *refresh = buttonWithText(&dialog, "Refresh All");
        QVERIFY(refresh->width() >= 80);
        QVERIFY(refresh->width() >= refresh->fontMetrics().horizontalAdvance(refresh->text()) + 20);
        // The dark theme marks disabled buttons more softly: a flatter face and
        // dimmer text.
        QPushButton *detect = buttonWithText(&dialog, "Detect");
        const QImage disabledLook = detect->grab().toImage();
        const int disabledText = textContrast(detect);
        dialog.setDetectEnabled(true);
        QVERIFY(detect->grab().toImage() != disabledLook);
        QVERIFY2(textContrast(detect) > disabledText + 15,
                 qPrintable(QStringLiteral("enabled %1, disabled %2").arg(textContrast(detect)).arg(disabledText)));
        buttonWithText(&dialog, "Close")->click();
        QVERIFY(dialog.isHidden());
    }

    // "Browse folder..." is a link: readable on both themes' panels, also after
    // the theme changes under a shown dialog.
    void conceptBrowseLinkReadable()
    {
        StyledHost<AiSam3Dialog> host(Theme::Light);
        AiSam3Dialog &dialog = *host.dialog;
        host.window.show();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLabel *link = nullptr;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text().contains("Browse folder..."))
                link = label;
        }
        QVERIFY(link);
        QVERIFY(link->text().contains("href='browse'"));
        // Strongest contrast between the link's text and the panel behind it.
        const auto contrast = [&] {
            const QImage image = dialog.grab(QRect(link->mapTo(&dialog, QPoint()), link->size())).toImage();
            const int face = qGray(image.pixel(0, 0));
            int strongest = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    strongest = std::max(strongest, std::abs(qGray(image.pixel(x, y)) - face));
            return strongest;
        };
        QVERIFY2(contrast() > 90, qPrintable(QString::number(contrast())));
        host.window.setStyleSheet(buildAppStyleSheet(Theme::Dark));
        QTRY_VERIFY2(contrast() > 90, qPrintable(QString::number(contrast())));
        QSignalSpy encoder(&dialog, &AiSam3Dialog::visionEncoderSelected);
        Prompted prompted;
        emit link->linkActivated("browse");
        QCOMPARE(prompted.prompts.calls.size(), 1);
        QCOMPARE(prompted.prompts.calls.last().title, QStringLiteral("Select models folder"));
    }

    // Missing files show a placeholder with no path; present ones are announced
    // on every scan, and a rescan keeps the chosen files.
    void conceptModelScan()
    {
        const QString folder = modelsRoot() + "/segmentation/";
        makeFile(folder + "sam3_vision_encoder.onnx", 3000000);
        makeFile(folder + "sam3_tokenizer.json", 1500);
        makeFile(folder + "sam3_decoder_old.onnx", 10);

        AiSam3Dialog dialog;
        QSignalSpy encoder(&dialog, &AiSam3Dialog::visionEncoderSelected);
        QSignalSpy decoder(&dialog, &AiSam3Dialog::decoderSelected);
        dialog.scanModels();
        const QList<QComboBox *> combos = dialog.findChildren<QComboBox *>();
        QCOMPARE(comboTexts(combos[0]), QStringList{"sam3_vision_encoder.onnx  (2 MB)"});
        QCOMPARE(comboTexts(combos[1]), QStringList{"-- sam3_decoder.onnx not found --"});
        QCOMPARE(comboTexts(combos[2]), QStringList{"sam3_tokenizer.json  (1 KB)"});
        QCOMPARE(dialog.visionEncoderPath(), QFileInfo(folder + "sam3_vision_encoder.onnx").absoluteFilePath());
        QVERIFY(dialog.decoderPath().isEmpty());
        QCOMPARE(dialog.tokenizerPath(), QFileInfo(folder + "sam3_tokenizer.json").absoluteFilePath());
        QCOMPARE(encoder.size(), 1);
        QCOMPARE(decoder.size(), 0);

        makeFile(folder + "sam3_decoder.onnx", 10);
        buttonWithText(&dialog, "Refresh All")->click();
        QCOMPARE(dialog.decoderPath(), QFileInfo(folder + "sam3_decoder.onnx").absoluteFilePath());
        QCOMPARE(encoder.size(), 2);
        QCOMPARE(decoder.size(), 1);

        // No models folder at all: the boxes keep what they hold, nothing is announced.
        QDir(modelsRoot()).removeRecursively();
        dialog.scanModels();
        QCOMPARE(encoder.size(), 2);
        QVERIFY(!dialog.decoderPath().isEmpty());
    }

    void conceptDetectionsAndRequests()
    {
        AiSam3Dialog dialog;
        QSignalSpy preview(&dialog, &AiSam3Dialog::previewRequested);
        QSignalSpy accept(&dialog, &AiSam3Dialog::acceptRequested);
        QSignalSpy detect(&dialog, &AiSam3Dialog::detectRequested);
        QSignalSpy encode(&dialog, &AiSam3Dialog::encodeRequested);

        Sam3Detection a;
        a.score = 0.9534f;
        a.box = QRectF(QPointF(10.7, -3.2), QPointF(200.9, 99.99));
        Sam3Detection b;
        b.score = 0.5f;
        b.box = QRectF(0, 0, 5, 5);
        Sam3Detection c;
        c.score = 0.25f;
        dialog.setDetections({a, b, c});
        auto *list = dialog.findChild<QListWidget *>();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Detection #1   score: 0.953   bbox: (10,-3)-(200,99)"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Detection #2   score: 0.500   bbox: (0,0)-(5,5)"));

        QPushButton *acceptButton = buttonWithText(&dialog, "Accept Selected");
        list->item(2)->setSelected(true);
        list->item(0)->setSelected(true);
        QVERIFY(acceptButton->isEnabled());
        QCOMPARE(preview.last().at(0).value<QList<int>>(), (QList<int>{2, 0}));
        acceptButton->click();
        QCOMPARE(accept.size(), 1);
        QCOMPARE(accept.last().at(0).value<QList<int>>(), (QList<int>{2, 0}));

        list->clearSelection();
        QVERIFY(!acceptButton->isEnabled());
        QCOMPARE(preview.last().at(0).value<QList<int>>(), QList<int>{});

        list->item(1)->setSelected(true);
        dialog.clearDetections();
        QCOMPARE(list->count(), 0);
        QVERIFY(!acceptButton->isEnabled());

        // Return in the prompt runs Detect when it is enabled, with the trimmed
        // text (also an empty one), and clicks no other button.
        auto *prompt = dialog.findChild<QLineEdit *>();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setEncodeEnabled(true);
        prompt->setFocus();
        QTest::keyClick(prompt, Qt::Key_Return);
        QCOMPARE(detect.size(), 0);
        dialog.setDetectEnabled(true);
        QTest::keyClick(prompt, Qt::Key_Return);
        QCOMPARE(detect.size(), 1);
        QCOMPARE(detect.last().at(0).toString(), QString());
        prompt->setText("  red car ");
        dialog.findChildren<QDoubleSpinBox *>()[0]->setValue(0.35);
        QTest::keyClick(prompt, Qt::Key_Enter);
        QCOMPARE(detect.size(), 2);
        QCOMPARE(detect.last().at(0).toString(), QStringLiteral("red car"));
        QCOMPARE(detect.last().at(1).toFloat(), 0.35f);
        QCOMPARE(detect.last().at(2).toFloat(), 0.5f);
        QCOMPARE(encode.size(), 0);
    }

private:
    QTemporaryDir workDir;
};

QM_TEST_MAIN(TestSamDialogs)
#include "tst_samdialogs.moc"
