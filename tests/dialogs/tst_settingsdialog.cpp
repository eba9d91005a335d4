// The settings dialog, the stores it writes, the model-path rules, and the
// settings command of the main window.

#include "../app/AppTestSupport.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "app/MainWindow.h"
#include "chrome/Theme.h"
#include "chrome/ToolBar.h"
#include "dialogs/SettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace Quillmark;

namespace {

const QStringList modelKeys = {"models/body", "models/detection", "models/face",
                               "models/hand", "models/sam",       "models/segmentation"};
const QStringList defaultPaths = {"models/body.onnx",
                                  "models/detection.onnx",
                                  "models/face.onnx",
                                  "models/hand.onnx",
                                  "models/segmentation_mobile_sam.onnx",
                                  "models/segmentation.onnx"};

void clearStores()
{
    QSettings().clear();
    QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).clear();
    QSettings(QStringLiteral("Lumbra"), QStringLiteral("Quillmark")).clear();
}

QPushButton *dialogButton(QDialog &dialog, QDialogButtonBox::StandardButton which)
{
    return dialog.findChild<QDialogButtonBox *>()->button(which);
}

// The "Browse…" or "×" button of the row that holds `edit`.
QPushButton *rowButton(QLineEdit *edit, const QString &text)
{
    for (QPushButton *button : edit->parentWidget()->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("onnx") == 4;
}

QColor pixelAtCentreOf(const QImage &image, const QWidget *widget, const QWidget *top, int dx = 0)
{
    const QPoint p = widget->mapTo(top, widget->rect().center()) + QPoint(dx, 0);
    return image.pixelColor(p * image.devicePixelRatio());
}

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { clearStores(); }

    void freshStoreShowsDefaultsAndOkStoresThem();
    void clearedRowRemovesItsKeyAndShowsTheDefaultAgain();
    void cancelKeepsNothing();
    void missingStoredFileShowsDefaultButIsKept();
    void storedTheme_data();
    void storedTheme();
    void okEmitsTheChosenTheme();
    void browseStoresInsidePathsRelative();
    void storedPathFor_data();
    void storedPathFor();
    void resolveModelPathFrom_data();
    void resolveModelPathFrom();
    void resolveModelPathReadsTheDefaultStore();
    void storesKeptApart();
    void layoutUnderTheStyleSheet();
    void missingModelFilesAreMarked();
    void onlyChosenModelsAreMarkedMissing();
    void mainWindowOpensItAndAppliesTheTheme();

private:
    QTemporaryDir tree;
    QString appDir;
};

void TestSettingsDialog::initTestCase()
{
    // The program's identity, as main sets it: the default store is Brightwell/Quillmark.
    QCoreApplication::setOrganizationName(QStringLiteral("Brightwell"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));

    // root/d1/d2/.../d9: d9 plays the program folder, d2 is the eighth folder
    // searched and d1 the ninth.
    QVERIFY(tree.isValid());
    QString dir = tree.path();
    for (int i = 1; i <= 9; ++i)
        dir += QStringLiteral("/d%1").arg(i);
    QVERIFY(QDir().mkpath(dir));
    appDir = dir;
}

void TestSettingsDialog::freshStoreShowsDefaultsAndOkStoresThem()
{
    SettingsDialog dialog;
    QSignalSpy themes(&dialog, &SettingsDialog::themeChanged);
    for (int i = 0; i < modelKeys.size(); ++i) {
        QLineEdit *edit = dialog.modelEdit(modelKeys.at(i));
        QVERIFY(edit);
        QCOMPARE(edit->text(), defaultPaths.at(i));
        QCOMPARE(edit->placeholderText(), QStringLiteral("(not set — click Browse…)"));
    }
    QCOMPARE(dialog.themeBox()->currentText(), QStringLiteral("Light"));

    dialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QSettings settings;
    for (int i = 0; i < modelKeys.size(); ++i)
        QCOMPARE(settings.value(modelKeys.at(i)).toString(), defaultPaths.at(i));
    QCOMPARE(settings.value(QStringLiteral("ui/theme")).toInt(), 0);
    QCOMPARE(themes.size(), 1);
}

