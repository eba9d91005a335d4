// The main window's shell: construction and layout, keyboard shortcuts and
// menus, the frameless border resize, status and progress, the busy state of
// background jobs, and the title.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "canvas/StatsOverlay.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/SettingsDialog.h"
#include "dialogs/ShortcutReference.h"
#include "dialogs/ShortcutsDialog.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QComboBox>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStyleHints>
#include <QTextEdit>
#include <QToolButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QUndoStack>

#include <atomic>
#include <memory>
#include <optional>

using namespace Quillmark;
using namespace AppTest;

namespace {

// The rows of the shortcut reference that the canvas's own key handling
// answers when it has the focus.
QStringList canvasReferenceRows()
{
    return {QStringLiteral("Ctrl+Z"), QStringLiteral("Ctrl+Y"), QStringLiteral("Del"), QStringLiteral("Esc"),
            QStringLiteral("Return")};
}

// Shows the window with an empty project of `type`; false when it does not come.
bool showTypedProject(MainWindow &window, const QString &type)
{
    MainWindowTestAccess access(window);
    access.project().projectType = type;
    access.updateTitle();
    window.show();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void constructsHiddenWithEveryPart();
    void layoutSizes();
    void canvasControlsKeepTheirTextBesideALongName();
    void styleSheetOnTheWindowOnly();
    void themeSwitchReachesPaintingWidgets();
    void menuBarHiddenAndNotNative();
    void windowShortcutsReachTheirCommands_data();
    void windowShortcutsReachTheirCommands();
    void toolKeysSelectOnlyAllowedTools_data();
    void toolKeysSelectOnlyAllowedTools();
    void disallowedKeyDrawsNothingInAClassificationProject();
    void keyOfTheToolInUseKeepsThePlacedPoints();
    void toolKeysNeverOpenTheAssistanceTools();
    void everyReferencedKeyIsBound();
    void canvasRowsOfTheReferenceAct();
    void canvasKeepsItsOwnKeys();
    void undoButtonsOnlyWithSomethingToUndo();
    void editMenuEntriesActOnTheCanvas();
    void shortcutsDialogIsCreatedOnce();
    void borderResize_data();
    void borderResize();
    void borderResizeIgnoresRightButtonAndInnerPoints();
    void progressBounceAndCountedPosts();
    void progressPostsFromAWorker();
    void busyJobBlocksProjectCommands();
    void closeRefusedWhileAJobRuns();
    void aiRunCancelledFromTheStatusBar();
    void fileCommandsAreUsable();
    void titleFollowsTheProject_data();
    void titleFollowsTheProject();
    void statisticsTellAnEmptyProjectFromNone_data();
    void statisticsTellAnEmptyProjectFromNone();
    void statsToggleAndZoomLabel();
    void classChosenWithTheArrowsIsTheDrawingClass();
    void tabLeavesTheCommentsBox();
    void exportDialogDrivenByKeysAlone_data();
    void exportDialogDrivenByKeysAlone();
    void messageBoxesShowTheirTextAsWritten();
    void importWithoutATypeSaysSo();

private:
    QmTest::ScriptedPrompts prompts;
};

void TestMainWindow::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
}

void TestMainWindow::constructsHiddenWithEveryPart()
{
    MainWindow window;
    QVERIFY(!window.isVisible());
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(statusText(window), QStringLiteral("Ready"));
    QVERIFY(!window.progressBarWidget()->isVisibleTo(&window));
    QVERIFY(!window.videoScrubberWidget()->isVisibleTo(&window));
    QVERIFY(!window.videoScrubberWidget()->isEnabled());
    QVERIFY(window.labelsToggle()->isChecked());
    QVERIFY(window.statsToggle()->isChecked());
    QCOMPARE(window.zoomLabelWidget()->text(), QStringLiteral("100%"));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("leftPane")));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("centerPane")));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("canvasTopBar")));
    QCOMPARE(window.statsOverlayWidget()->parentWidget(), window.labelCanvas());
    QVERIFY(!window.toolBarWidget()->button(ToolBar::Play)->isEnabled());
    QVERIFY(!window.isModified());
    QCOMPARE(window.currentImage(), -1);
    QVERIFY(window.currentProject().projectType.isEmpty());

    // The canvas controls row, left to right.
    auto *controls = window.findChild<QWidget *>(QStringLiteral("canvasTopBar"));
    QStringList row;
    for (int i = 0; i < controls->layout()->count(); ++i) {
        QWidget *w = controls->layout()->itemAt(i)->widget();
        if (auto *button = qobject_cast<QPushButton *>(w))
            row << button->text();
        else if (w == window.zoomLabelWidget())
            row << QStringLiteral("zoom");
        else if (w == window.videoScrubberWidget())
            row << QStringLiteral("scrubber");
        else if (w)
            row << QStringLiteral("label or spacer");
    }
    QCOMPARE(row, (QStringList{"label or spacer", "label or spacer", "label or spacer", "Labels", "Stats", "Fit",
                               "100%", "\uFF0D", "zoom", "\uFF0B"}));
    // The scrubber has a row of its own below, hidden with it outside video mode.
    QWidget *scrubberRow = window.findChild<QWidget *>(QStringLiteral("scrubberBar"));
    QVERIFY(scrubberRow);
    QCOMPARE(window.videoScrubberWidget()->parentWidget(), scrubberRow);
    QVERIFY(!scrubberRow->isVisibleTo(&window));
}

void TestMainWindow::layoutSizes()
{
    MainWindow window;
    QCOMPARE(window.size(), QSize(1440, 860));
    QCOMPARE(window.minimumSize(), QSize(1040, 640));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *splitter = window.findChild<QSplitter *>();
    QVERIFY(splitter);
    const QList<int> sizes = splitter->sizes();
    QCOMPARE(sizes.size(), 3);
    auto *leftPane = window.findChild<QWidget *>(QStringLiteral("leftPane"));
    // The left pane holds the tool strip and the whole image list.
    QVERIFY(sizes.at(0) >= window.sideToolBarWidget()->width() + window.imageList()->minimumSizeHint().width());
    QCOMPARE(sizes.at(0), leftPane->width());
    // 270 pixels, or more when the class buttons need more for their text.
    QCOMPARE(sizes.at(2), std::max(270, window.annotations()->minimumSizeHint().width()));

    window.resize(1700, 860);
    QTRY_COMPARE(splitter->sizes().at(0), sizes.at(0));
    QCOMPARE(splitter->sizes().at(2), sizes.at(2));
    QVERIFY(splitter->sizes().at(1) > sizes.at(1));
}

