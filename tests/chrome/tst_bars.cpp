// The side tool bar with its tool table, the tool bar and the top bar.

#include "QmTest.h"

#include "chrome/HintBubble.h"
#include "chrome/IconHelpers.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/ToolTable.h"
#include "chrome/TopBar.h"

#include <QApplication>
#include <QComboBox>
#include <QGraphicsColorizeEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QSignalSpy>

using namespace Quillmark;

Q_DECLARE_METATYPE(QList<int>)

namespace {

QList<int> enabledTools(const SideToolBar &bar)
{
    QList<int> tools;
    for (int t = 0; t < 8; ++t) {
        if (bar.button(t)->isEnabled())
            tools.append(t);
    }
    return tools;
}

QList<HintBubble *> openBubbles()
{
    QList<HintBubble *> bubbles;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *bubble = dynamic_cast<HintBubble *>(w); bubble && bubble->isVisible())
            bubbles.append(bubble);
    }
    return bubbles;
}

QStringList bubbleTexts(HintBubble *bubble)
{
    QStringList texts;
    for (QLabel *label : bubble->findChildren<QLabel *>())
        texts.append(label->text());
    return texts;
}

QColor normalIconCentre(const QPushButton *button, QIcon::Mode mode = QIcon::Normal,
                        QIcon::State state = QIcon::Off)
{
    const QImage image = button->icon().pixmap(QSize(18, 18), 1.0, mode, state).toImage();
    // The centre of an icon may be empty; take the first opaque pixel instead.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() == 255)
                return image.pixelColor(x, y);
        }
    }
    return {};
}

} // namespace

class TestBars : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void toolTableRows();
    void sideToolBarPerProjectType_data();
    void sideToolBarPerProjectType();
    void sideToolBarSilentSetToolAndRepeatedClick();
    void sideToolBarEmptyTypeDisablesAll();
    void sideToolBarIconsFollowTheme();
    void toolBarButtonsEmitTheirSignals();
    void toolBarProjectAndPlaybackStates();
    void toolBarThemeCombo();
    void toolBarSavePulse();
    void topBarBadge_data();
    void topBarBadge();
    void topBarVisibilityAndSignals();
    void topBarTypePulseNeedsVisibleBadge();
    void topBarMaximizeAndDrag();
    void barButtonsShowTheHoverTint();
};

void TestBars::init()
{
    qRegisterMetaType<Quillmark::Tool>("Quillmark::Tool");
    qRegisterMetaType<Quillmark::Theme::Mode>("Quillmark::Theme::Mode");
}

void TestBars::cleanup()
{
    for (HintBubble *bubble : openBubbles())
        delete bubble;
}

void TestBars::toolTableRows()
{
    QCOMPARE(int(toolTable.size()), 8);
    for (size_t i = 0; i < toolTable.size(); ++i)
        QCOMPARE(int(toolTable[i].tool), int(i));
    QCOMPARE(QString::fromUtf8(toolTable[3].toolTip), QStringLiteral("Keypoint (O)"));
    QVERIFY(toolTable[5].separatorBefore);
    int separators = 0;
    for (const auto &row : toolTable)
        separators += row.separatorBefore ? 1 : 0;
    QCOMPARE(separators, 1);
}

void TestBars::sideToolBarPerProjectType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("currentBefore");
    QTest::addColumn<QList<int>>("enabled");
    QTest::addColumn<bool>("fallsBack");
    QTest::newRow("detection keeps bbox") << "object_detection" << 1 << QList<int>{0, 1, 5} << false;
    QTest::newRow("segmentation drops bbox") << "segmentation" << 1 << QList<int>{0, 2, 5} << true;
    QTest::newRow("semantic") << "semantic_segmentation" << 2 << QList<int>{0, 2, 5} << false;
    QTest::newRow("pose drops polygon") << "pose" << 2 << QList<int>{0, 3, 6} << true;
    QTest::newRow("pose keeps keypoint") << "pose" << 3 << QList<int>{0, 3, 6} << false;
    QTest::newRow("face") << "face" << 3 << QList<int>{0, 1, 3, 7} << false;
    QTest::newRow("classification only select") << "classification" << 4 << QList<int>{0} << true;
    QTest::newRow("unknown type allows all") << "panorama" << 6 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << false;
}

