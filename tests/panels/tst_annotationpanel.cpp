// The annotation panel: class list signals and buttons, the class edit flows
// through scripted prompts, the annotation rows and the statistics with their
// bars as drawn.

#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "chrome/Theme.h"
#include "model/Dataset.h"
#include "panels/AnnotationPanel.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <functional>

using namespace Quillmark;
using QmTest::PromptsOverride;
using QmTest::ScriptedPrompts;

namespace {

QMap<QString, QColor> threeClasses()
{
    return {{"bird", QColor("#ff0000")}, {"cat", QColor("#00ff00")}, {"dog", QColor("#0000ff")}};
}

QStringList selectedTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->isSelected())
            texts.append(list->item(i)->text());
    }
    return texts;
}

QStringList rowTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// The longest horizontal run of one colour in a picture, and the row it is on.
struct Bar {
    int length = 0;
    int row = -1;
};

Bar barOf(const QImage &image, const QColor &color)
{
    Bar best;
    for (int y = 0; y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x) {
            run = image.pixelColor(x, y) == color ? run + 1 : 0;
            if (run > best.length)
                best = {run, y};
        }
    }
    return best;
}

void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
}

Annotation annotation(const QString &className, int kind, int points = 0)
{
    Annotation a;
    a.className = className;
    a.kind = kind;
    for (int i = 0; i < points; ++i)
        a.points.append(QPointF(i, i));
    return a;
}

// The panel inside a window that carries the application style sheet, shown.
struct StyledPanel {
    explicit StyledPanel(Theme::Mode mode = Theme::Light)
    {
        window.setStyleSheet(buildAppStyleSheet(mode));
        auto *layout = new QVBoxLayout(&window);
        panel = new AnnotationPanel(&window);
        layout->addWidget(panel);
        window.resize(300, 800);
    }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
    QWidget window;
    AnnotationPanel *panel = nullptr;
};

// Prompts whose dialogs let other work run, as a real modal dialog's event loop
// does: `duringDialog` runs inside every text and colour prompt.
class BusyPrompts : public ScriptedPrompts {
public:
    std::function<void()> duringDialog;

    QString getText(QWidget *parent, const QString &title, const QString &label, const QString &text,
                    bool *ok) override
    {
        if (duringDialog)
            duringDialog();
        return ScriptedPrompts::getText(parent, title, label, text, ok);
    }
    QColor getColor(const QColor &initial, QWidget *parent, const QString &title) override
    {
        if (duringDialog)
            duringDialog();
        return ScriptedPrompts::getColor(initial, parent, title);
    }
};

QColor iconColour(const QListWidgetItem *item, int size)
{
    const QImage image = item->icon().pixmap(QSize(size, size), 1.0).toImage();
    return image.pixelColor(size / 2, size / 2);
}

} // namespace

class TestAnnotationPanel : public QObject {
    Q_OBJECT

private slots:
    void crowdedPictureEditsTouchOnlyTheirRows();
    void currentRowIsTheActiveClass_data();
    void currentRowIsTheActiveClass();
    void severalClassesSelectedForDeletion();
    void keysChooseTheClassesInMultipleSelection();
    void multiSelectionEmitsSelectedClasses();
    void multiSelectionFollowsTheShownPicture();
    void buttonsFollowSelection();
    void setClassesKeepsCurrent();
    void addClassFlows();
    void renameClassFlows();
    void changeColourFlows();
    void deleteClassFlows();
    void classListRebuiltWhileDialogOpen();
    void annotationRows();
    void annotationKeysAndSelection();
    void statsHtml_data();
    void statsHtml();
    void statsBarsFollowTheCounts();
};

void TestAnnotationPanel::currentRowIsTheActiveClass_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("click") << "click" << "cat";
    QTest::newRow("click on the current row") << "click current" << "bird";
    QTest::newRow("arrow down") << "down" << "cat";
    QTest::newRow("ctrl+arrow down") << "ctrl down" << "cat";
    QTest::newRow("ctrl+end") << "ctrl end" << "dog";
    QTest::newRow("end") << "end" << "dog";
    QTest::newRow("home after end") << "end home" << "bird";
    QTest::newRow("type-ahead") << "type" << "dog";
    QTest::newRow("set by a call") << "call" << "dog";
}