void TestSettingsDialog::clearedRowRemovesItsKeyAndShowsTheDefaultAgain()
{
    const QString stored = tree.filePath(QStringLiteral("face-own.onnx"));
    QVERIFY(touch(stored));
    QSettings().setValue(QStringLiteral("models/face"), stored);
    QSettings().setValue(QStringLiteral("models/hand"), QStringLiteral("elsewhere/hand.onnx"));

    SettingsDialog dialog;
    QLineEdit *face = dialog.modelEdit(QStringLiteral("models/face"));
    QCOMPARE(face->text(), stored);
    QCOMPARE(dialog.modelEdit(QStringLiteral("models/hand"))->text(), QStringLiteral("elsewhere/hand.onnx"));

    rowButton(face, QStringLiteral("×"))->click();
    QVERIFY(face->text().isEmpty());
    // A row of blanks counts as cleared too.
    dialog.modelEdit(QStringLiteral("models/hand"))->setText(QStringLiteral("   "));
    dialogButton(dialog, QDialogButtonBox::Ok)->click();

    QSettings settings;
    QVERIFY(!settings.contains(QStringLiteral("models/face")));
    QVERIFY(!settings.contains(QStringLiteral("models/hand")));
    QCOMPARE(settings.value(QStringLiteral("models/body")).toString(), QStringLiteral("models/body.onnx"));

    dialog.loadSettings();
    QCOMPARE(face->text(), QStringLiteral("models/face.onnx"));
}

void TestSettingsDialog::cancelKeepsNothing()
{
    QSettings().setValue(QStringLiteral("models/sam"), QStringLiteral("mine/sam.onnx"));
    SettingsDialog dialog;
    QSignalSpy themes(&dialog, &SettingsDialog::themeChanged);
    dialog.modelEdit(QStringLiteral("models/sam"))->setText(QStringLiteral("typed/other.onnx"));
    dialog.themeBox()->setCurrentIndex(1);
    dialogButton(dialog, QDialogButtonBox::Cancel)->click();

    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(themes.size(), 0);
    QSettings settings;
    QCOMPARE(settings.allKeys(), QStringList{QStringLiteral("models/sam")});
    QCOMPARE(settings.value(QStringLiteral("models/sam")).toString(), QStringLiteral("mine/sam.onnx"));

    dialog.loadSettings();
    QCOMPARE(dialog.modelEdit(QStringLiteral("models/sam"))->text(), QStringLiteral("mine/sam.onnx"));
    QCOMPARE(dialog.themeBox()->currentIndex(), 0);
}

void TestSettingsDialog::missingStoredFileShowsDefaultButIsKept()
{
    // A model on a drive that is not mounted right now.
    const QString unmounted = tree.filePath(QStringLiteral("unmounted/drive/detector.onnx"));
    QSettings().setValue(QStringLiteral("models/detection"), unmounted);
    QSettings().setValue(QStringLiteral("models/body"), unmounted);

    SettingsDialog dialog;
    QCOMPARE(dialog.modelEdit(QStringLiteral("models/detection"))->text(), QStringLiteral("models/detection.onnx"));
    dialog.themeBox()->setCurrentIndex(1);
    dialog.modelEdit(QStringLiteral("models/body"))->setText(QStringLiteral("models/body-new.onnx"));
    dialogButton(dialog, QDialogButtonBox::Ok)->click();

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("models/detection")).toString(), unmounted);
    QCOMPARE(settings.value(QStringLiteral("models/body")).toString(), QStringLiteral("models/body-new.onnx"));
    QCOMPARE(settings.value(QStringLiteral("ui/theme")).toInt(), 1);
    // The untouched rows of a fresh store still take their defaults.
    QCOMPARE(settings.value(QStringLiteral("models/face")).toString(), QStringLiteral("models/face.onnx"));

    // Once the drive is back, the stored path is shown and resolved again.
    QVERIFY(touch(unmounted));
    dialog.loadSettings();
    QCOMPARE(dialog.modelEdit(QStringLiteral("models/detection"))->text(), unmounted);
    QCOMPARE(SettingsDialog::resolveModelPath(QStringLiteral("models/detection")), unmounted);
}