void TestBars::sideToolBarPerProjectType()
{
    QFETCH(QString, type);
    QFETCH(int, currentBefore);
    QFETCH(QList<int>, enabled);
    QFETCH(bool, fallsBack);

    SideToolBar bar;
    bar.setTool(currentBefore);
    QSignalSpy spy(&bar, &SideToolBar::toolChanged);
    bar.setProjectType(type);

    QCOMPARE(enabledTools(bar), enabled);
    for (int t = 0; t < 8; ++t) {
        const bool on = enabled.contains(t);
        QCOMPARE(bar.button(t)->toolTip(), on ? QString::fromUtf8(toolTable[size_t(t)].toolTip) : QString());
    }
    if (fallsBack) {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<Tool>(), Tool::Select);
        QCOMPARE(bar.tool(), 0);
        QVERIFY(bar.button(0)->isChecked());
    } else {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(bar.tool(), currentBefore);
    }
}

void TestBars::sideToolBarSilentSetToolAndRepeatedClick()
{
    SideToolBar bar;
    QVERIFY(bar.button(0)->isChecked());
    QSignalSpy spy(&bar, &SideToolBar::toolChanged);
    bar.setTool(3);
    QVERIFY(bar.button(3)->isChecked());
    QCOMPARE(spy.count(), 0);

    bar.button(1)->click();
    bar.button(1)->click();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).value<Tool>(), Tool::BBox);
    QCOMPARE(bar.tool(), 1);

    bar.setTool(42);  // no such button: only remembered
    QCOMPARE(bar.tool(), 42);
    QVERIFY(bar.button(1)->isChecked());
}

void TestBars::sideToolBarEmptyTypeDisablesAll()
{
    SideToolBar bar;
    bar.setTool(2);
    QSignalSpy spy(&bar, &SideToolBar::toolChanged);
    bar.setProjectType(QString());
    QVERIFY(enabledTools(bar).isEmpty());
    QVERIFY(bar.button(5)->toolTip().isEmpty());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(bar.tool(), 2);
    QVERIFY(bar.button(2)->isChecked());
}

void TestBars::sideToolBarIconsFollowTheme()
{
    // Per mode and state: normal, checked, hovered, hovered and checked, disabled.
    const QList<QPair<QIcon::Mode, QIcon::State>> modes = {
        {QIcon::Normal, QIcon::Off}, {QIcon::Normal, QIcon::On}, {QIcon::Active, QIcon::Off},
        {QIcon::Active, QIcon::On}, {QIcon::Disabled, QIcon::Off},
    };
    const QStringList light = {"#3a3a3a", "#000000", "#000000", "#000000", "#b0b0b0"};
    const QStringList dark = {"#f4f4f4", "#ffffff", "#ffffff", "#ffffff", "#747474"};
    SideToolBar bar;
    for (bool isDark : {false, true, false}) {
        bar.setDark(isDark);
        const QStringList &colours = isDark ? dark : light;
        for (int i = 0; i < modes.size(); ++i) {
            QCOMPARE(normalIconCentre(bar.button(1), modes.at(i).first, modes.at(i).second),
                     QColor(colours.at(i)));
        }
    }
}