// Single selection: the row shown current is the class the canvas draws with,
// however it became current, and each change announces it once.
void TestAnnotationPanel::currentRowIsTheActiveClass()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    StyledPanel styled;
    QVERIFY(styled.show());
    AnnotationPanel &panel = *styled.panel;
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);
    QSignalSpy multi(&panel, &AnnotationPanel::classesSelected);
    panel.setClasses(threeClasses());
    QCOMPARE(labels.count(), 1);  // row 0 became current
    QCOMPARE(labels.takeFirst().at(0).toString(), QStringLiteral("bird"));

    QListWidget *list = panel.classListWidget();
    list->setFocus();
    if (how == QLatin1String("click"))
        clickRow(list, 1);
    else if (how == QLatin1String("click current"))
        clickRow(list, 0);
    else if (how == QLatin1String("down"))
        QTest::keyClick(list, Qt::Key_Down);
    else if (how == QLatin1String("ctrl down"))
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
    else if (how == QLatin1String("ctrl end"))
        QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
    else if (how == QLatin1String("end"))
        QTest::keyClick(list, Qt::Key_End);
    else if (how == QLatin1String("end home")) {
        QTest::keyClick(list, Qt::Key_End);
        QTest::keyClick(list, Qt::Key_Home);
    } else if (how == QLatin1String("type"))
        QTest::keyClicks(list, QStringLiteral("do"));
    else
        list->setCurrentRow(2);

    QCOMPARE(list->currentItem()->text(), expected);
    // The highlighted row is that class too: a move that leaves the selection
    // behind (Ctrl with an arrow) takes it along.
    QCOMPARE(selectedTexts(list), QStringList{expected});
    QVERIFY(!labels.isEmpty());
    QCOMPARE(labels.last().at(0).toString(), expected);
    const int changes = how == QLatin1String("end home") ? 2 : 1;
    QCOMPARE(labels.count(), changes);
    QCOMPARE(multi.count(), 0);
    QVERIFY(panel.renameButton()->isEnabled());
}

// Drawing: Shift and Ctrl still select several classes at once (for Delete),
// the current row among them.
void TestAnnotationPanel::severalClassesSelectedForDeletion()
{
    StyledPanel styled;
    QVERIFY(styled.show());
    AnnotationPanel &panel = *styled.panel;
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);
    panel.setClasses(threeClasses());
    QListWidget *list = panel.classListWidget();
    list->setFocus();
    clickRow(list, 0);
    clickRow(list, 2, Qt::ShiftModifier);
    QCOMPARE(selectedTexts(list), (QStringList{"bird", "cat", "dog"}));
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(selectedTexts(list), (QStringList{"bird", "cat"}));
    QCOMPARE(labels.last().at(0).toString(), QStringLiteral("cat"));
    clickRow(list, 2, Qt::ControlModifier);
    QCOMPARE(selectedTexts(list), (QStringList{"bird", "cat", "dog"}));
    QCOMPARE(labels.last().at(0).toString(), QStringLiteral("dog"));
    QVERIFY(panel.deleteButton()->isEnabled());
    QVERIFY(!panel.renameButton()->isEnabled());
}

