// The look of the real main window as Qt draws it under the application style
// sheet, in both themes: focus of the bar buttons, button sizes, the disabled
// state, text that fits its control, the statistics bars, the badge, combo and
// check box indicators, the film strip and the image list. Every check measures
// the drawn pixels or the geometry the styled widgets really got.

#include "QmTest.h"

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "canvas/StatsOverlay.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/Theme.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/KeypointSchemaPage.h"
#include "dialogs/ObjectDetectionWizard.h"
#include "dialogs/ProjectTypeDialog.h"
#include "dialogs/ProjectTypePage.h"
#include "dialogs/SettingsDialog.h"
#include "dialogs/SetupPage.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QWizard>

#include <algorithm>
#include <cmath>

using namespace Quillmark;
using namespace AppTest;

namespace {

const QString longName = QStringLiteral("a_rather_long_file_name_from_a_camera_export_2024_06_01_000123.png");

// Largest difference of one colour channel: how far two colours are apart.
int distance(const QColor &a, const QColor &b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// The colour in `area` farthest from `background`: the ink of a text or a glyph.
QColor inkIn(const QImage &image, const QRect &area, const QColor &background)
{
    QColor ink = background;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (distance(c, background) > distance(ink, background))
                ink = c;
        }
    }
    return ink;
}

// A widget as drawn over its parent.
QImage drawn(QWidget *w)
{
    return w->parentWidget()->grab(w->geometry()).toImage();
}

// A control's look: its background (sampled where its text leaves it free) and
// the colour of its text.
struct Look {
    QColor background;
    QColor text;
};

Look lookOf(QWidget *w)
{
    const QImage image = drawn(w);
    QRect textArea = image.rect().adjusted(3, 3, -3, -3);
    QPoint free(4, w->height() / 2);
    if (auto *box = qobject_cast<QCheckBox *>(w)) {
        QStyleOptionButton option;
        option.initFrom(box);
        textArea = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        free = QPoint(textArea.left() - 2, w->height() / 2);
    }
    const QColor background = image.pixelColor(free);
    return {background, inkIn(image, textArea, background)};
}

// Contrast ratio of two colours by their relative luminance: 1 for equal
// colours, 21 for black on white.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Disabled text is still there to read, and far weaker than enabled text.
bool looksDisabled(const Look &disabled, double enabledContrast)
{
    const double c = contrast(disabled.text, disabled.background);
    return c >= 1.7 && c <= 0.6 * enabledContrast;
}

// Longest run of pixels of exactly `color`, along rows (horizontal) or columns.
int longestRun(const QImage &image, const QColor &color, bool horizontal)
{
    const int outer = horizontal ? image.height() : image.width();
    const int inner = horizontal ? image.width() : image.height();
    int best = 0;
    for (int o = 0; o < outer; ++o) {
        int run = 0;
        for (int i = 0; i < inner; ++i) {
            const QColor c = horizontal ? image.pixelColor(i, o) : image.pixelColor(o, i);
            run = distance(c, color) <= 2 ? run + 1 : 0;
            best = std::max(best, run);
        }
    }
    return best;
}

QColor themeColor(Theme::Mode mode, int placeholder)
{
    return QColor(Theme::colors(mode).at(placeholder - 1));
}

// The contents rectangle the style sheet leaves a push button for its label.
QRect contentsOf(QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    option.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
}

// The item delegate's option for a row, as the view hands it to the style.
class OptionProbe : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::initStyleOption;
};

// The main window with a small project of files on disk: three classes with
// 8, 4 and 1 boxes, twelve images and one image with a long name.
class Fixture {
public:
    explicit Fixture(Theme::Mode mode)
    {
        MainWindowTestAccess access(window);
        Project &project = access.project();
        project.name = QStringLiteral("Street scenes");
        project.projectType = QStringLiteral("object_detection");
        project.dataset.addClass(QStringLiteral("car"), QColor(0x4d, 0x8d, 0xff));
        project.dataset.addClass(QStringLiteral("person"), QColor(0xff, 0x57, 0x57));
        project.dataset.addClass(QStringLiteral("tree"), QColor(0x55, 0xc7, 0x72));
        const QDir folder(dir.path());
        for (int i = 0; i < 12; ++i) {
            const QString name = QStringLiteral("sample_%1.png").arg(i, 2, 10, QLatin1Char('0'));
            QList<Annotation> labels;
            if (i < 8)
                labels.append(box({10, 10, 20, 20}, QStringLiteral("car")));
            if (i < 4)
                labels.append(box({40, 10, 20, 20}, QStringLiteral("person")));
            if (i == 0)
                labels.append(box({10, 40, 20, 20}, QStringLiteral("tree")));
            project.dataset.addImage(
                imageEntry(writeImage(folder, name, 96, 64, QColor::fromHsv(i * 30, 80, 200)), 96, 64, labels));
        }
        project.dataset.addImage(imageEntry(writeImage(folder, longName, 96, 64, Qt::gray), 96, 64));
        access.projectPath() = dir.filePath(QStringLiteral("street.qmk"));
        access.refreshUi();
        access.updateTitle();
        window.applyTheme(mode);
        window.show();
    }