void TestBars::toolBarButtonsEmitTheirSignals()
{
    ToolBar bar;
    const QList<QPair<ToolBar::Button, const char *>> table = {
        {ToolBar::NewProject, SIGNAL(newProjectClicked())},
        {ToolBar::OpenProject, SIGNAL(openProjectClicked())},
        {ToolBar::SaveProject, SIGNAL(saveProjectClicked())},
        {ToolBar::CloseProject, SIGNAL(closeProjectClicked())},
        {ToolBar::ImportPackage, SIGNAL(importQuillPackageClicked())},
        {ToolBar::ExportPackage, SIGNAL(exportQuillPackageClicked())},
        {ToolBar::ImportImages, SIGNAL(importImagesClicked())},
        {ToolBar::ImportVideo, SIGNAL(importVideoClicked())},
        {ToolBar::ImportDataset, SIGNAL(importDatasetClicked())},
        {ToolBar::ExportDataset, SIGNAL(exportDatasetClicked())},
        {ToolBar::Undo, SIGNAL(undoClicked())},
        {ToolBar::Redo, SIGNAL(redoClicked())},
        {ToolBar::SkipPrevious, SIGNAL(skipPreviousClicked())},
        {ToolBar::Rewind, SIGNAL(rewindClicked())},
        {ToolBar::Prev, SIGNAL(prevClicked())},
        {ToolBar::Play, SIGNAL(playClicked())},
        {ToolBar::Next, SIGNAL(nextClicked())},
        {ToolBar::FastForward, SIGNAL(fastForwardClicked())},
        {ToolBar::SkipNext, SIGNAL(skipNextClicked())},
        {ToolBar::Settings, SIGNAL(settingsClicked())},
        {ToolBar::Help, SIGNAL(helpClicked())},
    };
    QCOMPARE(table.size(), int(ToolBar::ButtonCount));
    QList<QSignalSpy *> spies;
    for (const auto &[button, signal] : table)
        spies.append(new QSignalSpy(&bar, signal));
    for (int i = 0; i < table.size(); ++i) {
        QPushButton *b = bar.button(table.at(i).first);
        QVERIFY(b);
        QCOMPARE(b->objectName(), QStringLiteral("toolBarBtn"));
        QCOMPARE(b->size(), QSize(30, 30));
        QVERIFY2(!b->icon().isNull(), qPrintable(b->toolTip()));
        b->click();
        for (int j = 0; j < spies.size(); ++j)
            QCOMPARE(spies.at(j)->count(), j <= i ? 1 : 0);
    }
    qDeleteAll(spies);
    QCOMPARE(bar.button(ToolBar::NewProject)->toolTip(), QStringLiteral("New Project  (Ctrl+N)"));
    QCOMPARE(bar.button(ToolBar::Help)->toolTip(), QStringLiteral("Shortcuts Reference (F2)"));
    QCOMPARE(bar.findChildren<QFrame *>(QStringLiteral("toolbarSeparator")).size(), 4);
}

void TestBars::toolBarProjectAndPlaybackStates()
{
    ToolBar bar;
    bar.setProjectOpen(false);
    const QList<ToolBar::Button> alwaysOn = {ToolBar::NewProject, ToolBar::OpenProject, ToolBar::ImportPackage,
                                             ToolBar::ImportDataset, ToolBar::Settings, ToolBar::Help};
    for (int b = 0; b < ToolBar::ButtonCount; ++b) {
        const auto which = ToolBar::Button(b);
        QCOMPARE(bar.button(which)->isEnabled(), alwaysOn.contains(which));
    }
    QVERIFY(bar.themeCombo()->isEnabled());

    // Undo and Redo wait for something to undo or redo, and a project.
    bar.setPlaybackEnabled(false);
    bar.setProjectOpen(true);
    const auto isHistory = [](ToolBar::Button b) { return b == ToolBar::Undo || b == ToolBar::Redo; };
    for (int b = 0; b < ToolBar::ButtonCount; ++b)
        QCOMPARE(bar.button(ToolBar::Button(b))->isEnabled(), !isHistory(ToolBar::Button(b)));
    bar.setHistoryAvailable(true, false);
    QVERIFY(bar.button(ToolBar::Undo)->isEnabled());
    QVERIFY(!bar.button(ToolBar::Redo)->isEnabled());
    bar.setProjectOpen(false);
    QVERIFY(!bar.button(ToolBar::Undo)->isEnabled());
    bar.setHistoryAvailable(true, true);
    QVERIFY(!bar.button(ToolBar::Redo)->isEnabled());
    bar.setProjectOpen(true);
    for (int b = 0; b < ToolBar::ButtonCount; ++b)
        QVERIFY(bar.button(ToolBar::Button(b))->isEnabled());

    bar.setPlaybackEnabled(false);
    for (int b = 0; b < ToolBar::ButtonCount; ++b) {
        const auto which = ToolBar::Button(b);
        const bool playback = which == ToolBar::Rewind || which == ToolBar::Play || which == ToolBar::FastForward;
        QCOMPARE(bar.button(which)->isEnabled(), !playback);
    }
}

