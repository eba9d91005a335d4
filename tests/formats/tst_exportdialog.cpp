// The export dialog: its format cards, the options each format shows, the
// configuration it hands back, the percentages and the summary line, checked on
// the dialog styled by the application style sheet as the window shows it.

#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "chrome/Theme.h"
#include "formats/ui/ExportDialog.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"

#include "FormatTestSupport.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QStyleHints>
#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

using namespace Quillmark;

namespace {

const QStringList coreOrder = {"COCO",       "LabelMe",    "CreateML", "Darknet",   "CVAT XML", "Pascal VOC",
                               "Florence-2", "Multiclass", "CLIP",     "PaliGemma", "RetinaNet"};
const QStringList yoloOrder = {"YOLOv8",       "YOLOv9",          "YOLOv11",        "YOLOv12",        "YOLOv5 PyTorch",
                               "YOLOv5 OBB",   "YOLOv6 MT",       "YOLOv7 PyTorch", "YOLOv4 PyTorch", "YOLOv4 Scaled",
                               "YOLOv3 Keras", "YOLO TensorFlow", "Roboflow YOLO",  "YOLOv8 OBB",     "YOLO"};

// Every format the registry writes, in registry order.
QStringList registryFormats()
{
    QStringList names;
    for (const IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (handler->name() != QLatin1String("QuillPackage"))
            names.append(handler->name());
    }
    return names;
}

// A dialog inside a window that carries the application style sheet, as the
// main window is its parent.
struct StyledDialog {
    explicit StyledDialog(const QStringList &formats, int images, Theme::Mode mode = Theme::Light)
    {
        window.setStyleSheet(buildAppStyleSheet(mode));
        dialog = new ExportDialog(formats, images, &window);
    }
    QWidget window;
    ExportDialog *dialog = nullptr;

    template <typename T> T *child(const char *name) const { return dialog->findChild<T *>(QLatin1String(name)); }
    QCheckBox *box(const QString &text) const
    {
        for (QCheckBox *check : dialog->findChildren<QCheckBox *>()) {
            if (check->text() == text)
                return check;
        }
        return nullptr;
    }
    QList<QToolButton *> cards() const
    {
        QList<QToolButton *> result;
        for (QAbstractButton *button : dialog->findChild<QButtonGroup *>()->buttons())
            result.append(qobject_cast<QToolButton *>(button));
        std::sort(result.begin(), result.end(), [this](QToolButton *a, QToolButton *b) {
            const QButtonGroup *group = dialog->findChild<QButtonGroup *>();
            return group->id(a) < group->id(b);
        });
        return result;
    }
    QToolButton *card(const QString &format) const
    {
        for (QToolButton *card : cards()) {
            if (card->toolTip() == format)
                return card;
        }
        return nullptr;
    }
    void choose(const QString &format) const { card(format)->click(); }
    QLabel *summaryLabel() const
    {
        // The summary is the "mutedLabel" of the button row (the other one is the header's dot).
        for (QLabel *label : dialog->findChildren<QLabel *>(QStringLiteral("mutedLabel"))) {
            if (label->text() != QStringLiteral("·"))
                return label;
        }
        return nullptr;
    }
    QPushButton *exportButton() const { return child<QPushButton>("exportBtn"); }
    QLineEdit *path() const { return child<QLineEdit>("exportPath"); }
    QSpinBox *train() const { return child<QSpinBox>("exportTrainPct"); }
    QSpinBox *valid() const { return child<QSpinBox>("exportValidPct"); }
    QSpinBox *test() const { return child<QSpinBox>("exportTestPct"); }
};

QStringList sectionLabels(const ExportDialog &dialog)
{
    QStringList texts;
    for (QLabel *label : dialog.findChildren<QLabel *>(QStringLiteral("exportSectionLabel")))
        texts.append(label->text());
    return texts;
}

// Runs the dialog modally; `step` acts on it from inside exec().
int execWith(ExportDialog *dialog, const std::function<void()> &step)
{
    QTimer::singleShot(0, dialog, step);
    return dialog->exec();
}

} // namespace

class TestExportDialog : public QObject {
    Q_OBJECT

private slots:
    void cardOrderAndGrouping_data();
    void cardOrderAndGrouping();
    void gridGeometry();
    void cardsAreReachedWithTheKeyboard_data();
    void cardsAreReachedWithTheKeyboard();
    void arrowsLeaveEveryCardWhereACardLies_data();
    void arrowsLeaveEveryCardWhereACardLies();
    void cardsShowTheirLabelsWhole();
    void optionsLeaveTheCardsWhole();
    void optionsPerFormat();
    void dataYamlBoxIsShownWhereTheExportActsOnIt();
    void configAfterExec();
    void configOfHiddenOptions();
    void percentages_data();
    void percentages();
    void summary_data();
    void summary();
    void exportNeedsAPathAndAFormat();
    void browse();
    void disabledLookOnTheStyledDialog_data();
    void disabledLookOnTheStyledDialog();
};