    bool ready()
    {
        if (!QTest::qWaitForWindowExposed(&window))
            return false;
        // The first picture loads on a worker, thumbnails over a few turns of the loop.
        if (!QTest::qWaitFor([this] { return window.labelCanvas()->displayedEntryId().has_value(); },
                             QmTest::patienceMs))
            return false;
        QTest::qWait(50);
        QCoreApplication::processEvents();
        return true;
    }

    MainWindowTestAccess access() { return MainWindowTestAccess(window); }

    QTemporaryDir dir;
    MainWindow window;
};

// Shows the wizard on the keypoint page of a pose project.
bool openKeypointPage(ObjectDetectionWizard &wizard)
{
    wizard.show();
    if (!QTest::qWaitForWindowExposed(&wizard))
        return false;
    wizard.typePage()->typeButton(QStringLiteral("pose"))->click();
    wizard.next();
    wizard.setupPage()->nameEdit()->setText(QStringLiteral("Pose"));
    wizard.next();
    return wizard.currentPage() == wizard.keypointSchemaPage();
}

void addThemeRows()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << int(Theme::Light);
    QTest::newRow("dark") << int(Theme::Dark);
}

} // namespace

class TestLook : public QObject {
    Q_OBJECT

private slots:
    void barButtonsLeaveTheFocusAlone();
    void barButtonSizes_data() { addThemeRows(); }
    void barButtonSizes();
    void disabledControlsLookDisabled_data() { addThemeRows(); }
    void disabledControlsLookDisabled();
    void disabledListsLookDisabled_data() { addThemeRows(); }
    void disabledListsLookDisabled();
    void disabledButtonsOfTheDialogs_data() { addThemeRows(); }
    void disabledButtonsOfTheDialogs();
    void textsFitTheirControls_data() { addThemeRows(); }
    void textsFitTheirControls();
    void statisticsBarsFollowTheCounts_data() { addThemeRows(); }
    void statisticsBarsFollowTheCounts();
    void aboutHeaderKeepsItsPadding_data() { addThemeRows(); }
    void aboutHeaderKeepsItsPadding();
    void typeBadgeIsAPill();
    void comboArrowAndCheckBoxes_data() { addThemeRows(); }
    void comboArrowAndCheckBoxes();
    void longFileNamesReadInFull_data() { addThemeRows(); }
    void longFileNamesReadInFull();
    void filmStripHasOneBackground_data() { addThemeRows(); }
    void filmStripHasOneBackground();
    void playbackOnlyInVideoMode();
    void alternateRowsKeepTheTheme_data() { addThemeRows(); }
    void alternateRowsKeepTheTheme();
    void radioButtonsShowTheirState_data() { addThemeRows(); }
    void radioButtonsShowTheirState();
    void listsShowTheFocus_data() { addThemeRows(); }
    void listsShowTheFocus();
    void wizardTypeCardsShowFocusApartFromChoice_data() { addThemeRows(); }
    void wizardTypeCardsShowFocusApartFromChoice();
};