void TestMainWindow::canvasControlsKeepTheirTextBesideALongName()
{
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    const QString longName = QStringLiteral("IMG_20240611_153012_backyard_camera_north_fence_motion_event_0042.png");
    access.project().dataset.addImage(
        imageEntry(writeImage(QDir(dir.path()), longName, 300, 200, Qt::gray), 300, 200));
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);

    auto *controls = window.findChild<QWidget *>(QStringLiteral("canvasTopBar"));
    QVERIFY(controls);
    auto *nameLabel = qobject_cast<QLabel *>(controls->layout()->itemAt(0)->widget());
    QVERIFY(nameLabel);
    for (const QSize size : {QSize(1440, 860), QSize(1040, 640)}) {
        window.resize(size);
        QTRY_COMPARE(window.size(), size);
        QCoreApplication::processEvents();
        // Every button of the row shows its whole caption under the style sheet;
        // the long name gives way instead, inside the row.
        for (QPushButton *button : controls->findChildren<QPushButton *>()) {
            if (!button->isVisible())
                continue;
            QVERIFY2(button->width() >= button->sizeHint().width(),
                     qPrintable(QStringLiteral("%1 at %2: %3 < %4")
                                    .arg(button->text())
                                    .arg(size.width())
                                    .arg(button->width())
                                    .arg(button->sizeHint().width())));
        }
        QVERIFY(window.zoomLabelWidget()->width() >=
                window.zoomLabelWidget()->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
        QVERIFY(nameLabel->geometry().right() < window.positionLabelWidget()->geometry().left());
        // Where the name does not fit it gives way (drawn cut short with an
        // ellipsis), and the whole name stays at hand in the tool tip.
        QCOMPARE(nameLabel->text(), longName);
        const bool cut = nameLabel->contentsRect().width() < nameLabel->fontMetrics().horizontalAdvance(longName);
        QVERIFY(cut || size.width() > 1040);
        controls->grab();
        QCOMPARE(nameLabel->toolTip(), cut ? longName : QString());
    }
}

void TestMainWindow::styleSheetOnTheWindowOnly()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The same widget inside the window and in a window of its own: the sheet's
    // capped tool bar button size and its label colours reach only the first.
    const auto makeButton = [](QWidget *parent) {
        auto *button = new QPushButton(QStringLiteral("A caption much wider than thirty pixels"), parent);
        button->setObjectName(QStringLiteral("toolBarBtn"));
        return button;
    };
    QPushButton *inside = makeButton(window.centralWidget());
    inside->show();
    std::unique_ptr<QPushButton> outside(makeButton(nullptr));
    outside->show();
    QVERIFY(QTest::qWaitForWindowExposed(outside.get()));
    inside->adjustSize();
    outside->adjustSize();
    QVERIFY2(inside->width() <= 50 && inside->height() <= 40,
             qPrintable(QStringLiteral("%1 x %2").arg(inside->width()).arg(inside->height())));
    QCOMPARE(outside->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY2(outside->width() > 100, qPrintable(QString::number(outside->width())));

    auto *insideLabel = new QLabel(QStringLiteral("muted"), window.centralWidget());
    insideLabel->setObjectName(QStringLiteral("mutedLabel"));
    QLabel outsideLabel(QStringLiteral("muted"));
    outsideLabel.setObjectName(QStringLiteral("mutedLabel"));
    insideLabel->ensurePolished();
    outsideLabel.ensurePolished();
    const QColor muted = insideLabel->palette().color(QPalette::WindowText);
    QVERIFY(muted != outsideLabel.palette().color(QPalette::WindowText));
    QCOMPARE(outsideLabel.palette().color(QPalette::WindowText), QApplication::palette().color(QPalette::WindowText));

    // The theme switch restyles what is inside.
    window.applyTheme(window.currentTheme() == Theme::Dark ? Theme::Light : Theme::Dark);
    insideLabel->ensurePolished();
    QVERIFY(insideLabel->palette().color(QPalette::WindowText) != muted);
}

void TestMainWindow::themeSwitchReachesPaintingWidgets()
{
    QSettings().setValue(QStringLiteral("ui/theme"), 1);
    MainWindow window;
    QSettings().remove(QStringLiteral("ui/theme"));
    QCOMPARE(window.currentTheme(), Theme::Dark);
    QCOMPARE(window.styleSheet(), buildAppStyleSheet(Theme::Dark));

    window.resize(1440, 860);
    const QImage darkCanvas = window.labelCanvas()->grab().toImage();
    emit window.toolBarWidget()->themeChanged(Theme::Light);
    QCOMPARE(window.currentTheme(), Theme::Light);
    QCOMPARE(window.styleSheet(), buildAppStyleSheet(Theme::Light));
    const QImage lightCanvas = window.labelCanvas()->grab().toImage();
    QVERIFY(darkCanvas.pixelColor(5, 5) != lightCanvas.pixelColor(5, 5));

    window.applyTheme(Theme::Dark);
    QCOMPARE(window.labelCanvas()->grab().toImage().pixelColor(5, 5), darkCanvas.pixelColor(5, 5));
    // The choice on the tool bar is not stored.
    QVERIFY(!QSettings().contains(QStringLiteral("ui/theme")));

    // Settings show the theme the window has, and OK keeps it.
    for (int round = 0; round < 2; ++round) {
        int shown = -1;
        onNextModal([&shown](QWidget *modal) {
            auto *settings = qobject_cast<SettingsDialog *>(modal);
            if (!settings)
                return;
            shown = settings->themeBox()->currentData().toInt();
            settings->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        window.toolBarWidget()->button(ToolBar::Settings)->click();
        QCOMPARE(shown, int(Theme::Dark));
        QCOMPARE(window.currentTheme(), Theme::Dark);
    }
    QSettings().remove(QStringLiteral("ui/theme"));
}

void TestMainWindow::menuBarHiddenAndNotNative()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.menuBar()->isVisible());
    QVERIFY(!window.menuBar()->isNativeMenuBar());

    QStringList menus;
    for (QAction *action : window.menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Help"}));
    QStringList edit;
    for (QAction *action : window.editMenuWidget()->actions())
        edit << action->text();
    QCOMPARE(edit, (QStringList{"&Undo", "&Redo", "", "Delete Selected", "Deselect"}));

    // Quit goes through the window's close, so unsaved work is asked about.
    MainWindowTestAccess(window).modified() = true;
    prompts.answers.enqueue(int(QMessageBox::Cancel));
    QMenu *file = window.menuBar()->actions().at(0)->menu();
    file->actions().constLast()->trigger();
    QVERIFY(window.isVisible());
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.at(0).text, QStringLiteral("You have unsaved changes. Save before you exit?"));
}

void TestMainWindow::windowShortcutsReachTheirCommands_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("L") << QKeySequence(Qt::Key_L) << "labels off";
    QTest::newRow("+") << QKeySequence(Qt::Key_Plus) << "zoom in";
    QTest::newRow("=") << QKeySequence(Qt::Key_Equal) << "zoom in";
    QTest::newRow("-") << QKeySequence(Qt::Key_Minus) << "zoom out";
    QTest::newRow("G") << QKeySequence(Qt::Key_G) << "zoom 100";
    QTest::newRow("F") << QKeySequence(Qt::Key_F) << "fit";
    QTest::newRow("V") << QKeySequence(Qt::Key_V) << "tool 0";
    QTest::newRow("B") << QKeySequence(Qt::Key_B) << "tool 1";
    QTest::newRow("D") << QKeySequence(Qt::Key_D) << "next";
    QTest::newRow("A") << QKeySequence(Qt::Key_A) << "previous";
    QTest::newRow("save") << QKeySequence(QKeySequence::Save) << "saved";
    QTest::newRow("save as") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) << "prompt Save Project As";
    QTest::newRow("open") << QKeySequence(QKeySequence::Open) << "prompt Open Project";
}