void TestExportDialog::cardOrderAndGrouping_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("sections");

    // What the window passes for most projects: the registry minus the package and YOLO Pose.
    QStringList detection = registryFormats();
    detection.removeAll(QStringLiteral("YOLO Pose"));
    QTest::newRow("detection project") << detection << coreOrder + yoloOrder
                                       << QStringList{"CORE FORMATS", "YOLO VARIANTS"};
    QTest::newRow("pose project") << QStringList{"COCO", "YOLO Pose"} << QStringList{"COCO", "YOLO Pose"}
                                  << QStringList{"CORE FORMATS"};
    QTest::newRow("given in reverse") << QStringList{"YOLO", "RetinaNet", "YOLOv8", "COCO"}
                                      << QStringList{"COCO", "RetinaNet", "YOLOv8", "YOLO"}
                                      << QStringList{"CORE FORMATS", "YOLO VARIANTS"};
    // Unknown and unranked names come after the ranked ones, in the order given.
    QTest::newRow("unknown names") << QStringList{"Zeta", "YOLO Pose", "LabelMe", "Alpha"}
                                   << QStringList{"LabelMe", "Zeta", "YOLO Pose", "Alpha"}
                                   << QStringList{"CORE FORMATS"};
    QTest::newRow("only YOLO") << QStringList{"YOLOv9"} << QStringList{"YOLOv9"} << QStringList{"YOLO VARIANTS"};
    QTest::newRow("none") << QStringList{} << QStringList{} << QStringList{};
}

void TestExportDialog::cardOrderAndGrouping()
{
    QFETCH(QStringList, given);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, sections);
    StyledDialog d(given, 4);
    QCOMPARE(d.dialog->formatNames(), expected);
    QCOMPARE(sectionLabels(*d.dialog), sections);
    QStringList tips;
    for (QToolButton *card : d.cards())
        tips.append(card->toolTip());
    QCOMPARE(tips, expected);
    // The first card shown is chosen.
    QCOMPARE(d.dialog->config().format, expected.value(0));
    if (!expected.isEmpty()) {
        QVERIFY(d.cards().first()->isChecked());
        QCOMPARE(d.child<QLabel>("exportFmtName")->text(), expected.first());
    }
}