// Multiple selection (classification): the selected rows are the classes of
// the picture shown. A key chooses classes as a click does; a choice the window
// does not apply, or an emptied selection, goes back to the picture's classes.
void TestAnnotationPanel::keysChooseTheClassesInMultipleSelection()
{
    StyledPanel styled(Theme::Dark);
    QVERIFY(styled.show());
    AnnotationPanel &panel = *styled.panel;
    panel.setClasses(threeClasses());
    panel.setMultiSelect(true);
    ImageEntry picture;
    picture.labels = {annotation("bird", BoundingBox)};
    panel.setAnnotations(picture);
    QListWidget *list = panel.classListWidget();
    QCOMPARE(selectedTexts(list), QStringList{"bird"});

    // The window: applies a choice (and lists the picture again), or declines it.
    bool applies = true;
    QStringList chosen;
    connect(&panel, &AnnotationPanel::classesSelected, &panel, [&](const QStringList &names) {
        chosen = names;
        if (!applies)
            return;
        picture.labels.clear();
        for (const QString &name : names)
            picture.labels.append(annotation(name, BoundingBox));
        panel.setAnnotations(picture);
    });

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(chosen, QStringList{"cat"});
    QCOMPARE(selectedTexts(list), QStringList{"cat"});

    applies = false;
    chosen.clear();
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(chosen, QStringList{"dog"});
    QCOMPARE(selectedTexts(list), QStringList{"cat"});  // not applied: the picture's class

    chosen.clear();
    clickRow(list, 1, Qt::ControlModifier);  // takes the last selected class off
    QVERIFY(chosen.isEmpty());
    QCOMPARE(selectedTexts(list), QStringList{"cat"});

    // With no picture shown nothing is selected, whatever is clicked.
    applies = true;
    panel.clear();
    QVERIFY(list->selectedItems().isEmpty());
    clickRow(list, 0);
    QCOMPARE(chosen, QStringList{"bird"});
}

void TestAnnotationPanel::multiSelectionEmitsSelectedClasses()
{
    AnnotationPanel panel;
    panel.resize(300, 800);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setClasses(threeClasses());
    panel.setMultiSelect(true);
    QCOMPARE(panel.hintLabel()->text(), QStringLiteral("Click a class to label. Ctrl+click to select multiple."));
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);
    QSignalSpy multi(&panel, &AnnotationPanel::classesSelected);

    QListWidget *list = panel.classListWidget();
    clickRow(list, 2);
    clickRow(list, 0, Qt::ControlModifier);
    QCOMPARE(multi.count(), 2);
    QCOMPARE(multi.at(1).at(0).toStringList(), (QStringList{"bird", "dog"}));  // row order
    clickRow(list, 0, Qt::ControlModifier);
    clickRow(list, 2, Qt::ControlModifier);  // deselects the last one
    QCOMPARE(multi.count(), 3);
    QCOMPARE(labels.count(), 0);

    panel.setMultiSelect(false);
    QCOMPARE(panel.hintLabel()->text(), QStringLiteral("Click a class to set it as active"));
}

// Classification: the class list shows the classes of the picture on the
// canvas, so that a Ctrl+click on the next picture adds to its own classes and
// not to those the previous picture had.
void TestAnnotationPanel::multiSelectionFollowsTheShownPicture()
{
    AnnotationPanel panel;
    panel.resize(300, 800);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setClasses(threeClasses());
    panel.setMultiSelect(true);
    QSignalSpy multi(&panel, &AnnotationPanel::classesSelected);
    QListWidget *list = panel.classListWidget();

    ImageEntry first;
    first.labels = {annotation("bird", BoundingBox), annotation("dog", BoundingBox)};
    panel.setAnnotations(first);
    QCOMPARE(list->selectedItems().size(), 2);
    QVERIFY(panel.renameButton()->isEnabled() == false && panel.deleteButton()->isEnabled());

    ImageEntry next;
    panel.setAnnotations(next);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(multi.count(), 0);
    clickRow(list, 1, Qt::ControlModifier);
    QCOMPARE(multi.count(), 1);
    QCOMPARE(multi.at(0).at(0).toStringList(), QStringList{list->item(1)->text()});

    // Single selection (the drawing types) keeps the list as the user left it.
    panel.setMultiSelect(false);
    clickRow(list, 2);
    panel.setAnnotations(first);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().at(0)->text(), list->item(2)->text());
}

void TestAnnotationPanel::buttonsFollowSelection()
{
    AnnotationPanel panel;
    QVERIFY(!panel.renameButton()->isEnabled());
    QVERIFY(!panel.colorButton()->isEnabled());
    QVERIFY(!panel.deleteButton()->isEnabled());
    QVERIFY(panel.addButton()->isEnabled());

    panel.setClasses(threeClasses());
    QListWidget *list = panel.classListWidget();
    QCOMPARE(list->selectedItems().size(), 1);
    QVERIFY(panel.renameButton()->isEnabled() && panel.colorButton()->isEnabled());
    QVERIFY(panel.deleteButton()->isEnabled());

    list->item(2)->setSelected(true);
    QVERIFY(!panel.renameButton()->isEnabled());
    QVERIFY(!panel.colorButton()->isEnabled());
    QVERIFY(panel.deleteButton()->isEnabled());

    list->clearSelection();
    QVERIFY(!panel.deleteButton()->isEnabled());
}