void TestSettingsDialog::storedTheme_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("mode");
    QTest::newRow("unset") << QVariant() << 0;
    QTest::newRow("light") << QVariant(0) << 0;
    QTest::newRow("dark") << QVariant(1) << 1;
    QTest::newRow("out of range") << QVariant(7) << 0;
    QTest::newRow("negative") << QVariant(-1) << 0;
    QTest::newRow("not a number") << QVariant(QStringLiteral("dark")) << 0;
}

void TestSettingsDialog::storedTheme()
{
    QFETCH(QVariant, stored);
    QFETCH(int, mode);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("ui/theme"), stored);
    QCOMPARE(int(SettingsDialog::savedTheme()), mode);
    SettingsDialog dialog;
    QCOMPARE(dialog.themeBox()->currentData().toInt(), mode);
    QCOMPARE(dialog.themeBox()->currentText(), mode == 1 ? QStringLiteral("Dark") : QStringLiteral("Light"));
}

void TestSettingsDialog::okEmitsTheChosenTheme()
{
    SettingsDialog dialog;
    QSignalSpy themes(&dialog, &SettingsDialog::themeChanged);
    dialog.themeBox()->setCurrentIndex(dialog.themeBox()->findText(QStringLiteral("Dark")));
    QCOMPARE(themes.size(), 0);
    dialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(themes.size(), 1);
    QCOMPARE(themes.at(0).at(0).value<Theme::Mode>(), Theme::Dark);
    QCOMPARE(SettingsDialog::savedTheme(), Theme::Dark);
}

void TestSettingsDialog::browseStoresInsidePathsRelative()
{
    // A model inside the program folder (here: the test program's folder).
    QTemporaryDir inside(QCoreApplication::applicationDirPath() + QStringLiteral("/settings-XXXXXX"));
    QVERIFY(inside.isValid());
    const QString insideModel = inside.filePath(QStringLiteral("models/det.onnx"));
    QVERIFY(touch(insideModel));
    const QString relative = QFileInfo(inside.path()).fileName() + QStringLiteral("/models/det.onnx");
    const QString outsideModel = tree.filePath(QStringLiteral("outside/seg.onnx"));
    QVERIFY(touch(outsideModel));

    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride use(&prompts);
    prompts.answers << insideModel << outsideModel << QVariant();

    SettingsDialog dialog;
    QLineEdit *detection = dialog.modelEdit(QStringLiteral("models/detection"));
    rowButton(detection, QStringLiteral("Browse…"))->click();
    QCOMPARE(detection->text(), relative);
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.at(0).kind, QStringLiteral("open"));
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Select Model"));
    QCOMPARE(prompts.calls.at(0).extra, QStringLiteral("ONNX model (*.onnx)"));
    // The chooser starts where the row's relative default resolves, not in the working folder.
    QCOMPARE(prompts.calls.at(0).text,
             QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/models/detection.onnx")));

    QLineEdit *segmentation = dialog.modelEdit(QStringLiteral("models/segmentation"));
    rowButton(segmentation, QStringLiteral("Browse…"))->click();
    QCOMPARE(segmentation->text(), outsideModel);

    // A cancelled chooser leaves the row alone; the next one starts at the row's file.
    rowButton(segmentation, QStringLiteral("Browse…"))->click();
    QCOMPARE(segmentation->text(), outsideModel);
    QCOMPARE(prompts.calls.at(2).text, outsideModel);

    dialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(QSettings().value(QStringLiteral("models/detection")).toString(), relative);
    QCOMPARE(SettingsDialog::resolveModelPath(QStringLiteral("models/detection")), insideModel);
}

void TestSettingsDialog::storedPathFor_data()
{
    QTest::addColumn<QString>("chosen");   // relative to the tree's root
    QTest::addColumn<QString>("expected"); // "=" keeps the chosen path
    QTest::newRow("in the program folder") << "app/det.onnx"
                                           << "det.onnx";
    QTest::newRow("below it") << "app/models/pose/body.onnx"
                              << "models/pose/body.onnx";
    QTest::newRow("outside") << "other/det.onnx"
                             << "=";
    QTest::newRow("sibling sharing the prefix") << "app2/det.onnx"
                                                << "=";
    // On a case-sensitive file system "App" is another folder: a relative path
    // would lead to app/det.onnx, which is not the chosen file.
    QTest::newRow("other case") << "App/det.onnx"
                                << "=";
    QTest::newRow("the program folder itself") << "app"
                                               << "=";
}