void TestBars::toolBarThemeCombo()
{
    ToolBar bar;
    QSignalSpy spy(&bar, &ToolBar::themeChanged);
    const QColor lightIcon = normalIconCentre(bar.button(ToolBar::Undo));
    QCOMPARE(lightIcon, QColor(QStringLiteral("#3a3a3a")));

    bar.setTheme(Theme::Dark);
    QCOMPARE(bar.themeCombo()->currentText(), QStringLiteral("Dark"));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(normalIconCentre(bar.button(ToolBar::Undo)), QColor(QStringLiteral("#f4f4f4")));

    bar.themeCombo()->setCurrentIndex(0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Theme::Mode>(), Theme::Light);

    bar.setTheme(Theme::Mode(5));  // no such item: the combo stays
    QCOMPARE(bar.themeCombo()->currentText(), QStringLiteral("Light"));
}

void TestBars::toolBarSavePulse()
{
    QWidget window;
    auto *bar = new ToolBar(&window);
    window.resize(1200, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton *save = bar->button(ToolBar::SaveProject);

    bar->pulseSaveButton();
    QVERIFY(qobject_cast<QGraphicsColorizeEffect *>(save->graphicsEffect()));
    QList<HintBubble *> bubbles = openBubbles();
    QCOMPARE(bubbles.size(), 1);
    QCOMPARE(bubbleTexts(bubbles.first()), (QStringList{"Save your project first", "Ctrl+S"}));
    // The save button sits near the screen's left edge: the bubble stays on
    // the screen and its arrow points at the button.
    const QPoint anchor = save->mapToGlobal(QPoint(save->width() / 2, save->height() + 3));
    QCOMPARE(bubbles.first()->y(), anchor.y());
    QCOMPARE(bubbles.first()->x() + bubbles.first()->arrowTipX(), anchor.x());
    QVERIFY(save->screen()->availableGeometry().contains(bubbles.first()->frameGeometry()));

    QPointer<QGraphicsEffect> first = save->graphicsEffect();
    bar->pulseSaveButton();
    QVERIFY(first.isNull());  // the earlier pulse's effect was replaced and deleted
    QVERIFY(save->graphicsEffect());
    QCOMPARE(openBubbles().size(), 2);

    // Four pulses of 600 ms remove the effect; the bubbles close after ~3.8 s.
    QTRY_VERIFY_WITH_TIMEOUT(save->graphicsEffect() == nullptr, 2400 + QmTest::patienceMs);
    QTRY_VERIFY_WITH_TIMEOUT(openBubbles().isEmpty(), 3800 + QmTest::patienceMs);
}

void TestBars::topBarBadge_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("background");
    QTest::addColumn<QString>("color");
    QTest::newRow("no type") << "" << "Set Type ▾" << "#FEF9C3" << "#854D0E";
    QTest::newRow("detection") << "object_detection" << "Object Detection ▾" << "#DBEAFE" << "#1D4ED8";
    QTest::newRow("instance") << "segmentation" << "Instance Segm. ▾" << "#DCFCE7" << "#15803D";
    QTest::newRow("pose") << "pose" << "Pose Estimation ▾" << "#EDE9FE" << "#6D28D9";
    QTest::newRow("semantic") << "semantic_segmentation" << "Semantic Segm. ▾" << "#FCE7F3" << "#BE185D";
    QTest::newRow("face") << "face" << "Face Detection ▾" << "#FFEDD5" << "#C2410C";
    QTest::newRow("classification") << "classification" << "Classification ▾" << "#CFFAFE" << "#0E7490";
    QTest::newRow("unknown key") << "panorama" << "panorama ▾" << "#F0F0F0" << "#444444";
}

