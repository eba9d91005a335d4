// The keyboard-shortcut reference, its dialog, and the about dialog.

#include "QmTest.h"

#include "chrome/Theme.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ClassEditDialog.h"
#include "dialogs/ShortcutReference.h"
#include "dialogs/ShortcutsDialog.h"

#include <QLabel>
#include <QPushButton>

using namespace Quillmark;

class TestLookDialogs : public QObject {
    Q_OBJECT

private slots:
    void referenceContent();
    void everyKeyTextNamesKeys();
    void shortcutsDialogLayout();
    void aboutDialog();
    void classColorButtonShowsItsNameWhole_data();
    void classColorButtonShowsItsNameWhole();
};

void TestLookDialogs::referenceContent()
{
    QStringList titles;
    QList<int> sizes;
    for (const ShortcutSection &section : shortcutReference) {
        titles.append(section.title);
        sizes.append(int(section.rows.size()));
    }
    QCOMPARE(titles, (QStringList{"File", "Edit", "Tools", "View", "Video", "Help"}));
    QCOMPARE(sizes, (QList<int>{5, 4, 6, 6, 4, 1}));
    // The image steps the tool bar's tool tips name.
    QCOMPARE(shortcutReference.at(3).rows.at(5), (QPair<QString, QString>{"A  /  D", "Previous / next image"}));

    const auto &file = shortcutReference.at(0).rows;
    QCOMPARE(file.at(3), (QPair<QString, QString>{"Ctrl+Shift+S", "Save project as…"}));
    const auto &tools = shortcutReference.at(2).rows;
    QCOMPARE(tools.at(3), (QPair<QString, QString>{"K", "Keypoint"}));
    QCOMPARE(tools.at(5), (QPair<QString, QString>{"Return", "Finalize keypoints"}));
    const auto &video = shortcutReference.at(4).rows;
    QCOMPARE(video.at(2).first, QStringLiteral("←  /  →"));
    QCOMPARE(video.at(3), (QPair<QString, QString>{"Space", "Play / pause slideshow"}));
    QCOMPARE(shortcutReference.at(5).rows.at(0), (QPair<QString, QString>{"F2", "Show shortcuts"}));
}

void TestLookDialogs::everyKeyTextNamesKeys()
{
    for (const ShortcutSection &section : shortcutReference) {
        for (const auto &[key, description] : section.rows)
            QVERIFY2(!shortcutKeySequences(key).isEmpty(), qPrintable(key));
    }
    QCOMPARE(shortcutKeySequences(QStringLiteral("Ctrl+Shift+S")),
             QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("Del")), QList<QKeySequence>{QKeySequence(Qt::Key_Delete)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("Esc")), QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("+")), QList<QKeySequence>{QKeySequence(Qt::Key_Plus)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("-")), QList<QKeySequence>{QKeySequence(Qt::Key_Minus)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("[")), QList<QKeySequence>{QKeySequence(Qt::Key_BracketLeft)});
    QCOMPARE(shortcutKeySequences(QStringLiteral("A  /  D")),
             (QList<QKeySequence>{QKeySequence(Qt::Key_A), QKeySequence(Qt::Key_D)}));
    QCOMPARE(shortcutKeySequences(QStringLiteral("←  /  →")),
             (QList<QKeySequence>{QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Right)}));
    QVERIFY(shortcutKeySequences(QStringLiteral("no such key")).isEmpty());
}

void TestLookDialogs::shortcutsDialogLayout()
{
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(Theme::Light));
    ShortcutsDialog dialog(&window);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Keyboard Shortcuts"));
    QVERIFY(!dialog.isModal());
    QCOMPARE(dialog.minimumWidth(), 440);
    QCOMPARE(dialog.maximumWidth(), 440);

    QStringList sections;
    for (QLabel *label : dialog.findChildren<QLabel *>(QStringLiteral("shortcutSection")))
        sections.append(label->text());
    QCOMPARE(sections, (QStringList{"FILE", "EDIT", "TOOLS", "VIEW", "VIDEO", "HELP"}));
    const QList<QLabel *> keys = dialog.findChildren<QLabel *>(QStringLiteral("shortcutKey"));
    QCOMPARE(keys.size(), 26);
    QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("shortcutDesc")).size(), 26);
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("shortcutTitle"))->text(), QStringLiteral("Keyboard Shortcuts"));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (QLabel *key : keys)
        QVERIFY2(key->width() >= 70, qPrintable(key->text()));  // style sheet: key boxes at least 70 px
    QPushButton *close = dialog.findChild<QPushButton *>();
    QCOMPARE(close->text(), QStringLiteral("Close"));
    close->click();
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestLookDialogs::aboutDialog()
{
    AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Quillmark"));
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.minimumWidth(), 360);
    QCOMPARE(dialog.maximumWidth(), 360);
    QStringList texts;
    for (QLabel *label : dialog.findChildren<QLabel *>())
        texts.append(label->text());
    QVERIFY(texts.contains(QStringLiteral("Quillmark")));
    QVERIFY(texts.contains(QStringLiteral("Version 1.2.0")));
    QVERIFY(texts.contains(QStringLiteral("AI-powered image annotation and dataset\nformat conversion tool.\n\n"
                                          "Formats: YOLO · COCO · Pascal VOC · LabelMe\nand many more.")));
    const QLabel *logo = dialog.findChild<QLabel *>(QStringLiteral("aboutLogo"));
    QCOMPARE(logo->pixmap().size(), QSize(64, 64));
    QCOMPARE(logo->pixmap().toImage().pixelColor(32, 32).alpha(), 255);
    QCOMPARE(dialog.findChildren<QFrame *>(QStringLiteral("toolbarSeparator")).size(), 2);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.width(), 360);
    dialog.findChild<QPushButton *>()->click();
    QVERIFY(dialog.isHidden());
}

void TestLookDialogs::classColorButtonShowsItsNameWhole_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QColor>("color");
    QTest::newRow("light, red") << int(Theme::Light) << QColor("#dc3232");
    QTest::newRow("dark, wide digits") << int(Theme::Dark) << QColor("#808080");
    QTest::newRow("light, wide letters") << int(Theme::Light) << QColor("#dddddd");
}

void TestLookDialogs::classColorButtonShowsItsNameWhole()
{
    // Under the window's style sheet, the swatch and "#DC3232" fit the button.
    QFETCH(int, mode);
    QFETCH(QColor, color);
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(Theme::Mode(mode)));
    auto *dialog = new ClassEditDialog(QStringLiteral("cat"), color, &window);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QPushButton *colorButton = nullptr;
    for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
        if (button->text().startsWith(u'#'))
            colorButton = button;
    }
    QVERIFY(colorButton);
    QCOMPARE(colorButton->text(), color.name().toUpper());
    QVERIFY2(colorButton->width() >= colorButton->sizeHint().width(),
             qPrintable(QStringLiteral("%1 < %2").arg(colorButton->width()).arg(colorButton->sizeHint().width())));
    QVERIFY(colorButton->height() >= colorButton->sizeHint().height());
    QVERIFY(colorButton->width() >= 90);
    QVERIFY(dialog->rect().contains(colorButton->geometry()));
}

QM_TEST_MAIN(TestLookDialogs)
#include "tst_lookdialogs.moc"