void TestExportDialog::gridGeometry()
{
    QStringList detection = registryFormats();
    detection.removeAll(QStringLiteral("YOLO Pose"));
    StyledDialog d(detection, 10);
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.dialog));
    QCOMPARE(d.dialog->minimumSize(), QSize(820, 500));
    QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Export Dataset"));

    // Nine core cards in the first row, two in the second; the stretch column after them.
    auto *grid = qobject_cast<QGridLayout *>(d.child<QWidget>("exportCoreGrid")->layout());
    QCOMPARE(grid->count(), 11);
    for (int i = 0; i < 11; ++i) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(d.card(coreOrder.at(i))), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QPoint(column, row), QPoint(i % 9, i / 9));
    }
    QCOMPARE(grid->columnStretch(9), 1);
    QCOMPARE(d.card("COCO")->geometry().topLeft(), QPoint(0, 0));
    QCOMPARE(d.card("LabelMe")->geometry().topLeft(), QPoint(78, 0));
    QCOMPARE(d.card("PaliGemma")->geometry().topLeft(), QPoint(0, 68));

    for (QToolButton *card : d.cards()) {
        QCOMPARE(card->size(), QSize(74, 64));
        QCOMPARE(card->iconSize(), QSize(26, 26));
        // Tab reaches the group at its checked card, also where it stops only
        // at controls that a click focuses too; the arrows move along it.
        if (card->isChecked())
            QCOMPARE(card->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(card->objectName(), QStringLiteral("exportFormatCard"));
    }

    // Fifteen YOLO cards: 74 x 15 + 4 x 14 pixels in a row that scrolls sideways.
    auto *scroll = d.child<QScrollArea>("exportYoloScroll");
    QCOMPARE(scroll->height(), 84);
    QCOMPARE(d.child<QWidget>("exportYoloRow")->size(), QSize(1166, 68));
    QCOMPARE(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(scroll->horizontalScrollBar()->isVisible());
    QVERIFY(scroll->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(d.card("YOLOv9")->geometry().x(), 78);

    // One YOLO card: the row is still 100 pixels wide.
    StyledDialog single({"YOLO"}, 1);
    QCOMPARE(single.child<QWidget>("exportYoloRow")->size(), QSize(100, 68));

    // Icons are the formats' own drawings; a name without one has none.
    QVERIFY(!d.card("COCO")->icon().isNull());
    StyledDialog unknown({"Zeta"}, 1);
    QVERIFY(unknown.card("Zeta")->icon().isNull());
    QCOMPARE(unknown.card("Zeta")->text(), QStringLiteral("Zeta"));
    QCOMPARE(d.card("YOLOv5 PyTorch")->text(), QStringLiteral("YOLOv5 PT"));
    QCOMPARE(d.card("YOLO TensorFlow")->text(), QStringLiteral("YOLO TF"));
    QLabel *headerIcon = d.child<QLabel>("exportFmtIcon");
    QCOMPARE(headerIcon->size(), QSize(28, 28));
    QCOMPARE(headerIcon->pixmap().size(), QSize(28, 28));
    QVERIFY(unknown.child<QLabel>("exportFmtIcon")->pixmap().isNull());
}

void TestExportDialog::cardsAreReachedWithTheKeyboard_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("tabStops");
    // Some desktops stop Tab only at the controls that a click focuses too.
    QTest::newRow("light") << int(Theme::Light) << int(Qt::TabFocusAllControls);
    QTest::newRow("dark") << int(Theme::Dark) << int(Qt::TabFocusAllControls);
    QTest::newRow("light, tab stops at text and lists") << int(Theme::Light) << int(Qt::TabFocusTextControls);
    QTest::newRow("dark, tab stops at text and lists") << int(Theme::Dark) << int(Qt::TabFocusTextControls);
}

void TestExportDialog::cardsAreReachedWithTheKeyboard()
{
    // A keyboard user tabs to the cards, moves along them with the arrows and
    // picks one with Space; the card with the focus is plainly marked and in
    // view, and every card can be reached and chosen.
    QFETCH(int, mode);
    QFETCH(int, tabStops);
    QStyleHints *hints = QGuiApplication::styleHints();
    const Qt::TabFocusBehavior before = hints->tabFocusBehavior();
    hints->setTabFocusBehavior(Qt::TabFocusBehavior(tabStops));
    const auto restore = qScopeGuard([&] { hints->setTabFocusBehavior(before); });
    StyledDialog d(registryFormats(), 10, Theme::Mode(mode));
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(d.dialog));
    const QList<QToolButton *> cards = d.cards();
    QToolButton *reached = nullptr;
    for (int i = 0; i < 80 && !reached; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : d.dialog, Qt::Key_Tab);
        reached = qobject_cast<QToolButton *>(QApplication::focusWidget());
        if (reached && !cards.contains(reached))
            reached = nullptr;
    }
    QVERIFY2(reached, "Tab never reached a format card");
    QVERIFY(reached->isChecked());  // the group is entered at its chosen card
    // The same card, with the focus and after the arrow took it away.
    const QImage focusedLook = reached->grab().toImage();
    QTest::keyClick(reached, Qt::Key_Right);
    auto *next = qobject_cast<QToolButton *>(QApplication::focusWidget());
    QVERIFY(next && next != reached && cards.contains(next));
    QVERIFY(reached->grab().toImage() != focusedLook);
    QTest::keyClick(next, Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), reached);

    QTest::keyClick(reached, Qt::Key_Space);
    QVERIFY(reached->isChecked());
    QCOMPARE(d.dialog->config().format, reached->toolTip());

    QTest::keyClick(reached, Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), next);
    QTest::keyClick(next, Qt::Key_Space);
    QVERIFY(next->isChecked());
    QVERIFY(!reached->isChecked());
    QCOMPARE(d.dialog->config().format, next->toolTip());

    // Every card is reached by the arrows from the first one, taken as the
    // format, and scrolled into view where it is reached.
    QSet<QToolButton *> seen{reached};
    QList<QToolButton *> queue{reached};
    while (!queue.isEmpty()) {
        QToolButton *from = queue.takeFirst();
        for (Qt::Key key : {Qt::Key_Right, Qt::Key_Down, Qt::Key_Left, Qt::Key_Up}) {
            from->setFocus();
            QTest::keyClick(from, Qt::Key_Space);  // the arrows move on from the chosen card
            QTest::keyClick(from, key);
            auto *to = qobject_cast<QToolButton *>(QApplication::focusWidget());
            if (!to || !cards.contains(to) || seen.contains(to))
                continue;
            seen.insert(to);
            queue.append(to);
            QVERIFY2(to->isChecked(), qPrintable(to->toolTip()));
            QCOMPARE(d.dialog->config().format, to->toolTip());
            QCOMPARE(to->visibleRegion().boundingRect(), to->rect());
        }
    }
    QCOMPARE(seen.size(), cards.size());

    // Return on a card with the focus but not chosen chooses it; the dialog
    // stays open (Return would otherwise export with the format shown before).
    d.path()->setText(QDir::tempPath());
    QToolButton *other = cards.first()->isChecked() ? cards.last() : cards.first();
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    QVERIFY(other->isChecked());
    QCOMPARE(d.dialog->config().format, other->toolTip());
    QVERIFY(d.dialog->isVisible());
}