void TestBars::topBarBadge()
{
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(QString, background);
    QFETCH(QString, color);
    TopBar bar;
    bar.setHasProject(true);
    bar.setProjectName(QStringLiteral("Birds"));
    bar.setProjectType(type);
    QCOMPARE(bar.typeBadge()->text(), text);
    QVERIFY(!bar.typeBadge()->isHidden());
    const QString style = bar.typeBadge()->styleSheet();
    QVERIFY(style.contains(QStringLiteral("background: %1;").arg(background)));
    QVERIFY(style.contains(QStringLiteral("color: %1;").arg(color)));
}

void TestBars::topBarVisibilityAndSignals()
{
    TopBar bar;
    QVERIFY(bar.typeBadge()->isHidden());
    QVERIFY(bar.projectNameLabel()->isHidden());

    bar.setHasProject(true);
    bar.setProjectName(QString());
    QVERIFY(!bar.typeBadge()->isHidden());
    QVERIFY(bar.projectNameLabel()->isHidden());
    bar.setProjectName(QStringLiteral("Birds"));
    QVERIFY(!bar.projectNameLabel()->isHidden());
    QCOMPARE(bar.projectNameLabel()->text(), QStringLiteral("Birds"));
    // A name from a project file reads as written, markup and all.
    const QString marked = QStringLiteral("<i>Birds</i> <img src=\"x.png\">");
    bar.setProjectName(marked);
    QLabel *name = bar.projectNameLabel();
    QVERIFY(name->sizeHint().width() >= name->fontMetrics().horizontalAdvance(marked));

    bar.setHasProject(false);
    QVERIFY(bar.typeBadge()->isHidden());
    QVERIFY(bar.projectNameLabel()->isHidden());

    bar.setInfoText(QStringLiteral("hidden"));
    QSignalSpy about(&bar, &TopBar::aboutRequested);
    QSignalSpy type(&bar, &TopBar::projectTypeChangeRequested);
    bar.brandButton()->click();
    bar.typeBadge()->click();
    QCOMPARE(about.count(), 1);
    QCOMPARE(type.count(), 1);
    QCOMPARE(bar.brandButton()->text(), QStringLiteral("  Quillmark"));
    QVERIFY(!bar.brandButton()->icon().isNull());
}

void TestBars::topBarTypePulseNeedsVisibleBadge()
{
    QWidget window;
    auto *bar = new TopBar(&window);
    window.resize(900, 50);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    bar->pulseTypeBadge();
    QVERIFY(openBubbles().isEmpty());
    QVERIFY(!bar->typeBadge()->graphicsEffect());

    bar->setHasProject(true);
    bar->pulseTypeBadge();
    QVERIFY(bar->typeBadge()->graphicsEffect());
    const QList<HintBubble *> bubbles = openBubbles();
    QCOMPARE(bubbles.size(), 1);
    QCOMPARE(bubbleTexts(bubbles.first()), (QStringList{"Select a project type first", "Set Type ▾"}));
}