void TestLook::barButtonsLeaveTheFocusAlone()
{
    Fixture f(Theme::Light);
    QVERIFY(f.ready());
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    LabelCanvas *canvas = f.window.labelCanvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    canvas->setFocus();
    QTRY_VERIFY(canvas->hasFocus());
    canvas->setTool(int(Tool::BBox));
    const int before = int(canvas->annotations().size());
    drawBox(canvas, {5, 5}, {30, 30});
    drawBox(canvas, {40, 5}, {70, 30});
    QCOMPARE(canvas->annotations().size(), before + 2);

    // A click on Undo undoes, and the canvas keeps its keys: Ctrl+Z undoes again,
    // and Space does not click the button once more.
    ToolBar *toolBar = f.window.toolBarWidget();
    QSignalSpy undoClicks(toolBar, &ToolBar::undoClicked);
    QTest::mouseClick(toolBar->button(ToolBar::Undo), Qt::LeftButton);
    QCOMPARE(undoClicks.size(), 1);
    QCOMPARE(canvas->annotations().size(), before + 1);
    QCOMPARE(QApplication::focusWidget(), canvas);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(undoClicks.size(), 1);
    QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(canvas->annotations().size(), before);

    // The same for a tool of the side bar and a window button of the top bar.
    QTest::mouseClick(f.window.sideToolBarWidget()->button(int(Tool::Select)), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), canvas);
    for (QPushButton *button : f.window.topBarWidget()->findChildren<QPushButton *>()) {
        if (button->toolTip() == QLatin1String("Maximize")) {
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::mouseClick(button, Qt::LeftButton);
        }
    }
    QCOMPARE(QApplication::focusWidget(), canvas);
    QTest::keySequence(canvas, QKeySequence(Qt::CTRL | Qt::Key_Y));
    QCOMPARE(canvas->annotations().size(), before + 1);

    // No button of the three bars can take the focus at all.
    QList<QPushButton *> buttons = toolBar->findChildren<QPushButton *>();
    buttons += f.window.sideToolBarWidget()->findChildren<QPushButton *>();
    buttons += f.window.topBarWidget()->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        QVERIFY2(button->focusPolicy() == Qt::NoFocus, qPrintable(button->toolTip()));
}

void TestLook::barButtonSizes()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());

    const QList<QPushButton *> toolButtons =
        f.window.toolBarWidget()->findChildren<QPushButton *>(QStringLiteral("toolBarBtn"));
    QCOMPARE(toolButtons.size(), 21);
    for (QPushButton *button : toolButtons)
        QVERIFY2(button->size() == QSize(30, 30), qPrintable(button->toolTip()));

    SideToolBar *side = f.window.sideToolBarWidget();
    side->setTool(int(Tool::BBox));
    QCoreApplication::processEvents();
    const QImage bar = side->grab().toImage();
    const QColor barBackground = themeColor(Theme::Mode(mode), 2);
    for (int tool = 0; tool < 8; ++tool) {
        QPushButton *button = side->button(tool);
        QVERIFY2(button->size() == QSize(38, 38), qPrintable(button->toolTip()));
        // Inside the bar, left of its 1-pixel border, and centred in it.
        const QRect g = button->geometry();
        QVERIFY(g.left() >= 0 && g.right() < side->width() - 1);
        QVERIFY(std::abs((g.left() + g.right()) - (side->width() - 2)) <= 1);
        if (!button->isEnabled() || button->isChecked())
            continue;
        // The icon sits in the middle of the button.
        QRect ink;
        for (int y = g.top() + 2; y < g.bottom() - 1; ++y) {
            for (int x = g.left() + 2; x < g.right() - 1; ++x) {
                if (distance(bar.pixelColor(x, y), barBackground) > 60)
                    ink |= QRect(x, y, 1, 1);
            }
        }
        QVERIFY2(!ink.isEmpty(), qPrintable(button->toolTip()));
        QVERIFY2(std::abs(ink.center().x() - g.center().x()) <= 2 && std::abs(ink.center().y() - g.center().y()) <= 2,
                 qPrintable(button->toolTip()));
    }
    // The checked button's highlight is drawn whole: its right border is inside the bar.
    const QRect checked = side->button(int(Tool::BBox))->geometry();
    const QColor border = themeColor(Theme::Mode(mode), 7);
    QVERIFY(distance(bar.pixelColor(checked.right(), checked.center().y()), border) <= 8);
}