void TestAnnotationPanel::setClassesKeepsCurrent()
{
    AnnotationPanel panel;
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);
    panel.setClasses({});
    QCOMPARE(panel.classListWidget()->count(), 0);
    QCOMPARE(labels.count(), 0);

    panel.setClasses(threeClasses());
    panel.classListWidget()->setCurrentRow(2);
    labels.clear();
    auto classes = threeClasses();
    classes.insert(QStringLiteral("ant"), Qt::black);
    panel.setClasses(classes);
    QCOMPARE(rowTexts(panel.classListWidget()), (QStringList{"ant", "bird", "cat", "dog"}));
    QCOMPARE(panel.classListWidget()->currentItem()->text(), QStringLiteral("dog"));
    QCOMPARE(labels.count(), 0);

    classes.remove(QStringLiteral("dog"));
    panel.setClasses(classes);
    QCOMPARE(panel.classListWidget()->currentRow(), 0);
    QCOMPARE(labels.count(), 1);
    QCOMPARE(labels.at(0).at(0).toString(), QStringLiteral("ant"));
}

void TestAnnotationPanel::addClassFlows()
{
    ScriptedPrompts prompts;
    PromptsOverride guard(&prompts);
    AnnotationPanel panel;
    panel.setClasses(threeClasses());
    QSignalSpy added(&panel, &AnnotationPanel::classAdded);
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);

    // A name with blanks, a chosen colour.
    prompts.answers << QStringLiteral("  eel  ") << QColor("#123456");
    panel.onAddClass();
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Add Class"));
    QCOMPARE(prompts.calls.at(0).text, QStringLiteral("Class name:"));
    QCOMPARE(prompts.calls.at(1).title, QStringLiteral("Color for \"eel\""));
    QCOMPARE(prompts.calls.at(1).text, QStringLiteral("#ffffff"));
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("eel"));
    QCOMPARE(added.at(0).at(1).value<QColor>(), QColor("#123456"));
    QCOMPARE(labels.last().at(0).toString(), QStringLiteral("eel"));
    QCOMPARE(panel.classListWidget()->currentItem()->text(), QStringLiteral("eel"));

    // An existing name is refused; one differing in case is a new class whose
    // colour comes from the palette when the colour dialog is cancelled.
    prompts.calls.clear();
    prompts.answers << QStringLiteral("cat");
    panel.onAddClass();
    QCOMPARE(prompts.calls.last().kind, QStringLiteral("information"));
    QCOMPARE(prompts.calls.last().text, QStringLiteral("Class \"cat\" already exists."));
    QCOMPARE(added.count(), 1);

    prompts.answers << QStringLiteral("Cat");  // then the colour dialog is cancelled
    panel.onAddClass();
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(1).at(1).value<QColor>(), classPalette[4]);  // four classes before it

    // Cancel, or only blanks: nothing.
    prompts.answers << QVariant() << QStringLiteral("   ");
    panel.onAddClass();
    panel.onAddClass();
    QCOMPARE(added.count(), 2);
    QCOMPARE(panel.classColors().size(), 5);
}

void TestAnnotationPanel::renameClassFlows()
{
    ScriptedPrompts prompts;
    PromptsOverride guard(&prompts);
    AnnotationPanel panel;
    panel.setClasses(threeClasses());
    panel.classListWidget()->setCurrentRow(1);  // cat
    QSignalSpy renamed(&panel, &AnnotationPanel::classRenamed);
    QSignalSpy labels(&panel, &AnnotationPanel::labelSelected);

    prompts.answers << QStringLiteral("  cat ");
    panel.onRenameClass();
    QCOMPARE(prompts.calls.at(0).extra, QStringLiteral("cat"));  // current name filled in
    prompts.answers << QStringLiteral("dog");
    panel.onRenameClass();
    QCOMPARE(prompts.calls.last().text, QStringLiteral("Class \"dog\" already exists."));
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(labels.count(), 0);

    prompts.answers << QStringLiteral("kitten");
    panel.onRenameClass();
    QCOMPARE(renamed.count(), 1);
    QCOMPARE(renamed.at(0).at(0).toString(), QStringLiteral("cat"));
    QCOMPARE(renamed.at(0).at(1).toString(), QStringLiteral("kitten"));
    QCOMPARE(labels.last().at(0).toString(), QStringLiteral("kitten"));
    QCOMPARE(panel.classColors().value(QStringLiteral("kitten")), QColor("#00ff00"));
    QVERIFY(!panel.classColors().contains(QStringLiteral("cat")));
    QCOMPARE(panel.classListWidget()->currentItem()->text(), QStringLiteral("kitten"));
}