void TestSettingsDialog::storedPathFor()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QTemporaryDir root;
    for (const char *file :
         {"app/det.onnx", "app/models/pose/body.onnx", "other/det.onnx", "app2/det.onnx", "App/det.onnx"})
        QVERIFY(touch(root.filePath(QLatin1String(file))));
    const QString chosenPath = root.filePath(chosen);
    const QString result = SettingsDialog::storedPathFor(chosenPath, root.filePath(QStringLiteral("app")));
    QCOMPARE(result, expected == QLatin1String("=") ? chosenPath : expected);
}

void TestSettingsDialog::resolveModelPathFrom_data()
{
    QTest::addColumn<QString>("value");    // "<root>" stands for the tree's root folder
    QTest::addColumn<QString>("expected"); // relative to the root; empty for an empty result
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("in the program folder") << "models/here.onnx"
                                           << "d1/d2/d3/d4/d5/d6/d7/d8/d9/models/here.onnx";
    QTest::newRow("two folders up") << "models/up2.onnx"
                                    << "d1/d2/d3/d4/d5/d6/d7/models/up2.onnx";
    QTest::newRow("the nearest copy wins") << "both.onnx"
                                           << "d1/d2/d3/d4/d5/d6/d7/d8/d9/both.onnx";
    QTest::newRow("eighth folder searched") << "eighth.onnx"
                                            << "d1/d2/eighth.onnx";
    QTest::newRow("ninth folder is not searched") << "ninth.onnx"
                                                  << "d1/d2/d3/d4/d5/d6/d7/d8/d9/ninth.onnx";
    QTest::newRow("nowhere") << "models/none.onnx"
                             << "d1/d2/d3/d4/d5/d6/d7/d8/d9/models/none.onnx";
    QTest::newRow("absolute, present") << "<root>/abs/present.onnx"
                                       << "abs/present.onnx";
    QTest::newRow("absolute, missing, found in models") << "<root>/gone/fallback.onnx"
                                                        << "d1/d2/d3/d4/d5/d6/d7/d8/d9/models/fallback.onnx";
    QTest::newRow("absolute, missing everywhere") << "<root>/gone/lost.onnx"
                                                  << "gone/lost.onnx";
}

void TestSettingsDialog::resolveModelPathFrom()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const QString root = tree.path();
    const QString chain = QStringLiteral("/d1/d2/d3/d4/d5/d6/d7/d8/d9");
    for (const QString &file :
         {chain + "/models/here.onnx", QStringLiteral("/d1/d2/d3/d4/d5/d6/d7/models/up2.onnx"), chain + "/both.onnx",
          QStringLiteral("/d1/d2/d3/d4/d5/d6/d7/d8/both.onnx"), QStringLiteral("/d1/d2/eighth.onnx"),
          QStringLiteral("/d1/ninth.onnx"), QStringLiteral("/abs/present.onnx"), chain + "/models/fallback.onnx"}) {
        if (!QFileInfo::exists(root + file))
            QVERIFY(touch(root + file));
    }
    value.replace(QStringLiteral("<root>"), root);
    const QString result = SettingsDialog::resolveModelPathFrom(value, appDir);
    QCOMPARE(result, expected.isEmpty() ? QString() : root + QLatin1Char('/') + expected);
}

void TestSettingsDialog::resolveModelPathReadsTheDefaultStore()
{
    QVERIFY(SettingsDialog::resolveModelPath(QStringLiteral("models/face")).isEmpty());
    const QString present = tree.filePath(QStringLiteral("abs/face.onnx"));
    QVERIFY(touch(present));
    QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"))
        .setValue(QStringLiteral("models/face"), present);
    QVERIFY(SettingsDialog::resolveModelPath(QStringLiteral("models/face")).isEmpty());
    QSettings().setValue(QStringLiteral("models/face"), present);
    QCOMPARE(SettingsDialog::resolveModelPath(QStringLiteral("models/face")), present);
    // A relative value resolves against the program's folder, reaching it whether or not the file exists.
    QSettings().setValue(QStringLiteral("models/hand"), QStringLiteral("no-such-folder/hand.onnx"));
    QCOMPARE(SettingsDialog::resolveModelPath(QStringLiteral("models/hand")),
             QCoreApplication::applicationDirPath() + QStringLiteral("/no-such-folder/hand.onnx"));
    // The search stops at the file-system root.
    QCOMPARE(SettingsDialog::resolveModelPathFrom(QStringLiteral("qm-no-such-model.onnx"), QStringLiteral("/")),
             QStringLiteral("/qm-no-such-model.onnx"));
}