void TestExportDialog::arrowsLeaveEveryCardWhereACardLies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("formats");
    // A detection project is offered every format but "YOLO Pose".
    QStringList detection = registryFormats();
    detection.removeAll(QStringLiteral("YOLO Pose"));
    QTest::newRow("light, detection") << int(Theme::Light) << detection;
    QTest::newRow("dark, detection") << int(Theme::Dark) << detection;
    QTest::newRow("light, every format") << int(Theme::Light) << registryFormats();
    QTest::newRow("dark, every format") << int(Theme::Dark) << registryFormats();
}

void TestExportDialog::arrowsLeaveEveryCardWhereACardLies()
{
    // From every card, each arrow with a card lying that way on the screen
    // moves to a card that way: the next card of the row for Left and Right,
    // a card of a row above or below for Up and Down, wherever the YOLO row
    // is scrolled to show the card left.
    QFETCH(int, mode);
    QFETCH(QStringList, formats);
    StyledDialog d(formats, 10, Theme::Mode(mode));
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(d.dialog));
    auto *row = d.child<QWidget>("exportYoloRow");
    const QList<QToolButton *> cards = d.cards();
    // Where a card stands: the row it sits in and its centre within that row
    // (the YOLO row's own coordinates, which scrolling does not change).
    const auto rowOf = [&](QToolButton *card) { return card->mapTo(d.dialog, card->rect().center()).y(); };
    const auto xOf = [&](QToolButton *card) {
        return row->isAncestorOf(card) ? card->geometry().center().x()
                                       : card->mapTo(d.dialog, card->rect().center()).x();
    };
    QStringList faults;
    for (QToolButton *from : cards) {
        for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
            from->setFocus();
            QTest::keyClick(from, Qt::Key_Space);
            QVERIFY(from->hasFocus() && from->isChecked());
            const int y = rowOf(from);
            const int x = xOf(from);
            QToolButton *expected = nullptr;  // Left/Right: the neighbour in the row
            bool liesThatWay = false;
            for (QToolButton *other : cards) {
                if (other == from)
                    continue;
                const bool sameRow = rowOf(other) == y;
                if (key == Qt::Key_Up && rowOf(other) < y)
                    liesThatWay = true;
                if (key == Qt::Key_Down && rowOf(other) > y)
                    liesThatWay = true;
                if (sameRow && key == Qt::Key_Left && xOf(other) < x
                    && (!expected || xOf(other) > xOf(expected)))
                    expected = other;
                if (sameRow && key == Qt::Key_Right && xOf(other) > x
                    && (!expected || xOf(other) < xOf(expected)))
                    expected = other;
            }
            liesThatWay = liesThatWay || expected;
            if (!liesThatWay)
                continue;
            QTest::keyClick(from, key);
            auto *to = qobject_cast<QToolButton *>(QApplication::focusWidget());
            const QString step = from->toolTip() + QLatin1Char(' ')
                                 + QLatin1String(key == Qt::Key_Left    ? "Left"
                                                 : key == Qt::Key_Right ? "Right"
                                                 : key == Qt::Key_Up    ? "Up"
                                                                        : "Down");
            if (!to || to == from || !cards.contains(to)) {
                faults.append(step + QStringLiteral(": stays"));
                continue;
            }
            const bool rightWay = expected ? to == expected
                                           : (key == Qt::Key_Up ? rowOf(to) < y : rowOf(to) > y);
            if (!rightWay)
                faults.append(step + QStringLiteral(": went to ") + to->toolTip());
            else if (!to->isChecked() || d.dialog->config().format != to->toolTip())
                faults.append(step + QStringLiteral(": not chosen"));
            else if (to->visibleRegion().boundingRect() != to->rect())
                faults.append(step + QStringLiteral(": not in view"));
        }
    }

    // The same from each card of the YOLO row reached along the row with the
    // arrows, from either end, wherever that left the row scrolled.
    QList<QToolButton *> yolo;
    for (QToolButton *card : cards) {
        if (row->isAncestorOf(card))
            yolo.append(card);
    }
    const bool coreAbove = yolo.size() < cards.size();
    for (int end = 0; end < 2 && coreAbove; ++end) {
        for (int steps = 0; steps < yolo.size(); ++steps) {
            QToolButton *start = end == 0 ? yolo.first() : yolo.last();
            start->setFocus();
            QTest::keyClick(start, Qt::Key_Space);
            for (int i = 0; i < steps; ++i)
                QTest::keyClick(QApplication::focusWidget(), end == 0 ? Qt::Key_Right : Qt::Key_Left);
            auto *from = qobject_cast<QToolButton *>(QApplication::focusWidget());
            QCOMPARE(from, yolo.at(end == 0 ? steps : yolo.size() - 1 - steps));
            QTest::keyClick(from, Qt::Key_Up);
            auto *to = qobject_cast<QToolButton *>(QApplication::focusWidget());
            if (!to || !cards.contains(to) || row->isAncestorOf(to))
                faults.append(from->toolTip() + QStringLiteral(" Up, reached along the row: stays"));
        }
    }

    // And from each card of the YOLO row shown whole and clicked, wherever
    // the row was scrolled to before.
    auto *bar = d.child<QScrollArea>("exportYoloScroll")->horizontalScrollBar();
    for (int value = 0; coreAbove && value <= bar->maximum(); value += 7) {
        for (QToolButton *from : yolo) {
            bar->setValue(value);
            if (from->visibleRegion().boundingRect() != from->rect())
                continue;
            QTest::mouseClick(from, Qt::LeftButton);
            QVERIFY(from->hasFocus() && from->isChecked());
            QTest::keyClick(from, Qt::Key_Up);
            auto *to = qobject_cast<QToolButton *>(QApplication::focusWidget());
            if (!to || !cards.contains(to) || row->isAncestorOf(to))
                faults.append(from->toolTip() + QStringLiteral(" Up, row at ") + QString::number(value)
                              + QStringLiteral(": stays"));
        }
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void TestExportDialog::cardsShowTheirLabelsWhole()
{
    // With the style sheet's 10-pixel card font, every label fits its card
    // (74 pixels, 2 pixels of padding and a border each side).
    StyledDialog d(registryFormats(), 3);
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.dialog));
    for (QToolButton *card : d.cards()) {
        QCOMPARE(card->font().pixelSize(), 10);
        const int textWidth = card->fontMetrics().horizontalAdvance(card->text());
        QVERIFY2(textWidth <= 74 - 2 * 4, qPrintable(card->text()));
    }
}