void TestLook::disabledControlsLookDisabled()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());

    // Rename, Color and Delete with no class selected, next to an enabled "+ Add".
    AnnotationPanel *panel = f.window.annotations();
    panel->classListWidget()->clearSelection();
    QVERIFY(!panel->renameButton()->isEnabled());
    QVERIFY(panel->addButton()->isEnabled());

    // A push button, a line edit, a combo box and a check box of each state, under the window's sheet.
    auto *host = new QWidget(f.window.annotations());
    auto *row = new QHBoxLayout(host);
    QList<QWidget *> enabled;
    QList<QWidget *> disabled;
    for (bool on : {true, false}) {
        auto *button = new QPushButton(QStringLiteral("Next"), host);
        auto *edit = new QLineEdit(QStringLiteral("models"), host);
        auto *combo = new QComboBox(host);
        combo->addItem(QStringLiteral("Detect"));
        auto *check = new QCheckBox(QStringLiteral("Shuffle"), host);
        for (QWidget *w : QList<QWidget *>{button, edit, combo, check}) {
            w->setEnabled(on);
            row->addWidget(w);
            (on ? enabled : disabled).append(w);
        }
    }
    enabled.prepend(panel->addButton());
    disabled.prepend(panel->renameButton());
    host->show();
    host->adjustSize();
    QCoreApplication::processEvents();

    for (int i = 0; i < enabled.size(); ++i) {
        const Look on = lookOf(enabled.at(i));
        const Look off = lookOf(disabled.at(i));
        const QString what = QStringLiteral("%1: %2 on %3, disabled %4 on %5")
                                 .arg(QString::fromLatin1(enabled.at(i)->metaObject()->className()), on.text.name(),
                                      on.background.name(), off.text.name(), off.background.name());
        QVERIFY2(looksDisabled(off, contrast(on.text, on.background)), qPrintable(what));
    }

    // A disabled button does not light up under the mouse; nor does a disabled
    // tool bar button show its hover frame.
    QPushButton *play = f.window.toolBarWidget()->button(ToolBar::Play);
    QVERIFY(!play->isEnabled());
    for (QWidget *w : {static_cast<QWidget *>(panel->renameButton()), disabled.at(1), static_cast<QWidget *>(play)}) {
        const QImage still = drawn(w);
        w->setAttribute(Qt::WA_UnderMouse, true);
        const QImage hovered = drawn(w);
        w->setAttribute(Qt::WA_UnderMouse, false);
        for (const QPoint &p : {QPoint(0, w->height() / 2), QPoint(4, w->height() / 2)})
            QCOMPARE(hovered.pixelColor(p), still.pixelColor(p));
    }
}

void TestLook::disabledListsLookDisabled()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    QListView *list = f.window.imageList()->listView();
    QVERIFY(list->model()->rowCount() > 2);
    list->setCurrentIndex(list->model()->index(0, 0));
    QCoreApplication::processEvents();

    // The text of a row (past its swatch) against the row's own background,
    // sampled at the free right end of the row.
    const auto rowLook = [list](int row) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        const QImage image = list->viewport()->grab().toImage();
        const QColor background = image.pixelColor(list->viewport()->width() - 6, rect.center().y());
        return Look{background, inkIn(image, rect.adjusted(list->iconSize().width() + 12, 2, -8, -2), background)};
    };
    const Look plainOn = rowLook(1);
    const Look currentOn = rowLook(0);

    // While a job runs the image list takes no clicks, and its rows say so.
    MainWindowTestAccess access = f.access();
    access.startJob();
    QVERIFY(!list->isEnabled());
    QCoreApplication::processEvents();
    for (const auto &[row, on] : {std::pair{1, plainOn}, std::pair{0, currentOn}}) {
        const Look off = rowLook(row);
        const QString what = QStringLiteral("row %1: %2 on %3, disabled %4 on %5")
                                 .arg(row)
                                 .arg(on.text.name(), on.background.name(), off.text.name(), off.background.name());
        QVERIFY2(looksDisabled(off, contrast(on.text, on.background)), qPrintable(what));
    }
    access.finishJob();
}

void TestLook::disabledButtonsOfTheDialogs()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    Fixture f(theme);
    QVERIFY(f.ready());
    // Enabled text on an enabled control.
    const double enabledContrast = contrast(themeColor(theme, 9), themeColor(theme, 4));

    // Dialogs as the window opens them, under its sheet: the AI tools without a
    // model, the settings, the wizard on its first page and the type dialog
    // with no type chosen.
    QList<QWidget *> dialogs{f.window.autoLabelDialog(), f.window.segmentationDialog(), f.window.conceptDialog(),
                             f.window.faceAnnotationDialog(), f.window.poseAnnotationDialog()};
    auto *settings = new SettingsDialog(&f.window);
    auto *wizard = new ObjectDetectionWizard(&f.window, theme == Theme::Dark);
    auto *typeDialog = new ProjectTypeDialog(QString(), mode, &f.window);
    dialogs << settings << wizard << typeDialog;
    wizard->show();
    while (wizard->button(QWizard::NextButton)->isEnabled() && wizard->currentId() < 4)
        wizard->next();

    QList<QPushButton *> checked;
    for (QWidget *dialog : dialogs) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->isEnabled() || !button->isVisible() || button->text().isEmpty())
                continue;
            const Look look = lookOf(button);
            const QString what = QString::fromLatin1(dialog->metaObject()->className()) + QLatin1String(": ") +
                                 button->text() + QLatin1String(" ") + look.text.name() + QLatin1String(" on ") +
                                 look.background.name();
            QVERIFY2(looksDisabled(look, enabledContrast), qPrintable(what));
            checked.append(button);
        }
        dialog->hide();
    }
    // Among them the wizard's Next on its incomplete first page and OK of the type dialog.
    QVERIFY(checked.contains(wizard->button(QWizard::NextButton)));
    QVERIFY(std::any_of(checked.cbegin(), checked.cend(),
                        [typeDialog](QPushButton *b) { return b->window() == typeDialog; }));
    QVERIFY2(checked.size() >= 4, qPrintable(QString::number(checked.size())));
}