void TestMainWindow::windowShortcutsReachTheirCommands()
{
    QFETCH(QKeySequence, key);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection"), 3));
    window.labelCanvas()->fitToWindow();
    const float fitScale = window.labelCanvas()->viewScale();
    window.labelCanvas()->zoomIn();
    const float zoomedScale = window.labelCanvas()->viewScale();
    window.labelCanvas()->setTool(int(Tool::Polygon));
    window.sideToolBarWidget()->setTool(int(Tool::Polygon));

    QTest::keySequence(&window, key);

    if (expected == "labels off") {
        QVERIFY(!window.labelsToggle()->isChecked());
    } else if (expected == "zoom in") {
        QVERIFY(window.labelCanvas()->viewScale() > zoomedScale);
        QCOMPARE(window.zoomLabelWidget()->text(),
                 QStringLiteral("%1%").arg(qRound(window.labelCanvas()->viewScale() * 100)));
    } else if (expected == "zoom out") {
        QVERIFY(window.labelCanvas()->viewScale() < zoomedScale);
    } else if (expected == "zoom 100") {
        QCOMPARE(window.labelCanvas()->viewScale(), 1.0f);
        QCOMPARE(window.zoomLabelWidget()->text(), QStringLiteral("100%"));
    } else if (expected == "fit") {
        QCOMPARE(window.labelCanvas()->viewScale(), fitScale);
    } else if (expected.startsWith("tool ")) {
        const int tool = expected.mid(5).toInt();
        QCOMPARE(window.labelCanvas()->currentTool(), tool);
        QCOMPARE(window.sideToolBarWidget()->tool(), tool);
    } else if (expected == "next") {
        QCOMPARE(window.currentImage(), 1);
    } else if (expected == "previous") {
        QCOMPARE(window.currentImage(), 2);
    } else if (expected == "saved") {
        QVERIFY(prompts.calls.isEmpty());
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("p.qmk"))));
    } else if (expected.startsWith("prompt ")) {
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls.at(0).title, expected.mid(7));
    }
}

void TestMainWindow::toolKeysSelectOnlyAllowedTools_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("tool");
    QTest::addColumn<bool>("allowed");
    // The tools the side tool bar offers per type.
    const QList<QPair<QString, QList<int>>> offered = {
        {"object_detection", {0, 1, 5}},
        {"segmentation", {0, 2, 5}},
        {"semantic_segmentation", {0, 2, 5}},
        {"pose", {0, 3, 6}},
        {"face", {0, 1, 3, 7}},
        {"classification", {0}},
    };
    const QList<QPair<int, int>> keys = {{Qt::Key_V, 0}, {Qt::Key_B, 1}, {Qt::Key_P, 2},
                                         {Qt::Key_K, 3}, {Qt::Key_O, 3}, {Qt::Key_C, 4}};
    for (const auto &[type, tools] : offered) {
        for (const auto &[key, tool] : keys) {
            QTest::addRow("%s %s", qPrintable(type), qPrintable(QKeySequence(key).toString()))
                << type << key << tool << tools.contains(tool);
        }
    }
}

void TestMainWindow::toolKeysSelectOnlyAllowedTools()
{
    QFETCH(QString, type);
    QFETCH(int, key);
    QFETCH(int, tool);
    QFETCH(bool, allowed);

    MainWindow window;
    QVERIFY(showTypedProject(window, type));
    // Start from a tool that no key selects, so every move shows.
    window.labelCanvas()->setTool(int(Tool::AiLabel));
    window.sideToolBarWidget()->setTool(int(Tool::AiLabel));

    QTest::keyClick(&window, Qt::Key(key));
    const int expected = allowed ? tool : int(Tool::AiLabel);
    QCOMPARE(window.labelCanvas()->currentTool(), expected);
    QCOMPARE(window.sideToolBarWidget()->tool(), expected);
}

void TestMainWindow::disallowedKeyDrawsNothingInAClassificationProject()
{
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(showProject(window, dir, QStringLiteral("classification")));
    LabelCanvas *canvas = window.labelCanvas();

    QTest::keyClick(canvas, Qt::Key_B);
    drawBox(canvas, {20, 20}, {120, 120});
    QVERIFY(canvas->annotations().isEmpty());
    QVERIFY(access.project().dataset.images.at(0).labels.isEmpty());
    QVERIFY(!window.isModified());
}

void TestMainWindow::keyOfTheToolInUseKeepsThePlacedPoints()
{
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QStringLiteral("segmentation")));
    LabelCanvas *canvas = window.labelCanvas();

    QTest::keyClick(canvas, Qt::Key_P);
    clickAt(canvas, {20, 20});
    clickAt(canvas, {120, 20});
    QVERIFY(canvas->isPlacing());
    // Pressing the polygon key again, as one does to be sure of the tool.
    QTest::keyClick(canvas, Qt::Key_P);
    QVERIFY(canvas->isPlacing());
    clickAt(canvas, {120, 120});
    clickAt(canvas, {20, 20});
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().at(0).points.size(), 3);

    // Another tool's key still ends the placing.
    QTest::keyClick(canvas, Qt::Key_P);
    clickAt(canvas, {40, 40});
    QTest::keyClick(canvas, Qt::Key_V);
    QVERIFY(!canvas->isPlacing());
}

void TestMainWindow::toolKeysNeverOpenTheAssistanceTools()
{
    for (const QString type : {"pose", "face", "object_detection"}) {
        MainWindow window;
        QVERIFY(showTypedProject(window, type));

        // The pose and face tools chosen on the side bar open their tool and
        // fall back to Select.
        emit window.sideToolBarWidget()->toolChanged(type == "face" ? Tool::Face : Tool::Pose);
        QCOMPARE(window.labelCanvas()->currentTool(), int(Tool::Select));
        QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Select));

        // No key reaches that tool change: every plain key the window binds,
        // and the digits of the assistance tools, leave it alone.
        QSignalSpy toolChanges(window.sideToolBarWidget(), &SideToolBar::toolChanged);
        QList<QKeySequence> keys = {QKeySequence(Qt::Key_5), QKeySequence(Qt::Key_6), QKeySequence(Qt::Key_7)};
        for (QShortcut *shortcut : window.windowShortcuts()) {
            if (shortcut->key()[0].keyboardModifiers() == Qt::NoModifier && shortcut->key() != QKeySequence(Qt::Key_F2))
                keys << shortcut->key();
        }
        QVERIFY(keys.size() > 10);
        for (const QKeySequence &key : keys) {
            QTest::keySequence(&window, key);
            QVERIFY2(window.labelCanvas()->currentTool() <= int(Tool::Keypoint), qPrintable(key.toString()));
            QVERIFY2(window.sideToolBarWidget()->tool() <= int(Tool::Keypoint), qPrintable(key.toString()));
        }
        QCOMPARE(toolChanges.count(), 0);
    }
}