void TestSettingsDialog::storesKeptApart()
{
    QSettings product(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    QSettings exportStore(QStringLiteral("Lumbra"), QStringLiteral("Quillmark"));
    QSettings main;
    const QStringList files{main.fileName(), product.fileName(), exportStore.fileName()};
    QCOMPARE(QSet<QString>(files.begin(), files.end()).size(), 3);

    main.setValue(QStringLiteral("lastProjectDir"), QStringLiteral("/projects/main"));
    product.setValue(QStringLiteral("lastProjectDir"), QStringLiteral("/projects/wizard"));
    main.setValue(QStringLiteral("lastExportDir"), QStringLiteral("/exports/datasets"));
    exportStore.setValue(QStringLiteral("lastExportDir"), QStringLiteral("/exports/packages"));
    main.sync();
    product.sync();
    exportStore.sync();

    SettingsDialog dialog;
    dialog.themeBox()->setCurrentIndex(1);
    dialogButton(dialog, QDialogButtonBox::Ok)->click();

    // The dialog wrote its keys to the default store only.
    product.sync();
    exportStore.sync();
    QCOMPARE(product.allKeys(), QStringList{QStringLiteral("lastProjectDir")});
    QCOMPARE(exportStore.allKeys(), QStringList{QStringLiteral("lastExportDir")});
    QSettings reread;
    QCOMPARE(reread.value(QStringLiteral("ui/theme")).toInt(), 1);
    QCOMPARE(reread.value(QStringLiteral("lastProjectDir")).toString(), QStringLiteral("/projects/main"));
    QCOMPARE(reread.value(QStringLiteral("lastExportDir")).toString(), QStringLiteral("/exports/datasets"));
    QCOMPARE(product.value(QStringLiteral("lastProjectDir")).toString(), QStringLiteral("/projects/wizard"));
    QCOMPARE(exportStore.value(QStringLiteral("lastExportDir")).toString(), QStringLiteral("/exports/packages"));
}

void TestSettingsDialog::missingModelFilesAreMarked()
{
    // A row whose file is not there carries the mark; a row that names a file
    // that is there, and an empty row, do not.
    QTemporaryDir dir;
    const QString present = dir.filePath(QStringLiteral("here.onnx"));
    QVERIFY(AppTest::writeFile(present, "x"));
    SettingsDialog dialog;
    const QString key = QStringLiteral("models/body");
    const QList<QPair<QString, bool>> cases = {
        {dir.filePath(QStringLiteral("gone.onnx")), true},
        {present, false},
        {QString(), false},
        {QStringLiteral("models/no-such-model.onnx"), true},
    };
    for (const auto &[text, missing] : cases) {
        dialog.modelEdit(key)->setText(text);
        QCOMPARE(dialog.isModelMissing(key), missing);
        QCOMPARE(dialog.missingMark(key)->isVisible(), missing);
    }
    // Shown again, the dialog looks at the files anew.
    QSettings().setValue(key, present);
    dialog.loadSettings();
    QVERIFY(!dialog.missingMark(key)->isVisible());
    QVERIFY(QFile::remove(present));
    dialog.loadSettings();
    QVERIFY(dialog.missingMark(key)->isVisible());
    QSettings().remove(key);
}

void TestSettingsDialog::onlyChosenModelsAreMarkedMissing()
{
    // A fresh installation has chosen no model: the rows show the default
    // paths, which name no file yet, and no row is marked; nor after OK has
    // stored those defaults. A path the user gave that names no file is.
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(Theme::Light));
    auto *dialog = new SettingsDialog(&window);
    const auto marked = [dialog] {
        QStringList keys;
        for (const QString &key : modelKeys) {
            if (dialog->missingMark(key)->isVisible() || dialog->isModelMissing(key))
                keys << key;
        }
        return keys;
    };
    for (const QString &key : modelKeys)
        QVERIFY(!QFileInfo::exists(SettingsDialog::resolveModelPath(key)));
    QCOMPARE(marked(), QStringList());
    dialogButton(*dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(QSettings().value(QStringLiteral("models/face")).toString(), QStringLiteral("models/face.onnx"));
    dialog->loadSettings();
    QCOMPARE(marked(), QStringList());
    for (const QString &key : modelKeys)
        QVERIFY2(SettingsDialog::configuredModelPath(key).isEmpty(), qPrintable(key));

    // The user's own path: marked while its file is not there, and named by
    // configuredModelPath either way.
    QSettings().setValue(QStringLiteral("models/hand"), QStringLiteral("models/my-hand.onnx"));
    dialog->loadSettings();
    QCOMPARE(marked(), QStringList{QStringLiteral("models/hand")});
    QVERIFY(SettingsDialog::configuredModelPath(QStringLiteral("models/hand")).endsWith(QStringLiteral("/models/my-hand.onnx")));
    dialog->modelEdit(QStringLiteral("models/face"))->setText(QStringLiteral("elsewhere/face.onnx"));
    QCOMPARE(marked(), (QStringList{QStringLiteral("models/face"), QStringLiteral("models/hand")}));
    dialog->modelEdit(QStringLiteral("models/face"))->setText(QStringLiteral("models/face.onnx"));
    QCOMPARE(marked(), QStringList{QStringLiteral("models/hand")});

    // A chosen file given by its full path that is gone: the row shows the
    // default in its place, and its mark names the file that is gone.
    const QString gone = tree.filePath(QStringLiteral("gone/body.onnx"));
    QSettings().setValue(QStringLiteral("models/body"), gone);
    dialog->loadSettings();
    QCOMPARE(dialog->modelEdit(QStringLiteral("models/body"))->text(), QStringLiteral("models/body.onnx"));
    QCOMPARE(marked(), (QStringList{QStringLiteral("models/body"), QStringLiteral("models/hand")}));
    QCOMPARE(dialog->modelEdit(QStringLiteral("models/body"))->toolTip(), QStringLiteral("No file at %1").arg(gone));
}

void TestSettingsDialog::layoutUnderTheStyleSheet()
{
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(Theme::Dark));
    auto *dialog = new SettingsDialog(&window);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
    QVERIFY(dialog->isModal());
    QVERIFY(dialog->minimumWidth() >= 520);

    auto *title = dialog->findChild<QLabel *>(QStringLiteral("shortcutTitle"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Settings"));
    auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("settingsTabs"));
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("General"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Models"));
    QCOMPARE(dialog->themeBox()->width(), 110);
    QCOMPARE(dialog->themeBox()->count(), 2);

    // Groups and row labels of the Models tab, in order.
    QStringList groups;
    QStringList labels;
    for (QGroupBox *box : tabs->widget(1)->findChildren<QGroupBox *>()) {
        groups << box->title();
        auto *form = qobject_cast<QFormLayout *>(box->layout());
        for (int row = 0; row < form->rowCount(); ++row)
            labels << qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text();
    }
    QCOMPARE(groups, (QStringList{"Detection", "Segmentation", "Body", "Hand", "Face"}));
    QCOMPARE(labels, (QStringList{"Model:", "Model:", "SAM (Click Segment):", "Model:", "Model:", "Model:"}));

    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    tabs->setCurrentIndex(1);
    // Shrunk as far as it goes, the dialog still shows every label and every
    // default path whole.
    dialog->resize(dialog->minimumWidth(), dialog->height());
    QTRY_COMPARE(dialog->width(), dialog->minimumWidth());
    QCoreApplication::processEvents();
    for (QGroupBox *box : tabs->widget(1)->findChildren<QGroupBox *>()) {
        auto *form = qobject_cast<QFormLayout *>(box->layout());
        for (int row = 0; row < form->rowCount(); ++row) {
            QWidget *label = form->itemAt(row, QFormLayout::LabelRole)->widget();
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(box->title()));
        }
    }
    for (const QString &key : modelKeys) {
        QLineEdit *row = dialog->modelEdit(key);
        QVERIFY2(row->fontMetrics().horizontalAdvance(row->text()) + 16 < row->width(), qPrintable(key));
    }

    QLineEdit *edit = dialog->modelEdit(QStringLiteral("models/sam"));
    QPushButton *browse = rowButton(edit, QStringLiteral("Browse…"));
    QPushButton *clear = rowButton(edit, QStringLiteral("×"));
    QCOMPARE(browse->objectName(), QStringLiteral("compactButton"));
    QCOMPARE(clear->objectName(), QStringLiteral("compactButton"));
    QCOMPARE(browse->height(), 26);
    QCOMPARE(clear->size(), QSize(26, 26));
    QCOMPARE(clear->toolTip(), QStringLiteral("Clear"));
    // The edit sits level with its buttons.
    QCOMPARE(edit->geometry().center().y(), browse->geometry().center().y());

    // The dark sheet reaches the dialog: field, title strip and tab page in the theme's colours.
    const QStringList dark = Theme::colors(Theme::Dark);
    const QImage shot = dialog->grab().toImage();
    QCOMPARE(pixelAtCentreOf(shot, edit, dialog, edit->width() / 2 - 6).name(), dark.at(3));
    QCOMPARE(pixelAtCentreOf(shot, title, dialog, -title->width() / 2 + 6).name(), dark.at(1));

    // Return in a row accepts the dialog, as OK does.
    QSignalSpy themes(dialog, &SettingsDialog::themeChanged);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(themes.size(), 1);
    QVERIFY(!dialog->isVisible());
}

void TestSettingsDialog::mainWindowOpensItAndAppliesTheTheme()
{
    MainWindow window;
    QCOMPARE(window.currentTheme(), Theme::Light);
    QVERIFY(!window.findChild<SettingsDialog *>());

    AppTest::onNextModal([](QWidget *modal) {
        auto *dialog = qobject_cast<SettingsDialog *>(modal);
        QVERIFY(dialog);
        dialog->themeBox()->setCurrentIndex(1);
        dialog->modelEdit(QStringLiteral("models/hand"))->setText(QStringLiteral("mine/hand.onnx"));
        dialogButton(*dialog, QDialogButtonBox::Ok)->click();
    });
    emit window.toolBarWidget()->settingsClicked();
    QCOMPARE(window.currentTheme(), Theme::Dark);
    QCOMPARE(window.styleSheet(), buildAppStyleSheet(Theme::Dark));
    QCOMPARE(SettingsDialog::savedTheme(), Theme::Dark);
    QCOMPARE(QSettings().value(QStringLiteral("models/hand")).toString(), QStringLiteral("mine/hand.onnx"));

    // The second showing reuses the dialog and reloads it: an edit abandoned
    // with Cancel is gone. The theme stored meanwhile elsewhere does not show.
    QSettings().setValue(QStringLiteral("ui/theme"), 0);
    QString shownHand;
    int shownTheme = -1;
    AppTest::onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SettingsDialog *>(modal);
        QVERIFY(dialog);
        dialog->modelEdit(QStringLiteral("models/hand"))->setText(QStringLiteral("abandoned.onnx"));
        dialogButton(*dialog, QDialogButtonBox::Cancel)->click();
    });
    emit window.toolBarWidget()->settingsClicked();
    AppTest::onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SettingsDialog *>(modal);
        shownHand = dialog->modelEdit(QStringLiteral("models/hand"))->text();
        shownTheme = dialog->themeBox()->currentData().toInt();
        dialogButton(*dialog, QDialogButtonBox::Cancel)->click();
    });
    emit window.toolBarWidget()->settingsClicked();
    QCOMPARE(window.findChildren<SettingsDialog *>().size(), 1);
    QCOMPARE(shownHand, QStringLiteral("mine/hand.onnx"));
    // The theme shown is the window's: OK must not switch it behind the user's back.
    QCOMPARE(shownTheme, int(Theme::Dark));
    // Cancel applies no theme.
    QCOMPARE(window.currentTheme(), Theme::Dark);
}

QM_TEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