void TestLook::textsFitTheirControls()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    auto *about = new AboutDialog(&f.window);
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));

    // Every button's label fits the contents rectangle it was given.
    int measured = 0;
    for (QWidget *top : {static_cast<QWidget *>(&f.window), static_cast<QWidget *>(about)}) {
        for (QPushButton *button : top->findChildren<QPushButton *>()) {
            if (!button->isVisible() || button->text().isEmpty())
                continue;
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            const int needed = button->fontMetrics().horizontalAdvance(button->text()) + icon;
            QVERIFY2(
                contentsOf(button).width() >= needed,
                qPrintable(
                    QStringLiteral("\"%1\": %2 < %3").arg(button->text()).arg(contentsOf(button).width()).arg(needed)));
            ++measured;
        }
    }
    QVERIFY(measured >= 12);

    // The statistics overlay's summary ends inside the box, clear of its right edge.
    StatsOverlay *overlay = f.window.statsOverlayWidget();
    QVERIFY(overlay->isVisible());
    const QImage box = drawn(overlay);
    int rightmost = 0;
    for (int y = 38; y < 50; ++y) {
        for (int x = 0; x < box.width() - 2; ++x) {
            if (qGray(box.pixel(x, y)) > 150)
                rightmost = std::max(rightmost, x);
        }
    }
    QVERIFY2(rightmost > 100 && rightmost < box.width() - 8,
             qPrintable(QStringLiteral("%1 of %2").arg(rightmost).arg(box.width())));
}

void TestLook::statisticsBarsFollowTheCounts()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    QLabel *stats = f.window.annotations()->statsLabel();
    const QImage image = stats->grab().toImage();

    const int car = longestRun(image, QColor(0x4d, 0x8d, 0xff), true);
    const int person = longestRun(image, QColor(0xff, 0x57, 0x57), true);
    const int tree = longestRun(image, QColor(0x55, 0xc7, 0x72), true);
    const QString runs = QStringLiteral("car %1, person %2, tree %3").arg(car).arg(person).arg(tree);
    // 8, 4 and 1 boxes: bars of the full, half and an eighth of the length.
    QVERIFY2(car >= 40, qPrintable(runs));
    QVERIFY2(std::abs(person * 2 - car) <= 4, qPrintable(runs));
    QVERIFY2(tree >= 1 && std::abs(tree * 8 - car) <= 16, qPrintable(runs));
    // A bar, not a line: a few pixels high.
    QVERIFY(longestRun(image, QColor(0x4d, 0x8d, 0xff), false) >= 4);
}

void TestLook::aboutHeaderKeepsItsPadding()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    auto *about = new AboutDialog(&f.window);
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    const QImage image = about->grab().toImage();
    const QColor background = image.pixelColor(2, 2);
    // Nothing but the dialog's background in the header's 24-pixel top padding,
    // and the logo right below it.
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < image.width(); ++x)
            QVERIFY2(distance(image.pixelColor(x, y), background) <= 2, qPrintable(QStringLiteral("row %1").arg(y)));
    }
    QRect ink;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (distance(image.pixelColor(x, y), background) > 40)
                ink |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(std::abs(ink.top() - 24) <= 3);
    QVERIFY(std::abs(ink.center().x() - image.width() / 2) <= 2);
}