void TestAnnotationPanel::changeColourFlows()
{
    ScriptedPrompts prompts;
    PromptsOverride guard(&prompts);
    AnnotationPanel panel;
    panel.setClasses(threeClasses());
    QSignalSpy recoloured(&panel, &AnnotationPanel::classColorChanged);

    panel.onChangeColor();  // cancelled
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Color for \"bird\""));
    QCOMPARE(prompts.calls.at(0).text, QStringLiteral("#ff0000"));
    QCOMPARE(recoloured.count(), 0);

    prompts.answers << QColor("#abcdef");
    panel.onChangeColor();
    QCOMPARE(recoloured.count(), 1);
    QCOMPARE(recoloured.at(0).at(1).value<QColor>(), QColor("#abcdef"));
    QCOMPARE(iconColour(panel.classListWidget()->item(0), 14), QColor("#abcdef"));
}

void TestAnnotationPanel::deleteClassFlows()
{
    ScriptedPrompts prompts;
    PromptsOverride guard(&prompts);
    AnnotationPanel panel;
    panel.setClasses(threeClasses());
    QSignalSpy removed(&panel, &AnnotationPanel::classRemoved);

    panel.onDeleteClass();  // Cancel
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Delete Class"));
    QCOMPARE(prompts.calls.at(0).text,
             QStringLiteral("Delete class \"bird\"?\n\nAll annotations with this class will also be removed."));
    QCOMPARE(removed.count(), 0);

    panel.classListWidget()->item(2)->setSelected(true);
    prompts.answers << int(QMessageBox::Yes);
    panel.onDeleteClass();
    QCOMPARE(prompts.calls.at(1).text, QStringLiteral("Delete 2 classes (bird, dog)?\n\nAll annotations with these "
                                                      "classes will also be removed."));
    QCOMPARE(removed.count(), 2);
    QCOMPARE(rowTexts(panel.classListWidget()), QStringList{"cat"});
    QVERIFY(!panel.deleteButton()->isEnabled());
}

void TestAnnotationPanel::classListRebuiltWhileDialogOpen()
{
    BusyPrompts prompts;
    PromptsOverride guard(&prompts);
    AnnotationPanel panel;
    panel.setClasses(threeClasses());
    QSignalSpy recoloured(&panel, &AnnotationPanel::classColorChanged);
    QSignalSpy renamed(&panel, &AnnotationPanel::classRenamed);

    // An import finishes while the colour dialog is open: the rows are rebuilt.
    auto classes = threeClasses();
    classes.insert(QStringLiteral("ant"), Qt::black);
    prompts.duringDialog = [&] { panel.setClasses(classes); };
    prompts.answers << QColor("#abcdef");
    panel.onChangeColor();  // bird
    QCOMPARE(recoloured.count(), 1);
    QCOMPARE(recoloured.at(0).at(0).toString(), QStringLiteral("bird"));
    QCOMPARE(panel.classColors().value(QStringLiteral("bird")), QColor("#abcdef"));
    QCOMPARE(iconColour(panel.classListWidget()->item(1), 14), QColor("#abcdef"));

    // The class itself went away meanwhile: nothing is changed or reported.
    panel.classListWidget()->setCurrentRow(2);  // cat
    classes.remove(QStringLiteral("cat"));
    prompts.answers << QColor("#123456") << QStringLiteral("kitten");
    panel.onChangeColor();
    panel.classListWidget()->setCurrentRow(2);  // dog
    classes.remove(QStringLiteral("dog"));
    panel.onRenameClass();
    QCOMPARE(recoloured.count(), 1);
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(panel.classColors().keys(), (QStringList{"ant", "bird"}));
}