void TestMainWindow::everyReferencedKeyIsBound()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    // The frame keys live in video mode only.
    access.setVideoMode(true);
    QSet<QString> bound;
    for (QShortcut *shortcut : window.windowShortcuts()) {
        if (shortcut->isEnabled())
            bound.insert(shortcut->key().toString(QKeySequence::PortableText));
    }
    // Rows that no window shortcut binds reach the canvas's own key handling;
    // canvasRowsOfTheReferenceAct presses each of them there.
    QStringList unbound;
    for (const ShortcutSection &section : shortcutReference) {
        for (const auto &[keyText, description] : section.rows) {
            const QList<QKeySequence> keys = shortcutKeySequences(keyText);
            QVERIFY2(!keys.isEmpty(), qPrintable(keyText));
            for (const QKeySequence &key : keys) {
                if (!bound.contains(key.toString(QKeySequence::PortableText)))
                    unbound << keyText;
            }
        }
    }
    unbound.removeDuplicates();
    for (const QString &keyText : unbound)
        QVERIFY2(canvasReferenceRows().contains(keyText), qPrintable(keyText + QStringLiteral(" is not bound")));

    access.setVideoMode(false);
    int frameKeys = 0;
    for (QShortcut *shortcut : window.windowShortcuts()) {
        const QKeySequence key = shortcut->key();
        if (key == QKeySequence(Qt::Key_Space) || key == QKeySequence(Qt::Key_Left)
            || key == QKeySequence(Qt::Key_Right)) {
            ++frameKeys;
            QVERIFY(!shortcut->isEnabled());
        }
    }
    QCOMPARE(frameKeys, 3);
}

void TestMainWindow::canvasRowsOfTheReferenceAct()
{
    // A pose project with a three-point schema, one image and one box.
    MainWindow window;
    MainWindowTestAccess access(window);
    KeypointSchema schema;
    schema.objectClass = QStringLiteral("person");
    schema.keypointNames = {QStringLiteral("head"), QStringLiteral("hip"), QStringLiteral("foot")};
    access.project().dataset.setKeypointSchema(schema);
    ImageEntry entry = memoryImage(QStringLiteral("mem.png"), 400, 300, Qt::gray, {box({300, 200, 50, 50}, "person")});
    access.project().dataset.addImage(entry);
    access.project().projectType = QStringLiteral("pose");
    access.projectPath() = QStringLiteral("/p/pose.qmk");
    access.refreshUi();
    access.updateTitle();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setFocus();
    QTRY_VERIFY(canvas->hasFocus());
    const auto press = [&window](const QString &keyText) {
        const QList<QKeySequence> keys = shortcutKeySequences(keyText);
        QCOMPARE(keys.size(), 1);
        QTest::keySequence(window.labelCanvas(), keys.at(0));
    };
    const auto stored = [&access] { return access.project().dataset.images.at(0).labels; };

    // Return: two keypoints placed, the third left out.
    canvas->setTool(int(Tool::Keypoint));
    clickAt(canvas, {50, 40});
    clickAt(canvas, {60, 120});
    QCOMPARE(stored().size(), 1);
    press(QStringLiteral("Return"));
    QCOMPARE(stored().size(), 2);
    QCOMPARE(stored().at(1).kind, int(Keypoint));
    QCOMPARE(stored().at(1).points.size(), 2);

    press(QStringLiteral("Ctrl+Z"));
    QCOMPARE(stored().size(), 1);
    press(QStringLiteral("Ctrl+Y"));
    QCOMPARE(stored().size(), 2);

    canvas->selectAnnotation(0);
    press(QStringLiteral("Esc"));
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QCOMPARE(stored().size(), 2);
    canvas->selectAnnotation(0);
    press(QStringLiteral("Del"));
    QCOMPARE(stored().size(), 1);
    QCOMPARE(stored().at(0).kind, int(Keypoint));

    // These are the rows the canvas answers; the reference holds them all.
    QStringList referenced;
    for (const ShortcutSection &section : shortcutReference) {
        for (const auto &row : section.rows)
            referenced << row.first;
    }
    for (const QString &keyText : canvasReferenceRows())
        QVERIFY(referenced.contains(keyText));
}

void TestMainWindow::canvasKeepsItsOwnKeys()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));

    drawBox(canvas, {20, 20}, {120, 120});
    drawBox(canvas, {200, 50}, {300, 150});
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 2);

    // One undo or redo key press is exactly one step, whichever handler takes
    // it: the platform's sequences and the listed Ctrl+Z / Ctrl+Y alike.
    const QList<QPair<QKeySequence, int>> steps = {
        {QKeySequence(QKeySequence::Undo), 1}, {QKeySequence(QKeySequence::Redo), 2},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), 1}, {QKeySequence(Qt::CTRL | Qt::Key_Y), 2},
    };
    for (const auto &[key, count] : steps) {
        QTest::keySequence(canvas, key);
        QCOMPARE(canvas->annotations().size(), count);
        QCOMPARE(access.project().dataset.images.at(0).labels.size(), count);
    }

    canvas->selectAnnotation(0);
    QTest::keyClick(canvas, Qt::Key_Delete);
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 1);
    canvas->selectAnnotation(0);
    QTest::keyClick(canvas, Qt::Key_Escape);
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 1);
    QVERIFY(window.isModified());

    // The tool bar's undo and redo buttons reach the canvas's history.
    emit window.toolBarWidget()->undoClicked();
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 2);
    emit window.toolBarWidget()->redoClicked();
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 1);
}

void TestMainWindow::undoButtonsOnlyWithSomethingToUndo()
{
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("segmentation"), 2));
    LabelCanvas *canvas = window.labelCanvas();
    QPushButton *undo = window.toolBarWidget()->button(ToolBar::Undo);
    QPushButton *redo = window.toolBarWidget()->button(ToolBar::Redo);
    const auto states = [&] { return std::pair{undo->isEnabled(), redo->isEnabled()}; };
    QCOMPARE(states(), std::pair(false, false));

    // Placing a polygon: Undo takes back its points.
    QTest::keyClick(canvas, Qt::Key_P);
    clickAt(canvas, {20, 20});
    QCOMPARE(states(), std::pair(true, false));
    clickAt(canvas, {120, 20});
    clickAt(canvas, {120, 120});
    undo->click();
    undo->click();
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::DrawPolygon));
    undo->click();
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(states(), std::pair(false, false));

    // A finished polygon is a step to undo, and then to redo.
    for (const QPointF &p : {QPointF(20, 20), QPointF(120, 20), QPointF(120, 120)})
        clickAt(canvas, p);
    QTest::keyClick(canvas, Qt::Key_Return);
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(states(), std::pair(true, false));
    undo->click();
    QVERIFY(canvas->annotations().isEmpty());
    QCOMPARE(states(), std::pair(false, true));
    QTest::keySequence(canvas, QKeySequence(QKeySequence::Redo));
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(states(), std::pair(true, false));

    // The history belongs to the picture: the next one starts with none, and
    // closing the project leaves both off.
    QTest::keyClick(canvas, Qt::Key_D);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);
    QCOMPARE(states(), std::pair(false, false));
    window.onSaveProject();
    window.onCloseProject();
    QCOMPARE(states(), std::pair(false, false));
}

void TestMainWindow::editMenuEntriesActOnTheCanvas()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry entry =
        memoryImage(QStringLiteral("mem.png"), 200, 100, Qt::gray, {box({10, 10, 50, 50}), box({60, 10, 50, 50})});
    access.project().dataset.addImage(entry);
    access.refreshUi();
    QCOMPARE(window.labelCanvas()->displayedEntryId(), 0);

    const QList<QAction *> actions = window.editMenuWidget()->actions();
    window.labelCanvas()->selectAnnotation(1);
    actions.at(3)->trigger(); // Delete Selected
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 1);
    window.labelCanvas()->selectAnnotation(0);
    actions.at(4)->trigger(); // Deselect
    QCOMPARE(window.labelCanvas()->selectedAnnotationIndex(), -1);
    window.undoMenuAction()->trigger();
    QCOMPARE(access.project().dataset.images.at(0).labels.size(), 2);
}