void TestLook::typeBadgeIsAPill()
{
    Fixture f(Theme::Light);
    QVERIFY(f.ready());
    QPushButton *badge = nullptr;
    for (QPushButton *button : f.window.topBarWidget()->findChildren<QPushButton *>()) {
        if (button->text().endsWith(QStringLiteral(" ▾")))
            badge = button;
    }
    QVERIFY(badge);
    QCOMPARE(badge->text(), QStringLiteral("Object Detection ▾"));
    const QImage image = drawn(badge);
    const QColor fill(0xDB, 0xEA, 0xFE);
    const int h = image.height();
    const int w = image.width();
    QVERIFY(h >= 16);
    // Filled across the middle, rounded at all four corners: a pill.
    QVERIFY(distance(image.pixelColor(w / 2, 1), fill) <= 4);
    QVERIFY(distance(image.pixelColor(2, h / 2), fill) <= 12);
    for (const QPoint &corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
        QVERIFY2(distance(image.pixelColor(corner), fill) > 4,
                 qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
}

void TestLook::comboArrowAndCheckBoxes()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    Fixture f(theme);
    QVERIFY(f.ready());

    // The theme combo shows its arrow in the drop-down part.
    auto *combo = f.window.toolBarWidget()->findChild<QComboBox *>();
    QVERIFY(combo);
    const QImage comboImage = combo->grab().toImage();
    const QColor control = themeColor(theme, 4);
    const QRect dropDown(combo->width() - 18, 4, 16, combo->height() - 8);
    QVERIFY2(distance(inkIn(comboImage, dropDown, control), control) >= 60,
             qPrintable(inkIn(comboImage, dropDown, control).name()));

    // The status filters: an unchecked box shows its square, a checked one its mark.
    ImageListPanel *list = f.window.imageList();
    QList<QCheckBox *> boxes = list->findChildren<QCheckBox *>();
    QCOMPARE(boxes.size(), 2);
    QCheckBox *unchecked = boxes.at(1);
    {
        const QSignalBlocker blocker(unchecked);
        unchecked->setChecked(false);
    }
    QCoreApplication::processEvents();
    for (QCheckBox *box : boxes) {
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QVERIFY(indicator.width() >= 10);
        const QImage image = drawn(box);
        const QColor around = image.pixelColor(indicator.right() + 3, 1);
        // The box's outline stands out from the panel on its left edge...
        const QColor edge = image.pixelColor(indicator.left(), indicator.center().y());
        QVERIFY2(distance(edge, around) >= 40, qPrintable(edge.name() + QLatin1String(" on ") + around.name()));
        // ...and a checked box is filled with the accent and carries a white mark.
        const QColor centre = inkIn(image, indicator.adjusted(2, 2, -2, -2), themeColor(theme, 12));
        if (box->isChecked()) {
            QVERIFY(distance(image.pixelColor(indicator.left() + 2, indicator.top() + 2), themeColor(theme, 12)) <= 12);
            QVERIFY2(qGray(centre.rgb()) > 200, qPrintable(centre.name()));
        } else {
            QVERIFY(distance(image.pixelColor(indicator.center()), themeColor(theme, 12)) > 40);
        }
    }
}

void TestLook::longFileNamesReadInFull()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    QListView *list = f.window.imageList()->listView();
    const QModelIndex item =
        list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, longName, 1, Qt::MatchExactly).value(0);
    QVERIFY(item.isValid());
    list->setCurrentIndex(item);
    list->scrollTo(item);
    QScrollBar *bar = list->horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();

    // Scrolled to the right end, the row ends inside the view...
    const QRect row = list->visualRect(item);
    QVERIFY2(row.right() < list->viewport()->width(),
             qPrintable(QStringLiteral("%1 >= %2").arg(row.right()).arg(list->viewport()->width())));
    // ...and the style draws the name in a rectangle wide enough for all of it,
    // also as the selected row with its border.
    OptionProbe probe;
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = row;
    option.decorationSize = list->iconSize();
    option.state |= QStyle::State_Selected;
    probe.initStyleOption(&option, item);
    const QRect text = list->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, list);
    const int needed = option.fontMetrics.horizontalAdvance(longName);
    QVERIFY2(text.width() >= needed, qPrintable(QStringLiteral("%1 < %2").arg(text.width()).arg(needed)));
}

void TestLook::filmStripHasOneBackground()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    Fixture f(theme);
    QVERIFY(f.ready());
    FilmStrip *strip = f.window.filmStripWidget();
    const QImage image = strip->grab().toImage();
    const QColor panel = themeColor(theme, 2);
    const QColor border = themeColor(theme, 7);

    QLabel *first = strip->thumbnailLabel(f.window.currentProject().dataset.images.at(0).id);
    QLabel *second = strip->thumbnailLabel(f.window.currentProject().dataset.images.at(1).id);
    QVERIFY(first && second);
    const QRect a(first->mapTo(strip, QPoint()), first->size());
    const QRect b(second->mapTo(strip, QPoint()), second->size());
    // Between two thumbnails, beside them and under the chevrons: the strip's one colour.
    const QList<QPoint> background{{(a.right() + b.left()) / 2, a.center().y()},
                                   {a.left() - 4, 40},
                                   {3, 60},
                                   {image.width() - 4, 60},
                                   {b.center().x(), a.bottom() + 3}};
    for (const QPoint &p : background)
        QVERIFY2(distance(image.pixelColor(p), panel) <= 2,
                 qPrintable(QStringLiteral("%1,%2: %3").arg(p.x()).arg(p.y()).arg(image.pixelColor(p).name())));
    // The top border runs over the whole strip, thumbnails included.
    for (int x : {2, a.center().x(), b.center().x(), image.width() - 3})
        QVERIFY2(distance(image.pixelColor(x, 0), border) <= 2, qPrintable(QString::number(x)));
}