// The options of a format (split, percentages, data.yaml) take height: the
// dialog grows for them instead of squeezing the card grid over its second row.
void TestExportDialog::optionsLeaveTheCardsWhole()
{
    StyledDialog d(registryFormats(), 3);
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.dialog));
    for (const QString &format : {QStringLiteral("COCO"), QStringLiteral("YOLO"), QStringLiteral("LabelMe")}) {
        d.choose(format);
        QCoreApplication::processEvents();
        QVERIFY(d.dialog->minimumHeight() >= 500);
        QWidget *grid = d.child<QWidget>("exportCoreGrid");
        for (QToolButton *card : grid->findChildren<QToolButton *>()) {
            const QRect inDialog(card->mapTo(d.dialog, QPoint(0, 0)), card->size());
            QVERIFY2(grid->rect().contains(card->geometry()),
                     qPrintable(format + QLatin1String(": ") + card->toolTip()));
            // Nothing of the bottom panel lies over it.
            QVERIFY2(d.path()->mapTo(d.dialog, QPoint(0, 0)).y() > inDialog.bottom(),
                     qPrintable(format + QLatin1String(": ") + card->toolTip()));
        }
        // The last option row ends inside the dialog, above its buttons.
        QVERIFY2(d.exportButton()->mapTo(d.dialog, QPoint(0, d.exportButton()->height())).y() <= d.dialog->height(),
                 qPrintable(format));
    }
}