void TestAnnotationPanel::annotationRows()
{
    AnnotationPanel panel;
    panel.setClasses({{"cat", QColor("#00ff00")}});
    QSignalSpy selected(&panel, &AnnotationPanel::annotationSelected);
    ImageEntry entry;
    entry.labels = {annotation("cat", BoundingBox), annotation("person", Keypoint, 3), annotation("road", Polygon),
                    annotation("lane", Polyline), annotation("pin", Point), annotation("odd", 9)};
    panel.setAnnotations(entry);
    QCOMPARE(rowTexts(panel.annotationListWidget()),
             (QStringList{"BBox  cat", "KP×3  person", "Polygon  road", "Polyline  lane", "Point  pin", "  odd"}));
    QCOMPARE(selected.count(), 0);
    QCOMPARE(panel.annotationListWidget()->item(3)->data(Qt::UserRole).toInt(), 3);
    QCOMPARE(iconColour(panel.annotationListWidget()->item(0), 11), QColor("#00ff00"));

    // A class missing from the map takes the same hue every time.
    const QColor fallback = AnnotationPanel::fallbackClassColor(QStringLiteral("person"));
    QCOMPARE(fallback.saturation(), 200);
    QCOMPARE(fallback.value(), 220);
    const quint64 hash = quint64(qHash(QStringLiteral("person"), 0));
    QCOMPARE(fallback.hue(), int((hash * 137u) % 360u));
    QCOMPARE(iconColour(panel.annotationListWidget()->item(1), 11).rgb(), fallback.rgb());
    panel.setAnnotations(entry);
    QCOMPARE(iconColour(panel.annotationListWidget()->item(1), 11).rgb(), fallback.rgb());
    QCOMPARE(AnnotationPanel::fallbackClassColor(QStringLiteral("person")), fallback);
}

void TestAnnotationPanel::annotationKeysAndSelection()
{
    AnnotationPanel panel;
    ImageEntry entry;
    entry.labels = {annotation("a", BoundingBox), annotation("b", BoundingBox), annotation("c", BoundingBox)};
    panel.setAnnotations(entry);
    QListWidget *list = panel.annotationListWidget();
    QSignalSpy selected(&panel, &AnnotationPanel::annotationSelected);
    QSignalSpy deleteRequested(&panel, &AnnotationPanel::annotationDeleteRequested);

    QKeyEvent noCurrent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QVERIFY(!static_cast<QObject &>(panel).eventFilter(list, &noCurrent));  // passed on
    QCOMPARE(deleteRequested.count(), 0);

    list->setCurrentRow(2);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), 2);
    QTest::keyClick(list, Qt::Key_Backspace);
    QCOMPARE(deleteRequested.count(), 1);
    QCOMPARE(deleteRequested.at(0).at(0).toInt(), 2);

    panel.selectAnnotation(1);
    QCOMPARE(list->currentRow(), 1);
    panel.selectAnnotation(7);
    QCOMPARE(list->currentRow(), -1);
    QCOMPARE(selected.count(), 1);
}