void TestLook::playbackOnlyInVideoMode()
{
    Fixture f(Theme::Light);
    MainWindowTestAccess access = f.access();
    ToolBar *toolBar = f.window.toolBarWidget();
    const auto playback = [toolBar] {
        QList<bool> states;
        for (ToolBar::Button b : {ToolBar::Rewind, ToolBar::Play, ToolBar::FastForward})
            states.append(toolBar->button(b)->isEnabled());
        return states;
    };
    const QList<bool> off{false, false, false};
    const QList<bool> on{true, true, true};

    // Images only: the title update and the refresh open the project's buttons
    // but leave playback off.
    QCOMPARE(playback(), off);
    QVERIFY(toolBar->button(ToolBar::Next)->isEnabled());
    access.updateTitle();
    QCOMPARE(playback(), off);
    access.refreshUi();
    QCOMPARE(playback(), off);

    // In video mode playback stays on through title updates.
    access.videoMode() = true;
    access.setVideoMode(true);
    QCOMPARE(playback(), on);
    access.updateTitle();
    QCOMPARE(playback(), on);

    access.videoMode() = false;
    access.setVideoMode(false);
    access.updateTitle();
    QCOMPARE(playback(), off);
}

// Lists with alternating rows (the keypoints of the pose wizard, the classes,
// the format chooser) shade every other row in the theme's colours: the text
// of each row stays readable, and a dark theme gets no light rows.
void TestLook::alternateRowsKeepTheTheme()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    ObjectDetectionWizard wizard(&f.window, mode == Theme::Dark);
    QVERIFY(openKeypointPage(wizard));
    QListWidget *list = wizard.keypointSchemaPage()->keypointList();
    QVERIFY(list->isVisible() && list->count() >= 2);
    QCoreApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const QColor window = f.window.palette().color(QPalette::Window);
    for (int row = 0; row < 2; ++row) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        const QColor background = image.pixelColor(rect.right() - 4, rect.center().y());
        const QColor text = inkIn(image, rect.adjusted(4, 2, -4, -2), background);
        QVERIFY2(contrast(text, background) >= 4.5,
                 qPrintable(QStringLiteral("row %1: %2 on %3").arg(row).arg(text.name(), background.name())));
        QVERIFY2(
            distance(background, window) <= 40,
            qPrintable(QStringLiteral("row %1: %2 on a %3 window").arg(row).arg(background.name(), window.name())));
    }
}

// The keypoint templates of the pose wizard are radio buttons: each shows its
// ring against the page, and the chosen one its accent with a white dot.
void TestLook::radioButtonsShowTheirState()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    Fixture f{theme};
    QVERIFY(f.ready());
    ObjectDetectionWizard wizard(&f.window, theme == Theme::Dark);
    QVERIFY(openKeypointPage(wizard));
    const QList<QRadioButton *> radios = wizard.keypointSchemaPage()->findChildren<QRadioButton *>();
    QCOMPARE(radios.size(), 3);
    QCoreApplication::processEvents();
    int checked = 0;
    for (QRadioButton *radio : radios) {
        QStyleOptionButton option;
        option.initFrom(radio);
        const QRect indicator = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio);
        QVERIFY(indicator.width() >= 10);
        const QImage image = drawn(radio);
        const QColor around = image.pixelColor(indicator.right() + 3, 1);
        const QColor ring = inkIn(image, indicator, around);
        QVERIFY2(contrast(ring, around) >= 3.0, qPrintable(ring.name() + QLatin1String(" on ") + around.name()));
        if (!radio->isChecked())
            continue;
        ++checked;
        const QColor accent = themeColor(theme, 12);
        const QPoint nearEdge(indicator.left() + 2, indicator.center().y());
        QVERIFY2(distance(image.pixelColor(nearEdge), accent) <= 24, qPrintable(image.pixelColor(nearEdge).name()));
        QVERIFY2(qGray(image.pixel(indicator.center())) > 200, qPrintable(image.pixelColor(indicator.center()).name()));
    }
    QCOMPARE(checked, 1);
}