void TestExportDialog::optionsPerFormat()
{
    StyledDialog d(registryFormats(), 3);
    const QStringList splitCapable = {"Darknet",       "Pascal VOC",   "Multiclass",     "YOLOv8",
                                      "YOLOv9",        "YOLOv11",      "YOLOv12",        "YOLOv5 PyTorch",
                                      "YOLOv5 OBB",    "YOLOv6 MT",    "YOLOv7 PyTorch", "YOLOv4 PyTorch",
                                      "YOLOv4 Scaled", "YOLOv3 Keras", "Roboflow YOLO",  "YOLOv8 OBB",
                                      "YOLO"};
    const QStringList dataYaml = {"YOLOv8",         "YOLOv9",        "YOLOv11",       "YOLOv12", "YOLOv5 PyTorch",
                                  "YOLOv7 PyTorch", "YOLOv4 Scaled", "Roboflow YOLO", "YOLO"};
    for (const QString &format : registryFormats()) {
        d.choose(format);
        QCOMPARE(d.dialog->config().format, format);
        QCOMPARE(d.child<QWidget>("exportOptions")->isHidden(), !splitCapable.contains(format));
        QCOMPARE(d.child<QWidget>("exportYamlRow")->isHidden(), !dataYaml.contains(format));
        QCOMPARE(d.child<QWidget>("exportBase64Row")->isHidden(), format != QLatin1String("LabelMe"));
        QCOMPARE(d.child<QLabel>("exportFmtName")->text(), format);
    }
    d.choose("Darknet");
    QCOMPARE(d.child<QLabel>("exportFmtDesc")->text(), QStringLiteral("YOLO .txt labels + .names / .data config"));
    d.choose("PaliGemma");
    QCOMPARE(d.child<QLabel>("exportFmtDesc")->text(),
             QStringLiteral("annotations.jsonl with <locNNNN> tokens (y-first, 0–1023)"));
    d.choose("YOLO Pose");
    QCOMPARE(d.child<QLabel>("exportFmtDesc")->text(), QString());
    QCOMPARE(d.box("Embed images as base64 (imageData field)")->toolTip(),
             QStringLiteral("When checked, the raw image bytes are encoded in base64 and written\n"
                            "directly inside each JSON file (LabelMe \"imageData\" field).\n"
                            "This makes each .json self-contained but increases file size."));
}

// "Generate data.yaml" must never be an inert box: for every format, the box is
// shown exactly when exporting with it ticked and unticked gives different
// files, with and without a split.
void TestExportDialog::dataYamlBoxIsShownWhereTheExportActsOnIt()
{
    QTemporaryDir temp;
    const QString picture = temp.filePath("src/street.png");
    QVERIFY(FormatTest::writeImage(picture, 40, 30));
    Dataset dataset;
    dataset.addImage(FormatTest::image(picture, 40, 30, {FormatTest::box("car", 0, 0, 20, 30)}));
    dataset.addImage(FormatTest::image(picture, 40, 30, {FormatTest::box("car", 10, 5, 30, 25)}));
    dataset.addClass("car", Qt::red);

    StyledDialog d(registryFormats(), 2);
    int run = 0;
    for (const QString &format : registryFormats()) {
        d.choose(format);
        const bool shown = !d.child<QWidget>("exportYamlRow")->isHidden();
        for (const bool split : {false, true}) {
            QStringList yamlFiles[2];
            for (const bool yaml : {false, true}) {
                ExportConfig config;
                config.format = format;
                config.outputPath = temp.filePath(QStringLiteral("out%1").arg(run++));
                config.split = split && ExportDialog::allowsSplit(format);
                config.trainPct = 50;
                config.validPct = 50;
                config.generateYaml = yaml;
                QString error, result;
                QVERIFY2(runExportJob(FormatRegistry::instance().find(format), config, dataset, 2,
                                      formatWritesOwnImages(format), {}, &error, &result),
                         qPrintable(format + ": " + error));
                for (const QString &file : FormatTest::filesBelow(config.outputPath)) {
                    if (file.endsWith(QLatin1String(".yaml")))
                        yamlFiles[yaml].append(file);
                }
            }
            const bool acts = yamlFiles[0] != yamlFiles[1];
            QVERIFY2(acts == shown, qPrintable(QStringLiteral("%1 (split %2): box %3, export %4 on it")
                                                   .arg(format)
                                                   .arg(split)
                                                   .arg(shown ? "shown" : "hidden")
                                                   .arg(acts ? "acts" : "does not act")));
        }
    }
}