void TestBars::topBarMaximizeAndDrag()
{
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    auto *bar = new TopBar(&window);
    bar->setGeometry(0, 0, 800, 44);
    window.setGeometry(100, 100, 600, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Drag the bar: the window follows the mouse.
    const QPoint start = bar->mapToGlobal(QPoint(200, 20));
    const QPoint before = window.frameGeometry().topLeft();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 20), QPointF(start), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    const QPoint to = start + QPoint(40, 25);
    QMouseEvent move(QEvent::MouseMove, QPointF(bar->mapFromGlobal(to)), QPointF(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(bar->mapFromGlobal(to)), QPointF(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &release);
    QCOMPARE(window.frameGeometry().topLeft(), before + QPoint(40, 25));

    bar->maximizeButton()->click();
    QTRY_VERIFY(window.isMaximized());
    QCOMPARE(bar->maximizeButton()->text(), QStringLiteral("]["));
    QCOMPARE(bar->maximizeButton()->toolTip(), QStringLiteral("Restore"));
    bar->maximizeButton()->click();
    QTRY_VERIFY(!window.isMaximized());
    QCOMPARE(bar->maximizeButton()->text(), QStringLiteral("[]"));
    QCOMPARE(bar->maximizeButton()->toolTip(), QStringLiteral("Maximize"));

    // A double click toggles too, leaving the button as it is.
    QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    QTRY_VERIFY(window.isMaximized());
    QCOMPARE(bar->maximizeButton()->text(), QStringLiteral("[]"));

    // Dragging the maximised window restores it under the cursor: the cursor
    // keeps its relative place on the bar, half the bar's height below the top.
    const int restoredWidth = window.normalGeometry().width();
    const QPoint grab = bar->mapToGlobal(QPoint(bar->width() / 4, 10));
    QMouseEvent grabPress(QEvent::MouseButtonPress, QPointF(bar->width() / 4, 10), QPointF(grab), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &grabPress);
    const QPoint drop = grab + QPoint(30, 40);
    QMouseEvent dragMove(QEvent::MouseMove, QPointF(bar->width() / 4, 10), QPointF(drop), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &dragMove);
    QTRY_VERIFY(!window.isMaximized());
    QCOMPARE(window.frameGeometry().topLeft(), drop - QPoint(restoredWidth / 4, bar->height() / 2));
    QMouseEvent dropRelease(QEvent::MouseButtonRelease, QPointF(bar->mapFromGlobal(drop)), QPointF(drop),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &dropRelease);
}

void TestBars::barButtonsShowTheHoverTint()
{
    // The buttons never take the focus, so the style would never pick the
    // icon's Active (hover) pixmap: the mouse over a button shows it.
    QWidget window;
    window.setStyleSheet(buildAppStyleSheet(Theme::Light));
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new ToolBar(&window);
    auto *side = new SideToolBar(&window);
    layout->addWidget(bar);
    layout->addWidget(side);
    side->setProjectType(QStringLiteral("object_detection"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto image = [](const QIcon &icon, const QSize &size, QIcon::Mode mode) {
        return icon.pixmap(size, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    QList<QPushButton *> buttons{bar->button(ToolBar::Settings)};
    for (QPushButton *button : side->findChildren<QPushButton *>()) {
        // The checked tool shows its own look; any other shows the tint.
        if (button->isEnabled() && !button->isChecked() && !button->icon().isNull()) {
            buttons << button;
            break;
        }
    }
    QCOMPARE(buttons.size(), 2);
    for (QPushButton *button : buttons) {
        const QSize size = button->iconSize();
        const QIcon own = button->icon();
        QVERIFY(image(own, size, QIcon::Active) != image(own, size, QIcon::Normal));
        const QImage before = button->grab().toImage();

        QEnterEvent enter(QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)), button->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(button, &enter);
        QCOMPARE(image(button->icon(), size, QIcon::Normal), image(own, size, QIcon::Active));
        QVERIFY(button->grab().toImage() != before);

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
        QCOMPARE(image(button->icon(), size, QIcon::Normal), image(own, size, QIcon::Normal));
    }

    // A theme change while the mouse is over a button: leaving keeps the new
    // theme's icon.
    QPushButton *settings = bar->button(ToolBar::Settings);
    QEnterEvent enter(QPointF(5, 5), settings->mapToGlobal(QPointF(5, 5)), settings->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(settings, &enter);
    bar->setTheme(Theme::Dark);
    const QImage darkNormal = image(settings->icon(), settings->iconSize(), QIcon::Normal);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(settings, &leave);
    QCOMPARE(image(settings->icon(), settings->iconSize(), QIcon::Normal), darkNormal);
}

QM_TEST_MAIN(TestBars)
#include "tst_bars.moc"