// Every list, tree and table of the window and its dialogs shows where the
// keys are: with the focus its edge takes the accent colour, without it the
// edge is not the accent.
void TestLook::listsShowTheFocus()
{
    QFETCH(int, mode);
    const auto theme = Theme::Mode(mode);
    Fixture f{theme};
    QVERIFY(f.ready());
    f.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    const QColor accent = themeColor(theme, 12);
    const auto edgeColour = [](QAbstractItemView *view) {
        QCoreApplication::processEvents();
        const QImage image = drawn(view);
        return image.pixelColor(0, image.height() / 2);
    };
    const auto check = [&](QAbstractItemView *view, const QString &name) {
        view->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY2(view->hasFocus(), qPrintable(name));
        const QColor focused = edgeColour(view);
        f.window.labelCanvas()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!view->hasFocus());
        const QColor unfocused = edgeColour(view);
        QVERIFY2(distance(focused, accent) <= 8, qPrintable(name + QLatin1String(": ") + focused.name()));
        QVERIFY2(distance(unfocused, accent) > 40, qPrintable(name + QLatin1String(": ") + unfocused.name()));
    };
    check(f.window.annotations()->classListWidget(), QStringLiteral("classes"));
    check(f.window.annotations()->annotationListWidget(), QStringLiteral("annotations"));
    check(f.window.imageList()->listView(), QStringLiteral("files"));

    // The pose window's list of persons and its table of keypoints, inside
    // the window's style sheet as a child dialog.
    auto *pose = f.window.findChild<PoseAnnotationDialog *>();
    pose->show();
    QVERIFY(QTest::qWaitForWindowExposed(pose));
    pose->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(pose));
    int poseViews = 0;
    for (QAbstractItemView *view : pose->findChildren<QAbstractItemView *>()) {
        if (!view->isVisible() || qobject_cast<QHeaderView *>(view))
            continue;  // the model box's pop-up list, the table's header
        ++poseViews;
        view->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(view->hasFocus());
        const QColor focused = edgeColour(view);
        pose->findChild<QComboBox *>()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!view->hasFocus());
        const QColor unfocused = edgeColour(view);
        const QString name = QString::fromLatin1(view->metaObject()->className());
        QVERIFY2(distance(focused, accent) <= 8, qPrintable(name + QLatin1String(": ") + focused.name()));
        QVERIFY2(distance(unfocused, accent) > 40, qPrintable(name + QLatin1String(": ") + unfocused.name()));
    }
    QCOMPARE(poseViews, 2);
    pose->hide();
}

// The wizard's type cards: the card with the focus looks unlike the chosen
// card, and the chosen card with the focus unlike the chosen card without it.
void TestLook::wizardTypeCardsShowFocusApartFromChoice()
{
    QFETCH(int, mode);
    Fixture f{Theme::Mode(mode)};
    QVERIFY(f.ready());
    ObjectDetectionWizard wizard(&f.window, mode == Theme::Dark);
    wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wizard));
    wizard.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    QAbstractButton *detection = wizard.typePage()->typeButton(QStringLiteral("object_detection"));
    QAbstractButton *pose = wizard.typePage()->typeButton(QStringLiteral("pose"));
    QVERIFY(detection->isChecked() && !pose->isChecked());
    const auto look = [](QAbstractButton *card) {
        QCoreApplication::processEvents();
        return drawn(card);
    };
    wizard.button(QWizard::NextButton)->setFocus();
    QTRY_VERIFY(!detection->hasFocus());
    const QImage plain = look(pose);
    const QImage chosen = look(detection);
    pose->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(pose->hasFocus());
    const QImage focused = look(pose);
    detection->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(detection->hasFocus());
    const QImage chosenFocused = look(detection);
    QVERIFY(focused != plain);
    QVERIFY(chosenFocused != chosen);
    // Same card: the focus mark is not the mark of the chosen card.
    pose->click();
    wizard.button(QWizard::NextButton)->setFocus();
    QTRY_VERIFY(!pose->hasFocus());
    QVERIFY(pose->isChecked());
    QVERIFY(look(pose) != focused);
    // Tab reaches the group whatever the platform's tab stops: at the card
    // that last had the focus, where the arrows go on.
    int tabStops = 0;
    for (const char *key : {"object_detection", "semantic_segmentation", "segmentation", "pose", "face",
                            "classification"}) {
        if (wizard.typePage()->typeButton(QString::fromLatin1(key))->focusPolicy() == Qt::StrongFocus)
            ++tabStops;
    }
    QCOMPARE(tabStops, 1);
}

QM_TEST_MAIN(TestLook)
#include "tst_look.moc"