void TestExportDialog::configAfterExec()
{
    StyledDialog d(registryFormats(), 10);
    const int result = execWith(d.dialog, [&d] {
        d.choose("Pascal VOC");
        d.path()->setText(QStringLiteral("  /data/out  "));
        d.box("Split into train / valid / test")->click();
        d.train()->setValue(80);
        d.box("Shuffle images before split")->click();
        d.exportButton()->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    // Read after exec returned, when the dialog and all its children are hidden.
    QVERIFY(!d.dialog->isVisible());
    const ExportConfig config = d.dialog->config();
    QCOMPARE(config.format, QStringLiteral("Pascal VOC"));
    QCOMPARE(config.outputPath, QStringLiteral("/data/out"));
    QVERIFY(config.split);
    QCOMPARE(config.trainPct, 80);
    QCOMPARE(config.validPct, 20);
    QCOMPARE(config.testPct, 0);
    QVERIFY(!config.shuffle);
    QVERIFY(config.copyImages);
    QVERIFY(config.generateYaml);
    QVERIFY(!config.embedBase64);

    StyledDialog cancelled(registryFormats(), 10);
    QCOMPARE(execWith(cancelled.dialog,
                      [&cancelled] {
                          cancelled.path()->setText("/x");
                          for (QPushButton *b : cancelled.dialog->findChildren<QPushButton *>()) {
                              if (b->text() == QLatin1String("Cancel"))
                                  b->click();
                          }
                      }),
             int(QDialog::Rejected));
}

void TestExportDialog::configOfHiddenOptions()
{
    StyledDialog d(registryFormats(), 10);
    // Split ticked and copies off on a split-capable format, base64 on LabelMe ...
    d.choose("YOLO");
    d.box("Split into train / valid / test")->click();
    d.box("Copy image files to output directory")->click();
    d.box("Generate data.yaml")->click();
    d.choose("LabelMe");
    d.box("Embed images as base64 (imageData field)")->click();
    QVERIFY(d.dialog->config().embedBase64);
    QVERIFY(!d.dialog->config().split);
    // ... then a format that offers none of them.
    d.choose("COCO");
    const ExportConfig coco = d.dialog->config();
    QVERIFY(!coco.split);
    QVERIFY(!coco.copyImages); // the hidden box's state still counts
    QVERIFY(!coco.generateYaml);
    QVERIFY(!coco.embedBase64); // but the LabelMe-only box must not stop COCO's image copies
    d.choose("Darknet");
    QVERIFY(d.dialog->config().split);
}

void TestExportDialog::percentages_data()
{
    QTest::addColumn<int>("train");
    QTest::addColumn<int>("valid");
    QTest::addColumn<int>("test");
    QTest::newRow("defaults") << 70 << 20 << 10;
    QTest::newRow("train 80") << 80 << 20 << 0;
    QTest::newRow("sum above 100") << 90 << 20 << 0;
    QTest::newRow("train 50") << 50 << 20 << 30;
    QTest::newRow("valid 0") << 70 << 0 << 30;
    QTest::newRow("all train") << 100 << 0 << 0;
    QTest::newRow("nothing") << 0 << 0 << 100;
}

void TestExportDialog::percentages()
{
    QFETCH(int, train);
    QFETCH(int, valid);
    QFETCH(int, test);
    StyledDialog d({"YOLO"}, 10);
    d.train()->setValue(train);
    d.valid()->setValue(valid);
    QCOMPARE(d.test()->value(), test);
    const ExportConfig config = d.dialog->config();
    QCOMPARE(QList<int>({config.trainPct, config.validPct, config.testPct}), QList<int>({train, valid, test}));
    // A test value the user sets that breaks the sum is put back.
    d.test()->setValue(test == 0 ? 5 : 0);
    QCOMPARE(d.test()->value(), test);
}

void TestExportDialog::summary_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("train");
    QTest::addColumn<int>("valid");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ten split") << 10 << true << 70 << 20 << "/o"
                               << "train 7  ·  valid 2  ·  test 1  (10 total)";
    QTest::newRow("five rounds up") << 5 << true << 70 << 20 << "/o"
                                    << "train 4  ·  valid 1  ·  test 0  (5 total)";
    // As the export job writes them: valid takes what train leaves.
    QTest::newRow("halves") << 5 << true << 50 << 50 << "/o"
                            << "train 3  ·  valid 2  ·  test 0  (5 total)";
    QTest::newRow("three halves") << 3 << true << 50 << 50 << "/o"
                                  << "train 2  ·  valid 1  ·  test 0  (3 total)";
    QTest::newRow("empty split") << 0 << true << 70 << 20 << "/o"
                                 << "train 0  ·  valid 0  ·  test 0  (0 total)";
    QTest::newRow("one image") << 1 << false << 70 << 20 << "/data/out"
                               << "1 image  ·  /data/out";
    QTest::newRow("no images") << 0 << false << 70 << 20 << "/data/out"
                               << "0 images  ·  /data/out";
    QTest::newRow("path as typed") << 12 << false << 70 << 20 << " /d/o "
                                   << "12 images  ·   /d/o ";
    QTest::newRow("blank path") << 12 << false << 70 << 20 << "   "
                                << "12 images  ·  no output path selected";
    QTest::newRow("percent in path") << 2 << false << 70 << 20 << "/a%1b"
                                     << "2 images  ·  /a%1b";
}

void TestExportDialog::summary()
{
    QFETCH(int, images);
    QFETCH(bool, split);
    QFETCH(int, train);
    QFETCH(int, valid);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    StyledDialog d(registryFormats(), images);
    d.choose("YOLO");
    d.path()->setText(path);
    d.box("Split into train / valid / test")->setChecked(split);
    d.train()->setValue(train);
    d.valid()->setValue(valid);
    QCOMPARE(d.summaryLabel()->text(), expected);
    // A format without a split shows the plain count even with the box ticked.
    if (split) {
        d.choose("COCO");
        QVERIFY(d.summaryLabel()->text().startsWith(QStringLiteral("%1 image").arg(images)));
    }
}

void TestExportDialog::exportNeedsAPathAndAFormat()
{
    StyledDialog d(registryFormats(), 3);
    QVERIFY(!d.exportButton()->isEnabled());
    QVERIFY(d.exportButton()->isDefault());
    d.path()->setText("   ");
    QVERIFY(!d.exportButton()->isEnabled());
    d.path()->setText("/out");
    QVERIFY(d.exportButton()->isEnabled());

    // No format to choose: Export would do nothing, so it stays off.
    StyledDialog none({}, 3);
    none.path()->setText("/out");
    QVERIFY(!none.exportButton()->isEnabled());
    QVERIFY(!none.child<QWidget>("exportOptions")->isHidden());
    QCOMPARE(none.dialog->config().format, QString());
}

void TestExportDialog::browse()
{
    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride installed(&prompts);
    QSettings().remove("lastExportDir");
    StyledDialog d({"COCO"}, 1);
    QPushButton *browse = nullptr;
    for (QPushButton *b : d.dialog->findChildren<QPushButton *>()) {
        if (b->text() == QStringLiteral("Browse…"))
            browse = b;
    }
    QVERIFY(browse);
    QCOMPARE(browse->width(), 80);

    prompts.answers.enqueue(QStringLiteral("/data/exports"));
    browse->click();
    QCOMPARE(prompts.calls.last().kind, QStringLiteral("dir"));
    QCOMPARE(prompts.calls.last().title, QStringLiteral("Select Output Directory"));
    QCOMPARE(prompts.calls.last().text, QDir::homePath());
    QCOMPARE(d.path()->text(), QStringLiteral("/data/exports"));
    QCOMPARE(QSettings().value("lastExportDir").toString(), QStringLiteral("/data/exports"));

    // Cancelled: nothing changes; the typed path is where the chooser starts.
    d.path()->setText("/typed/here");
    browse->click();
    QCOMPARE(prompts.calls.last().text, QStringLiteral("/typed/here"));
    QCOMPARE(d.path()->text(), QStringLiteral("/typed/here"));
    QCOMPARE(QSettings().value("lastExportDir").toString(), QStringLiteral("/data/exports"));

    StyledDialog again({"COCO"}, 1);
    for (QPushButton *b : again.dialog->findChildren<QPushButton *>()) {
        if (b->text() == QStringLiteral("Browse…"))
            b->click();
    }
    QCOMPARE(prompts.calls.last().text, QStringLiteral("/data/exports"));
}

void TestExportDialog::disabledLookOnTheStyledDialog_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << int(Theme::Light);
    QTest::newRow("dark") << int(Theme::Dark);
}