void TestMainWindow::shortcutsDialogIsCreatedOnce()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F2);
    ShortcutsDialog *first = window.shortcutsDialogWidget();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QVERIFY(!first->isModal());
    first->accept();
    QVERIFY(!first->isVisible());
    emit window.toolBarWidget()->helpClicked();
    QCOMPARE(window.shortcutsDialogWidget(), first);
    QVERIFY(first->isVisible());
}

void TestMainWindow::borderResize_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<int>("edges");
    QTest::addColumn<QRect>("expected");
    const QRect start(100, 100, 1440, 860);
    QTest::newRow("right") << QPoint(1437, 400) << QPoint(50, 30) << 4 << start.adjusted(0, 0, 50, 0);
    QTest::newRow("bottom") << QPoint(700, 857) << QPoint(50, 30) << 8 << start.adjusted(0, 0, 0, 30);
    QTest::newRow("left") << QPoint(6, 400) << QPoint(-40, 30) << 2 << start.adjusted(-40, 0, 0, 0);
    QTest::newRow("top") << QPoint(700, 2) << QPoint(10, -25) << 1 << start.adjusted(0, -25, 0, 0);
    QTest::newRow("bottom-right") << QPoint(1439, 859) << QPoint(20, 10) << 12 << start.adjusted(0, 0, 20, 10);
    QTest::newRow("top-left") << QPoint(0, 0) << QPoint(-10, -20) << 3 << start.adjusted(-10, -20, 0, 0);
    QTest::newRow("top-right") << QPoint(1439, 0) << QPoint(15, 5) << 5 << start.adjusted(0, 5, 15, 0);
    QTest::newRow("bottom-left") << QPoint(0, 859) << QPoint(5, 15) << 10 << start.adjusted(5, 0, 0, 15);
    // Past the minimum the left and top edges stay pinned (minimum plus one
    // pixel, from the inclusive right and bottom edges).
    QTest::newRow("left past minimum") << QPoint(3, 400) << QPoint(900, 0) << 2
                                       << QRect(QPoint(start.right() - 1040, 100), start.bottomRight());
    QTest::newRow("top past minimum") << QPoint(700, 3) << QPoint(0, 900) << 1
                                      << QRect(QPoint(100, start.bottom() - 640), start.bottomRight());
}

void TestMainWindow::borderResize()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, delta);
    QFETCH(int, edges);
    QFETCH(QRect, expected);

    MainWindow window;
    window.setGeometry(100, 100, 1440, 860);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), QRect(100, 100, 1440, 860));
    MainWindowTestAccess access(window);

    const QPoint global = window.mapToGlobal(press);
    sendMouse(&window, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton, global);
    QCOMPARE(access.resizeEdges(), edges);
    QVERIFY(access.resizing());
    // Several moves: the geometry follows the total displacement only.
    sendMouse(&window, QEvent::MouseMove, press + delta / 2, Qt::NoButton, Qt::LeftButton, global + delta / 2);
    sendMouse(&window, QEvent::MouseMove, press + delta, Qt::NoButton, Qt::LeftButton, global + delta);
    sendMouse(&window, QEvent::MouseButtonRelease, press + delta, Qt::LeftButton, Qt::NoButton, global + delta);
    QVERIFY(!access.resizing());
    QTRY_COMPARE(window.geometry(), expected);
    QVERIFY(window.width() >= 1040 && window.height() >= 640);
}

void TestMainWindow::borderResizeIgnoresRightButtonAndInnerPoints()
{
    MainWindow window;
    window.setGeometry(100, 100, 1440, 860);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    MainWindowTestAccess access(window);

    sendMouse(&window, QEvent::MouseButtonPress, {3, 400}, Qt::RightButton, Qt::RightButton, {103, 500});
    QVERIFY(!access.resizing());
    sendMouse(&window, QEvent::MouseButtonRelease, {3, 400}, Qt::RightButton, Qt::NoButton, {103, 500});

    // 7 pixels in is inside the window, 6 is on the border.
    sendMouse(&window, QEvent::MouseButtonPress, {7, 400}, Qt::LeftButton, Qt::LeftButton, {107, 500});
    QVERIFY(!access.resizing());
    QCOMPARE(access.resizeEdges(), 0);
    sendMouse(&window, QEvent::MouseMove, {7, 400}, Qt::NoButton, Qt::LeftButton, {107, 500});
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    sendMouse(&window, QEvent::MouseButtonRelease, {7, 400}, Qt::LeftButton, Qt::NoButton, {107, 500});

    // Cursor feedback on the border while a button is held.
    const QList<QPair<QPoint, Qt::CursorShape>> cursors = {
        {{2, 2}, Qt::SizeFDiagCursor},    {{1437, 2}, Qt::SizeBDiagCursor}, {{1437, 857}, Qt::SizeFDiagCursor},
        {{2, 857}, Qt::SizeBDiagCursor},  {{700, 2}, Qt::SizeVerCursor},    {{700, 857}, Qt::SizeVerCursor},
        {{2, 400}, Qt::SizeHorCursor},    {{1437, 400}, Qt::SizeHorCursor},
    };
    for (const auto &[pos, shape] : cursors) {
        sendMouse(&window, QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton, window.mapToGlobal(pos));
        QCOMPARE(window.cursor().shape(), shape);
    }
    sendMouse(&window, QEvent::MouseMove, {700, 400}, Qt::NoButton, Qt::LeftButton, {800, 500});
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(window.geometry(), QRect(100, 100, 1440, 860));
}

void TestMainWindow::progressBounceAndCountedPosts()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    QProgressBar *bar = window.progressBarWidget();

    window.beginProgress(0);
    QVERIFY(bar->isVisibleTo(&window));
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(access.busyTimer()->isActive());
    QCOMPARE(access.busyTimer()->interval(), 25);
    // A full sweep up and back in 20 ticks each way.
    QList<int> values;
    for (int i = 0; i < 22; ++i) {
        access.bounceStep();
        values << bar->value();
    }
    QCOMPARE(values.at(0), 5);
    QCOMPARE(values.at(19), 100);
    QCOMPARE(values.at(20), 95);
    QCOMPARE(values.at(21), 90);

    // Restarting the bounce starts again from 0, going up.
    window.beginProgress(0);
    access.bounceStep();
    QCOMPARE(bar->value(), 5);

    // The first counted post stops the bounce, also when the range happens to
    // match its total (exactly 100 images).
    window.applyProgress(MainWindow::ProgressKind::DatasetImport, 1, 100);
    QVERIFY(!access.busyTimer()->isActive());
    QCOMPARE(bar->value(), 1);
    QCOMPARE(statusText(window), QStringLiteral("Importing 1 / 100…"));

    window.beginProgress(0);
    window.applyProgress(MainWindow::ProgressKind::DatasetImport, 1, 40);
    QCOMPARE(bar->maximum(), 40);
    QCOMPARE(bar->value(), 1);
    QTest::qWait(80);
    QCOMPARE(bar->value(), 1);

    struct Post {
        MainWindow::ProgressKind kind;
        int current, total, offset;
        int maximum, value;
        QString status;
    };
    window.beginProgress(10);
    const QList<Post> posts = {
        {MainWindow::ProgressKind::ImageImport, 3, 10, 0, 10, 3, "Importing 3 / 10…"},
        {MainWindow::ProgressKind::PackageImport, 2, 7, 0, 7, 2, "Loading images 2 / 7…"},
        // A package export keeps the range that beginProgress set.
        {MainWindow::ProgressKind::PackageExport, 4, 9, 0, 7, 4, "Exporting 4 / 9…"},
        {MainWindow::ProgressKind::PackageBranchOfExport, 5, 12, 0, 12, 5, "Exporting 4 / 9…"},
        {MainWindow::ProgressKind::DatasetExport, 2, 20, 6, 26, 8, "Exporting 4 / 9…"},
    };
    for (const Post &post : posts) {
        window.applyProgress(post.kind, post.current, post.total, post.offset);
        QCOMPARE(bar->maximum(), post.maximum);
        QCOMPARE(bar->value(), post.value);
        QCOMPARE(statusText(window), post.status);
    }

    window.endProgress();
    QVERIFY(!bar->isVisibleTo(&window));
    QCOMPARE(bar->value(), 0);
    QVERIFY(!access.busyTimer()->isActive());
}