void TestAnnotationPanel::statsHtml_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("labelled");
    QTest::addColumn<int>("videos");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("projectOpen");
    QTest::newRow("nothing") << 0 << 0 << 0 << "No project open." << false;
    QTest::newRow("open project without media")
        << 0 << 0 << 0 << "<b>0</b> images &nbsp;·&nbsp; <b>0%</b> labeled &nbsp;·&nbsp; <b>5</b> annotations<br>" << true;
    QTest::newRow("open project, one video")
        << 0 << 0 << 1 << "<b>5</b> annotations<br><b>1</b> video &nbsp;·&nbsp; <b>4</b> / <b>90</b> frames annotated<br>"
        << true;
    QTest::newRow("open project with images")
        << 3 << 1 << 0 << "<b>3</b> images &nbsp;·&nbsp; <b>33%</b> labeled &nbsp;·&nbsp; <b>5</b> annotations<br>"
        << true;
    QTest::newRow("two of three labelled")
        << 3 << 2 << 0 << "<b>3</b> images &nbsp;·&nbsp; <b>66%</b> labeled &nbsp;·&nbsp; <b>5</b> annotations<br>"
        << false;
    QTest::newRow("all but one labelled")
        << 200 << 199 << 0
        << "<b>200</b> images &nbsp;·&nbsp; <b>99%</b> labeled &nbsp;·&nbsp; <b>5</b> annotations<br>" << false;
    QTest::newRow("one video, no images")
        << 0 << 0 << 1 << "<b>5</b> annotations<br><b>1</b> video &nbsp;·&nbsp; <b>4</b> / <b>90</b> frames annotated<br>"
        << false;
    QTest::newRow("two videos")
        << 8 << 1 << 2
        << "<b>8</b> images &nbsp;·&nbsp; <b>12%</b> labeled &nbsp;·&nbsp; <b>5</b> annotations<br>"
           "<b>2</b> videos &nbsp;·&nbsp; <b>4</b> / <b>90</b> frames annotated<br>"
        << false;
}

void TestAnnotationPanel::statsHtml()
{
    QFETCH(int, images);
    QFETCH(int, labelled);
    QFETCH(int, videos);
    QFETCH(QString, expected);
    QFETCH(bool, projectOpen);
    AnnotationPanel panel;
    panel.setProjectOpen(projectOpen);
    panel.updateStats(images, labelled, 5, {}, videos, 4, 90);
    QCOMPARE(panel.statsLabel()->text(), expected);
    // Emptying the annotation list keeps an open project's figures; without
    // a project it shows that none is open.
    panel.clear();
    QCOMPARE(panel.statsLabel()->text(), projectOpen ? expected : QStringLiteral("No project open."));
    // Closing the project says so at once, opening one shows its figures.
    panel.setProjectOpen(false);
    panel.updateStats(0, 0, 0, {}, 0, 0, 0);
    QCOMPARE(panel.statsLabel()->text(), QStringLiteral("No project open."));
    panel.setProjectOpen(true);
    QCOMPARE(panel.statsLabel()->text(),
             QStringLiteral("<b>0</b> images &nbsp;·&nbsp; <b>0%</b> labeled &nbsp;·&nbsp; <b>0</b> annotations<br>"));
}

void TestAnnotationPanel::statsBarsFollowTheCounts()
{
    const QMap<QString, int> perClass = {{"a%2", 3}, {"<b>", 1}, {"zebra", 3}};
    const QMap<QString, QColor> colors = {{"a%2", QColor(255, 0, 0)}, {"zebra", QColor(0x12, 0x34, 0xAB)}};

    // Names are escaped and taken as they are; rows run largest count first,
    // equal counts in name order.
    const QString html = AnnotationPanel::statsHtml(1, 1, 7, perClass, 0, 0, 0, colors);
    QVERIFY(html.startsWith(
        QStringLiteral("<b>1</b> images &nbsp;·&nbsp; <b>100%</b> labeled &nbsp;·&nbsp; <b>7</b> annotations<br>")));
    const qsizetype first = html.indexOf(QStringLiteral(">a%2<"));
    const qsizetype second = html.indexOf(QStringLiteral(">zebra<"));
    const qsizetype third = html.indexOf(QStringLiteral(">&lt;b&gt;<"));
    QVERIFY(first > 0 && first < second && second < third);

    // Drawn under the application sheet with the panel's own colours (a class
    // missing from them in grey), each bar is as long as its share of the
    // largest count, one row under the other.
    QWidget host;
    host.setStyleSheet(buildAppStyleSheet(Theme::Light));
    auto *layout = new QVBoxLayout(&host);
    auto *panel = new AnnotationPanel(&host);
    layout->addWidget(panel);
    host.resize(300, 900);
    panel->setClasses(colors);
    panel->updateStats(1, 1, 7, perClass, 0, 0, 0);
    QCOMPARE(panel->statsLabel()->text(), html);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QImage image = panel->statsLabel()->grab().toImage();
    const Bar red = barOf(image, QColor(255, 0, 0));
    const Bar blue = barOf(image, QColor(0x12, 0x34, 0xAB));
    const Bar grey = barOf(image, QColor(160, 160, 160));
    const QString bars = QStringLiteral("%1 at %2, %3 at %4, %5 at %6")
                             .arg(red.length).arg(red.row).arg(blue.length).arg(blue.row).arg(grey.length).arg(grey.row);
    QVERIFY2(red.length >= 60 && std::abs(red.length - blue.length) <= 1, qPrintable(bars));
    QVERIFY2(std::abs(grey.length * 3 - red.length) <= 6, qPrintable(bars));
    QVERIFY2(red.row < blue.row && blue.row < grey.row, qPrintable(bars));
}