// Under the application style sheet the export button and the split controls
// must look disabled when they are: the user sees at a glance what acts.
void TestExportDialog::disabledLookOnTheStyledDialog()
{
    QFETCH(int, mode);
    StyledDialog d({"YOLO"}, 10, Theme::Mode(mode));
    d.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.dialog));
    const QString accent = Theme::colors(Theme::Mode(mode)).at(11);

    const auto buttonFill = [&d] {
        const QImage shot = d.exportButton()->grab().toImage();
        return shot.pixelColor(4, shot.height() / 2);
    };
    QVERIFY(!d.exportButton()->isEnabled());
    const QColor disabledFill = buttonFill();
    d.path()->setText("/out");
    const QColor enabledFill = buttonFill();
    QCOMPARE(enabledFill.name(), QColor(accent).name());
    QVERIFY2(disabledFill.name() != enabledFill.name(), qPrintable(disabledFill.name()));

    // The percentage boxes: their text is drawn greyer while the split is off.
    const auto textInk = [](QWidget *w) {
        const QImage shot = w->grab().toImage();
        QColor background = shot.pixelColor(2, shot.height() / 2);
        double best = 0;
        QColor ink = background;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width() / 2; ++x) {
                const QColor c = shot.pixelColor(x, y);
                const double diff = std::abs(c.lightnessF() - background.lightnessF());
                if (diff > best) {
                    best = diff;
                    ink = c;
                }
            }
        }
        return best;
    };
    QSpinBox *train = d.train();
    QVERIFY(!train->isEnabled());
    const double offContrast = textInk(train);
    d.box("Split into train / valid / test")->click();
    QVERIFY(train->isEnabled());
    const double onContrast = textInk(train);
    QVERIFY2(onContrast > offContrast + 0.1, qPrintable(QStringLiteral("%1 vs %2").arg(onContrast).arg(offContrast)));
}

QM_TEST_MAIN(TestExportDialog)
#include "tst_exportdialog.moc"