void TestMainWindow::progressPostsFromAWorker()
{
    MainWindow window;
    window.beginProgress(0);
    const ProgressCallback report = window.progressPoster(MainWindow::ProgressKind::DatasetImport);
    QThread *worker = QThread::create([report] {
        for (int i = 1; i <= 50; ++i)
            report(i, 50);
    });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    // Nothing reached the bar from the worker's thread itself.
    QCOMPARE(window.progressBarWidget()->maximum(), 100);
    QTRY_COMPARE(window.progressBarWidget()->value(), 50);
    QCOMPARE(window.progressBarWidget()->maximum(), 50);
    QCOMPARE(statusText(window), QStringLiteral("Importing 50 / 50…"));
}

void TestMainWindow::busyJobBlocksProjectCommands()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = QStringLiteral("object_detection");
    access.modified() = true;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    access.startJob();
    QVERIFY(window.isJobRunning());
    QVERIFY(!window.toolBarWidget()->isEnabled());
    QVERIFY(!window.imageList()->isEnabled());
    QVERIFY(window.labelCanvas()->isEnabled());

    QTest::keySequence(&window, QKeySequence::Open);
    QTest::keySequence(&window, QKeySequence::Save);
    QTest::keySequence(&window, QKeySequence::New);
    window.onCloseProject();
    window.onSaveProjectAs();
    window.onDeleteImages({0});
    QVERIFY(prompts.calls.isEmpty());
    QCOMPARE(window.currentProject().projectType, QStringLiteral("object_detection"));
    QVERIFY(statusText(window).contains(QStringLiteral("wait")));

    access.finishJob();
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    window.onCloseProject();
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.at(0).text, QStringLiteral("You have unsaved changes. Save before you close the project?"));
}

void TestMainWindow::closeRefusedWhileAJobRuns()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A job that cannot be cancelled offers no Cancel, and the window waits.
    access.startJob();
    QVERIFY(!window.jobCancelButtonWidget()->isVisible());
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.at(0).kind, QStringLiteral("warning"));
    access.finishJob();
    QVERIFY(window.close());
}

void TestMainWindow::aiRunCancelledFromTheStatusBar()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    QList<int> ids;
    for (int i = 0; i < 3; ++i) {
        ImageEntry entry = memoryImage(QStringLiteral("m%1.png").arg(i), 40, 30, Qt::gray);
        access.project().dataset.addImage(entry);
        ids << i;
    }
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The model hangs on its first picture until the test lets it go.
    std::atomic<bool> release{false};
    std::atomic<int> started{0};
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<Annotation>>(
        ids,
        [&](const QImage &, QString *) {
            ++started;
            while (!release)
                QThread::msleep(5);
            return QList<Annotation>{box({1, 1, 5, 5})};
        },
        [](ImageEntry &entry, QList<Annotation> &found) {
            entry.labels += found;
            return int(found.size());
        });
    std::optional<AiBatchRun::Summary> summary;
    task.finished = [&summary](const AiBatchRun::Summary &result) { summary = result; };
    QVERIFY(access.runAiBatch(std::move(task)));
    QVERIFY(window.isJobCancellable());
    QVERIFY(window.jobCancelButtonWidget()->isVisible());
    QTRY_COMPARE(started.load(), 1);

    QTest::mouseClick(window.jobCancelButtonWidget(), Qt::LeftButton);
    QVERIFY(!window.isJobRunning());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.isAiBatchRunning());

    // A job started meanwhile is not ended by the run's late finish.
    access.startJob();
    release = true;
    QTRY_VERIFY(summary.has_value());
    QVERIFY(summary->cancelled);
    QVERIFY(window.isJobRunning());
    QVERIFY(!window.toolBarWidget()->isEnabled());
    for (const ImageEntry &image : access.project().dataset.images)
        QVERIFY(image.labels.isEmpty());
    access.finishJob();
}

void TestMainWindow::fileCommandsAreUsable()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ToolBar *bar = window.toolBarWidget();
    // Every file command is built: with a project open, and after a job ended,
    // none of their buttons is left disabled.
    access.project().projectType = QStringLiteral("object_detection");
    access.projectPath() = QStringLiteral("/p/x.qmk");
    access.updateTitle();
    access.refreshUi();
    access.startJob();
    access.finishJob();
    for (ToolBar::Button built : {ToolBar::NewProject, ToolBar::OpenProject, ToolBar::SaveProject, ToolBar::CloseProject,
                                  ToolBar::ImportVideo, ToolBar::ImportImages, ToolBar::ImportDataset,
                                  ToolBar::ImportPackage, ToolBar::ExportPackage, ToolBar::ExportDataset,
                                  ToolBar::Settings, ToolBar::Help})
        QVERIFY(bar->button(built)->isEnabled());
    QVERIFY(window.imageList()->addButton()->isEnabled());
}

void TestMainWindow::titleFollowsTheProject_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("images");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("shownName");
    QTest::newRow("nothing") << "" << "" << "" << 0 << "Quillmark 1.2.0  |  Untitled" << false << "";
    QTest::newRow("name alone") << "Cats" << "" << "" << 0 << "Quillmark 1.2.0  |  Cats" << false << "Cats";
    QTest::newRow("type alone") << "" << "pose" << "" << 0 << "Quillmark 1.2.0  |  Untitled" << true << "";
    QTest::newRow("images alone") << "" << "" << "" << 2 << "Quillmark 1.2.0  |  Untitled" << true << "";
    QTest::newRow("from a file") << "" << "" << "/data/cats.v2.qmk" << 0
                                 << "Quillmark 1.2.0  |  Untitled \u2014 cats.v2.qmk" << true << "cats.v2";
    QTest::newRow("named, from a file") << "Zoo %1" << "classification" << "/data/z.qmk" << 1
                                        << "Quillmark 1.2.0  |  Zoo %1 \u2014 z.qmk" << true << "Zoo %1";
}