// 20,000 annotations on one picture: a move, a deletion, an undo and a class
// change each replace only the rows they concern; the rest stay the same items.
void TestAnnotationPanel::crowdedPictureEditsTouchOnlyTheirRows()
{
    AnnotationPanel panel;
    panel.setClasses({{"cat", QColor("#00ff00")}, {"dog", QColor("#0000ff")}});
    ImageEntry entry;
    for (int i = 0; i < 20000; ++i)
        entry.labels.append(annotation(i % 2 ? "cat" : "dog", i % 3 ? BoundingBox : Polygon));
    panel.setAnnotations(entry);
    QListWidget *list = panel.annotationListWidget();
    QCOMPARE(list->count(), 20000);
    QList<QListWidgetItem *> before;
    for (int row = 0; row < list->count(); ++row)
        before.append(list->item(row));
    QElapsedTimer timer;

    // A move: the shapes change, nothing the rows show does.
    entry.labels[500].bbox.translate(3, 4);
    timer.start();
    panel.setAnnotations(entry);
    panel.setAnnotations(entry);  // the window may hand the same list twice
    const qint64 moveMs = timer.elapsed();
    for (int row : {0, 500, 19999})
        QCOMPARE(list->item(row), before.at(row));

    // A deletion in the middle: one row goes, the rows after it keep their items
    // and answer for their new index.
    const Annotation deleted = entry.labels.takeAt(7000);
    timer.restart();
    panel.setAnnotations(entry);
    const qint64 deleteMs = timer.elapsed();
    QCOMPARE(list->count(), 19999);
    QCOMPARE(list->item(7000), before.at(7001));
    QCOMPARE(list->item(7000)->data(Qt::UserRole).toInt(), 7000);
    QCOMPARE(list->item(19998)->data(Qt::UserRole).toInt(), 19998);

    // Undo: the row comes back at its place.
    entry.labels.insert(7000, deleted);
    timer.restart();
    panel.setAnnotations(entry);
    const qint64 undoMs = timer.elapsed();
    QCOMPARE(list->count(), 20000);
    QCOMPARE(list->item(7000)->text(), QStringLiteral("BBox  dog"));
    QCOMPARE(list->item(7001), before.at(7001));

    // A class change on one annotation: that row alone, in its new colour.
    entry.labels[12345].className = QStringLiteral("dog");
    panel.setAnnotations(entry);
    QCOMPARE(list->item(12345)->text(), QStringLiteral("Polygon  dog"));
    QCOMPARE(iconColour(list->item(12345), 11), QColor("#0000ff"));
    QCOMPARE(list->item(12344), before.at(12344));
    QCOMPARE(list->item(12346), before.at(12346));

    // New colours reach every row, without new items.
    panel.setClasses({{"cat", QColor("#ff0000")}, {"dog", QColor("#0000ff")}});
    QCOMPARE(iconColour(list->item(1), 11), QColor("#ff0000"));
    QCOMPARE(list->item(1), before.at(1));

    // Another picture: its rows, whatever the previous ones were.
    ImageEntry other;
    other.labels = {annotation("cat", Point)};
    panel.setAnnotations(other);
    QCOMPARE(rowTexts(list), QStringList{"Point  cat"});
    qInfo("20,000 annotations: move %lld ms (twice), delete %lld ms, undo %lld ms", moveMs, deleteMs, undoMs);
}

QM_TEST_MAIN(TestAnnotationPanel)
#include "tst_annotationpanel.moc"