void TestMainWindow::titleFollowsTheProject()
{
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QString, path);
    QFETCH(int, images);
    QFETCH(QString, title);
    QFETCH(bool, open);
    QFETCH(QString, shownName);

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().name = name;
    access.project().projectType = type;
    access.projectPath() = path;
    for (int i = 0; i < images; ++i)
        access.project().dataset.addImage(imageEntry(QStringLiteral("/nowhere/%1.png").arg(i), 10, 10));
    access.updateTitle();

    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(window.toolBarWidget()->button(ToolBar::SaveProject)->isEnabled(), open);
    // The top bar names an open project: its name, else the file's name without
    // its ".qmk"; nothing at all when there is no name to show.
    QLabel *nameLabel = window.topBarWidget()->projectNameLabel();
    QCOMPARE(nameLabel->isVisibleTo(window.topBarWidget()), open && !shownName.isEmpty());
    if (nameLabel->isVisibleTo(window.topBarWidget()))
        QCOMPARE(nameLabel->text(), shownName);
    QCOMPARE(window.annotations()->isMultiSelect(), type == QLatin1String("classification"));
}

void TestMainWindow::statisticsTellAnEmptyProjectFromNone_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("videoFrames"); // 0: no video
    QTest::addColumn<QString>("expected");
    const QString zeros =
        QStringLiteral("<b>0</b> images &nbsp;·&nbsp; <b>0%</b> labeled &nbsp;·&nbsp; <b>0</b> annotations<br>");
    QTest::newRow("no project") << "" << "" << 0 << "No project open.";
    QTest::newRow("new detection project, empty") << "detection" << "" << 0 << zeros;
    QTest::newRow("saved project, empty") << "" << "/data/empty.qmk" << 0 << zeros;
    QTest::newRow("a video and no images")
        << "detection" << "" << 120
        << "<b>0</b> annotations<br><b>1</b> video &nbsp;·&nbsp; <b>0</b> / <b>120</b> frames annotated<br>";
}

// The statistics panel says "No project open." only when none is: an open
// project without images shows its zeros, also after the window refreshes
// (which empties the annotation list when there is no picture to show).
void TestMainWindow::statisticsTellAnEmptyProjectFromNone()
{
    QFETCH(QString, type);
    QFETCH(QString, path);
    QFETCH(int, videoFrames);
    QFETCH(QString, expected);

    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().projectType = type;
    access.projectPath() = path;
    if (videoFrames > 0) {
        VideoEntry video;
        video.filePath = QStringLiteral("/nowhere/clip.mp4");
        video.frameCount = videoFrames;
        access.project().dataset.addVideo(video);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    access.updateTitle();
    access.refreshUi();
    QCOMPARE(window.annotations()->statsLabel()->text(), expected);

    // Closing the project: nothing is open any more.
    access.project() = Project();
    access.projectPath().clear();
    access.updateTitle();
    access.refreshUi();
    QCOMPARE(window.annotations()->statsLabel()->text(), QStringLiteral("No project open."));
}

void TestMainWindow::statsToggleAndZoomLabel()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry entry = memoryImage(QStringLiteral("mem.png"), 2000, 1000, Qt::darkGray, {box({0, 0, 10, 10})});
    access.project().dataset.addImage(entry);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    access.refreshUi();
    QVERIFY(window.statsOverlayWidget()->isVisible());

    window.statsToggle()->click();
    QVERIFY(!window.statsOverlayWidget()->isVisible());
    access.refreshStats();
    QVERIFY(!window.statsOverlayWidget()->isVisible());
    window.statsToggle()->click();
    QVERIFY(window.statsOverlayWidget()->isVisible());

    window.labelCanvas()->zoomActualSize();
    QCOMPARE(window.zoomLabelWidget()->text(), QStringLiteral("100%"));
    window.labelCanvas()->fitToWindow();
    QCOMPARE(window.zoomLabelWidget()->text(),
             QStringLiteral("%1%").arg(qRound(window.labelCanvas()->viewScale() * 100)));
}

// The arrow keys choose the drawing class in the class list: the class shown
// current is the class of the next shape.
void TestMainWindow::classChosenWithTheArrowsIsTheDrawingClass()
{
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QStringLiteral("segmentation")));
    MainWindowTestAccess access(window);
    for (const char *name : {"dining table", "dog", "donut", "eel"})
        access.project().dataset.addClass(QString::fromLatin1(name), QColor());
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::Polygon));
    QListWidget *classes = window.annotations()->classListWidget();
    QCOMPARE(classes->item(1)->text(), QStringLiteral("dining table"));

    const QRect first = classes->visualItemRect(classes->item(1));
    QTest::mouseClick(classes->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
    QCOMPARE(QApplication::focusWidget(), classes);
    QTest::keyClick(classes, Qt::Key_Down);
    QTest::keyClick(classes, Qt::Key_Down);
    QCOMPARE(classes->currentItem()->text(), QStringLiteral("donut"));
    QCOMPARE(classes->selectedItems().size(), 1);
    QCOMPARE(classes->selectedItems().at(0)->text(), QStringLiteral("donut"));

    // A polygon of three clicks, closed with a right click.
    for (const QPointF p : {QPointF(40, 40), QPointF(200, 50), QPointF(120, 200)})
        clickAt(canvas, p);
    clickAt(canvas, QPointF(120, 200), Qt::RightButton);
    const QList<Annotation> labels = access.project().dataset.imageById(0)->labels;
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.at(0).kind, int(Polygon));
    QCOMPARE(labels.at(0).className, QStringLiteral("donut"));

    // Home and type-ahead move it the same way (letters that are no tool key).
    classes->setFocus();
    QTest::keyClick(classes, Qt::Key_Home);
    QCOMPARE(canvas->currentClassName(), QStringLiteral("cat"));
    QTest::keyClicks(classes, QStringLiteral("ee"));
    QCOMPARE(classes->currentItem()->text(), QStringLiteral("eel"));
    QCOMPARE(canvas->currentClassName(), QStringLiteral("eel"));
}

// Tab moves on from the Comments box, and Shift+Tab back into it; neither
// leaves a tab in the text, which stays whatever is shown.
void TestMainWindow::tabLeavesTheCommentsBox()
{
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection"), 2));
    auto *comments = window.annotations()->findChild<QTextEdit *>(QStringLiteral("commentsBox"));
    QVERIFY(comments);
    QTest::mouseClick(comments->viewport(), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), comments);
    QTest::keyClicks(comments, QStringLiteral("check the left car"));
    QTest::keyClick(comments, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != comments);
    QCOMPARE(comments->toPlainText(), QStringLiteral("check the left car"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), comments);
    QTest::keyClick(comments, Qt::Key_Backtab, Qt::ShiftModifier);
    QVERIFY(QApplication::focusWidget() != comments);
    QCOMPARE(comments->toPlainText(), QStringLiteral("check the left car"));

    // The box belongs to no picture: its text stays when another picture and
    // another project are shown (as the README says).
    MainWindowTestAccess access(window);
    access.selectImage(1);
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 1);
    access.project() = Project();
    access.refreshUi();
    QCOMPARE(comments->toPlainText(), QStringLiteral("check the left car"));
}

// A user without a mouse exports: in the export dialog Tab reaches the
// format cards, the arrows move along them, and the output folder is typed;
// Return exports. The file written is a COCO dataset.
void TestMainWindow::exportDialogDrivenByKeysAlone_data()
{
    QTest::addColumn<int>("tabStops");
    QTest::newRow("tab stops at every control") << int(Qt::TabFocusAllControls);
    QTest::newRow("tab stops at text and lists") << int(Qt::TabFocusTextControls);
}

void TestMainWindow::exportDialogDrivenByKeysAlone()
{
    QFETCH(int, tabStops);
    QStyleHints *hints = QGuiApplication::styleHints();
    const Qt::TabFocusBehavior before = hints->tabFocusBehavior();
    hints->setTabFocusBehavior(Qt::TabFocusBehavior(tabStops));
    const auto restore = qScopeGuard([&] { hints->setTabFocusBehavior(before); });
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    access.project().dataset.addImage(imageEntry(writeImage(QDir(dir.path()), QStringLiteral("street.png"), 320, 240, Qt::gray),
                                                 320, 240, {box({20, 30, 100, 50}, QStringLiteral("car"))}));
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    const QString output = dir.filePath(QStringLiteral("coco out"));

    QStringList steps;
    onNextModal([&](QWidget *dialog) {
        // Whatever happens, the dialog does not stay open.
        const auto closeLeftOpen = qScopeGuard([dialog] {
            if (dialog->isVisible())
                static_cast<QDialog *>(dialog)->reject();
        });
        dialog->activateWindow();
        if (!QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }))
            return;
        const auto focused = [] { return QApplication::focusWidget(); };
        const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            QTest::keyClick(focused() ? focused() : dialog, Qt::Key(key), modifiers);
        };
        const auto card = [&] {
            auto *button = qobject_cast<QToolButton *>(focused());
            return button && button->objectName() == QLatin1String("exportFormatCard") ? button : nullptr;
        };
        for (int i = 0; i < 40 && !card(); ++i)
            press(Qt::Key_Tab);
        if (!card())
            return;
        steps << card()->toolTip();
        press(Qt::Key_Right);  // to LabelMe, and back
        steps << (card() ? card()->toolTip() : QString());
        press(Qt::Key_Left);
        press(Qt::Key_Space);
        steps << (card() && card()->isChecked() ? card()->toolTip() : QString());
        for (int i = 0; i < 40 && !qobject_cast<QLineEdit *>(focused()); ++i)
            press(Qt::Key_Tab);
        if (!qobject_cast<QLineEdit *>(focused()))
            return;
        QTest::keyClicks(focused(), output);
        press(Qt::Key_Return);
    });
    window.onExportDataset();
    QCOMPARE(steps, (QStringList{"COCO", "LabelMe", "COCO"}));
    QTRY_VERIFY(!window.isJobRunning());
    QVERIFY2(statusText(window).startsWith(QStringLiteral("Exported")), qPrintable(statusText(window)));

    // Read as a COCO reader reads it: one image, one box of the category "car".
    QStringList files;
    QDirIterator it(output, {QStringLiteral("*.json")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    QCOMPARE(files.size(), 1);
    QFile file(files.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject coco = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonArray images = coco.value(QStringLiteral("images")).toArray();
    const QJsonArray annotations = coco.value(QStringLiteral("annotations")).toArray();
    const QJsonArray categories = coco.value(QStringLiteral("categories")).toArray();
    QCOMPARE(images.size(), 2);  // the project's own gray picture and the street
    QCOMPARE(annotations.size(), 1);
    const QJsonObject annotation = annotations.at(0).toObject();
    QCOMPARE(annotation.value(QStringLiteral("bbox")).toArray(), (QJsonArray{20, 30, 100, 50}));
    QString category;
    for (const QJsonValue &c : categories) {
        if (c.toObject().value(QStringLiteral("id")) == annotation.value(QStringLiteral("category_id")))
            category = c.toObject().value(QStringLiteral("name")).toString();
    }
    QCOMPARE(category, QStringLiteral("car"));
}

// Message boxes show markup as markup where they are written in it (the class
// gate) and text as typed where they carry plain text, such as a user's names.
void TestMainWindow::messageBoxesShowTheirTextAsWritten()
{
    // Whether a label draws `<b>` as bold rather than as the letters.
    const auto readsMarkup = [](const QLabel *label) {
        return label->textFormat() == Qt::RichText
            || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    };
    class MarkupCheck : public QmTest::ScriptedPrompts {
    public:
        std::function<bool(const QLabel *)> readsMarkup;
        QStringList literalTags;
        QAbstractButton *execMessageBox(QMessageBox &box) override
        {
            for (const QLabel *label : box.findChildren<QLabel *>()) {
                if (label->text().contains(QStringLiteral("<b>")) && !readsMarkup(label))
                    literalTags << label->text();
            }
            return ScriptedPrompts::execMessageBox(box);
        }
    } gatePrompts;
    gatePrompts.readsMarkup = readsMarkup;
    QmTest::PromptsOverride guard(&gatePrompts);
    MainWindow window;
    MainWindowTestAccess access(window);
    window.onClassRequired();
    access.projectPath() = QStringLiteral("/p/x.qmk");
    window.onClassRequired();
    QCOMPARE(gatePrompts.calls.size(), 2);
    QCOMPARE(gatePrompts.calls.at(0).title, QStringLiteral("Save Project First"));
    QCOMPARE(gatePrompts.calls.at(1).title, QStringLiteral("Select Project Type"));
    QVERIFY2(gatePrompts.literalTags.isEmpty(), qPrintable(gatePrompts.literalTags.join(QStringLiteral(" | "))));

    // The platform's boxes: a class named with markup reads as typed.
    Prompts::setOverride(nullptr);
    const QString name = QStringLiteral("Class \"<b>cat</b>\" already exists.");
    QStringList shown;
    onNextModal([&](QWidget *modal) {
        for (const QLabel *label : modal->findChildren<QLabel *>()) {
            if (label->text() == name && !readsMarkup(label))
                shown << label->text();
        }
        static_cast<QDialog *>(modal)->accept();
    });
    Prompts::current().information(&window, QStringLiteral("Add Class"), name);
    QCOMPARE(shown, QStringList{name});
}

// An imported dataset that tells no project type: the message says so rather
// than naming an empty type.
void TestMainWindow::importWithoutATypeSaysSo()
{
    QTemporaryDir dir;
    QDir folder(dir.path());
    QVERIFY(folder.mkpath(QStringLiteral("yolo/images")) && folder.mkpath(QStringLiteral("yolo/labels")));
    writeImage(QDir(folder.filePath(QStringLiteral("yolo/images"))), QStringLiteral("a.png"), 64, 48, Qt::gray);
    QVERIFY(writeFile(folder.filePath(QStringLiteral("yolo/labels/a.txt")), QByteArray()));
    QVERIFY(writeFile(folder.filePath(QStringLiteral("yolo/classes.txt")), QByteArrayLiteral("car\n")));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    prompts.answers.enqueue(folder.filePath(QStringLiteral("yolo")));
    bool chosen = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *list = modal ? modal->findChild<QListWidget *>() : nullptr;
        if (!list)
            return;
        poll.stop();
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toString() == QLatin1String("YOLO"))
                list->setCurrentRow(row);
        }
        chosen = true;
        static_cast<QDialog *>(modal)->accept();
    });
    poll.start();
    window.onImportDataset();
    QVERIFY(QTest::qWaitFor([&] { return chosen && !window.isJobRunning(); }, QmTest::patienceMs));
    QVERIFY(window.currentProject().projectType.isEmpty());
    QCOMPARE(window.currentProject().dataset.images.size(), 1);
    QCOMPARE(statusText(window), QStringLiteral("Imported 1 images, 0 classes \u2014 no project type detected; choose "
                                                "one with \"Set Type \u25BE\"."));
}

QM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
