// The main window as people use it, with the application style sheet: where
// the keys go after a click anywhere, a click that is no edit, the state with
// no project, edits that can be taken back, and what Settings load.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSegDialog.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/KeypointTemplates.h"
#include "dialogs/SettingsDialog.h"
#include "panels/AnnotationPanel.h"
#include "panels/ImageListPanel.h"
#include "update/UpdateChecker.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextEdit>
#include <QUndoStack>

using namespace Quillmark;
using namespace AppTest;

namespace {

// Presses a key where the keyboard is, as the keyboard would.
void pressKey(MainWindow &window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

void clickRow(QAbstractItemView *list, int row)
{
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

QList<Annotation> labelsOf(MainWindow &window, int imageId = 0)
{
    return window.currentProject().dataset.imageById(imageId)->labels;
}

// The canvas top bar's buttons: safe to click, as none opens a dialog.
QList<QPushButton *> canvasBarButtons(MainWindow &window)
{
    QList<QPushButton *> buttons;
    QWidget *bar = window.findChild<QWidget *>(QStringLiteral("canvasTopBar"));
    for (QPushButton *button : bar->findChildren<QPushButton *>())
        buttons << button;
    return buttons;
}

} // namespace

class TestWindowInUse : public QObject {
    Q_OBJECT

private slots:
    void init();
    void noButtonOfTheWindowTakesTheFocus();
    void canvasKeysAfterClickingABarButton();
    void canvasKeysAfterClickingAList_data();
    void canvasKeysAfterClickingAList();
    void textFieldKeepsItsEditingKeys();
    void clickWithoutMoveIsNoEdit();
    void undecodablePictureTakesNoDrawing_data();
    void undecodablePictureTakesNoDrawing();
    void untypedProjectDrawsNothing_data();
    void untypedProjectDrawsNothing();
    void unfinishedShapeDroppedIsSaid_data();
    void unfinishedShapeDroppedIsSaid();
    void clickSegmentationReachableWithItsOwnModel_data();
    void clickSegmentationReachableWithItsOwnModel();
    void deleteDuringADragIsAStepOfItsOwn();
    void noProjectStateIsOneState();
    void classificationRelabelIsOneUndoStep();
    void typeChangeBringsTheKeypointsOfTheType_data();
    void typeChangeBringsTheKeypointsOfTheType();
    void settingsLoadAModelOnlyForANewPath();

private:
    QmTest::ScriptedPrompts prompts;
};

void TestWindowInUse::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
}

void TestWindowInUse::noButtonOfTheWindowTakesTheFocus()
{
    // Every button of the window (bars, panels, status bar, the update banner's
    // link) leaves the keys where they were when clicked.
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    auto *checker = window.findChild<UpdateChecker *>();
    emit checker->updateAvailable(QStringLiteral("9.0.0"), QStringLiteral("https://example.org/"));
    QStringList takers;
    for (QWidget *root : {window.centralWidget(), static_cast<QWidget *>(window.statusBar())}) {
        for (QWidget *widget : root->findChildren<QWidget *>()) {
            const bool textField = qobject_cast<QTextEdit *>(widget) || qobject_cast<QLineEdit *>(widget);
            const bool list = qobject_cast<QAbstractItemView *>(widget) != nullptr;
            if (widget == window.labelCanvas() || textField || list || widget->parentWidget() == nullptr)
                continue;
            // A list's own viewport and scroll bars go with it.
            if (qobject_cast<QAbstractItemView *>(widget->parentWidget())
                || qobject_cast<QAbstractItemView *>(widget->parentWidget()->parentWidget()))
                continue;
            if (widget->focusPolicy() & Qt::ClickFocus)
                takers << QStringLiteral("%1 %2 \"%3\"")
                              .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(),
                                   widget->property("text").toString());
        }
    }
    QVERIFY2(takers.isEmpty(), qPrintable(takers.join(QStringLiteral(", "))));
}

void TestWindowInUse::canvasKeysAfterClickingABarButton()
{
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));
    const QList<QPushButton *> buttons = canvasBarButtons(window);
    QCOMPARE(buttons.size(), 6);
    for (QPushButton *button : buttons) {
        drawBox(canvas, {20, 20}, {120, 120});
        drawBox(canvas, {200, 50}, {300, 150});
        QCOMPARE(labelsOf(window).size(), 2);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY2(!button->hasFocus(), qPrintable(button->text()));
        // Undo takes back the second box; Delete removes the selected first one.
        pressKey(window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(labelsOf(window).size(), 1);
        canvas->selectAnnotation(0);
        pressKey(window, Qt::Key_Delete);
        QVERIFY2(labelsOf(window).isEmpty(), qPrintable(button->text()));
        // Space is no second click of the button.
        const bool checked = button->isChecked();
        pressKey(window, Qt::Key_Space);
        QCOMPARE(button->isChecked(), checked);
    }
}

void TestWindowInUse::canvasKeysAfterClickingAList_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("deleteDoes");
    QTest::newRow("Label Classes") << "classes" << "deletes the selected annotation";
    QTest::newRow("Annotations") << "annotations" << "deletes the row's annotation";
    QTest::newRow("Files") << "files" << "asks to remove the file";
}

void TestWindowInUse::canvasKeysAfterClickingAList()
{
    QFETCH(QString, list);
    QFETCH(QString, deleteDoes);
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));
    drawBox(canvas, {20, 20}, {120, 120});
    drawBox(canvas, {200, 50}, {300, 150});
    drawBox(canvas, {20, 200}, {120, 280});

    QAbstractItemView *clicked = list == QLatin1String("classes") ? window.annotations()->classListWidget()
        : list == QLatin1String("annotations")                    ? window.annotations()->annotationListWidget()
                                                                  : window.imageList()->listView();
    clickRow(clicked, 0);
    QVERIFY(clicked->hasFocus());
    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).size(), 2);
    pressKey(window, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).size(), 3);
    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).size(), 2);

    canvas->selectAnnotation(1);
    if (list == QLatin1String("annotations"))
        clicked->setCurrentIndex(clicked->model()->index(0, 0));
    prompts.answers.enqueue(int(QMessageBox::No));
    pressKey(window, Qt::Key_Delete);
    if (deleteDoes == QLatin1String("asks to remove the file")) {
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(labelsOf(window).size(), 2);
        return;
    }
    QVERIFY(prompts.calls.isEmpty());
    QCOMPARE(labelsOf(window).size(), 1);
    const QRectF left = labelsOf(window).at(0).bbox;
    // The annotations list removes its current row (the first box), the window
    // the canvas's selection (the second).
    QCOMPARE(left.left() < 150, list == QLatin1String("classes"));
}

void TestWindowInUse::textFieldKeepsItsEditingKeys()
{
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));
    drawBox(canvas, {20, 20}, {120, 120});
    canvas->selectAnnotation(0);
    auto *notes = window.annotations()->findChild<QTextEdit *>();
    QVERIFY(notes);
    notes->setFocus();
    QTRY_VERIFY(notes->hasFocus());
    QTest::keyClicks(notes, QStringLiteral("abc"));
    QTest::keyClick(notes, Qt::Key_Left);
    QTest::keyClick(notes, Qt::Key_Delete);
    QCOMPARE(notes->toPlainText(), QStringLiteral("ab"));
    QCOMPARE(labelsOf(window).size(), 1);
    QTest::keyClick(notes, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(notes->toPlainText(), QStringLiteral("abc"));
    QCOMPARE(labelsOf(window).size(), 1);
    QTest::keyClick(notes, Qt::Key_Escape);
    QCOMPARE(canvas->selectedAnnotationIndex(), 0);
}

void TestWindowInUse::clickWithoutMoveIsNoEdit()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    ImageEntry *image = access.project().dataset.imageById(0);
    image->labels = {box({20, 20, 100, 100}), box({200, 50, 100, 100}), box({40, 180, 60, 60})};
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    QTRY_COMPARE(canvas->annotations().size(), 3);
    access.modified() = false;
    access.updateTitle();
    const QString title = window.windowTitle();
    canvas->setTool(int(Tool::Select));

    for (const int row : {1, 2, 0}) {
        clickAt(canvas, labelsOf(window).at(row).bbox.center());
        QCOMPARE(canvas->selectedAnnotationIndex(), row);
        QVERIFY(!window.isModified());
        QCOMPARE(window.annotations()->annotationListWidget()->currentRow(), row);
        QVERIFY(window.annotations()->annotationListWidget()->item(row)->isSelected());
    }
    QCOMPARE(canvas->undoStack()->count(), 0);
    QCOMPARE(window.windowTitle(), title);
    // Closing asks nothing: there is nothing to save.
    QVERIFY(window.close());
    QVERIFY(prompts.calls.isEmpty());
}

void TestWindowInUse::undecodablePictureTakesNoDrawing_data()
{
    QTest::addColumn<int>("tool");
    QTest::newRow("box") << int(Tool::BBox);
    QTest::newRow("polygon") << int(Tool::Polygon);
    QTest::newRow("keypoints") << int(Tool::Keypoint);
    QTest::newRow("select") << int(Tool::Select);
}

void TestWindowInUse::undecodablePictureTakesNoDrawing()
{
    // A picture whose file cannot be decoded shows no pixels, so nothing can be
    // drawn on it: no tool adds, selects or moves anything there, and the
    // status bar says why. The picture before it is as it was.
    QFETCH(int, tool);
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("pose")));
    MainWindowTestAccess access(window);
    const QString broken = dir.filePath(QStringLiteral("broken.png"));
    QVERIFY(writeFile(broken, "this is no picture"));
    access.project().dataset.addImage(imageEntry(broken, 400, 300, {box({10, 10, 50, 50})}));
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));
    drawBox(canvas, {20, 20}, {120, 120});
    QCOMPARE(labelsOf(window, 0).size(), 1);
    access.modified() = false;

    pressKey(window, Qt::Key_D);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);
    QVERIFY(!canvas->hasPicture());
    QVERIFY(statusText(window).startsWith(QStringLiteral("Cannot open broken.png")));
    // Nothing to zoom: the zoom buttons rest, and the bar keeps no zoom of the picture before.
    for (QPushButton *button : window.zoomButtonWidgets())
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
    QCOMPARE(window.zoomLabelWidget()->text(), QStringLiteral("100%"));
    canvas->setTool(tool);
    drawBox(canvas, {20, 20}, {120, 120});
    for (const QPointF &p : {QPointF(150, 150), QPointF(200, 150), QPointF(200, 200), QPointF(20, 20)})
        clickAt(canvas, p);
    clickAt(canvas, {30, 30}, Qt::RightButton);
    pressKey(window, Qt::Key_Return);
    QCOMPARE(labelsOf(window, 1).size(), 1);
    QCOMPARE(labelsOf(window, 1).at(0).bbox, QRectF(10, 10, 50, 50));
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QVERIFY(!canvas->isPlacing());
    QVERIFY(!window.isModified());
    QCOMPARE(statusText(window), QStringLiteral("broken.png cannot be shown: nothing can be drawn on it."));
    QCOMPARE(labelsOf(window, 0).size(), 1);
}

void TestWindowInUse::untypedProjectDrawsNothing_data()
{
    QTest::addColumn<int>("tool");
    QTest::newRow("box") << int(Tool::BBox);
    QTest::newRow("polygon") << int(Tool::Polygon);
    QTest::newRow("keypoints") << int(Tool::Keypoint);
}

void TestWindowInUse::untypedProjectDrawsNothing()
{
    // A project without a type (an old file, an import whose type was not
    // found) has classes, yet the side bar holds every tool back: the canvas
    // draws nothing either, and says what to do, as the class gate does.
    // Once the project has a type, the same press draws.
    QFETCH(int, tool);
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QString()));
    MainWindowTestAccess access(window);
    LabelCanvas *canvas = window.labelCanvas();
    for (QAbstractButton *button : window.findChild<SideToolBar *>()->findChildren<QAbstractButton *>())
        QVERIFY(!button->isEnabled());
    canvas->setTool(tool);
    prompts.answers.enqueue(int(QMessageBox::Ok));
    drawBox(canvas, {20, 20}, {120, 120});
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Select Project Type"));
    QVERIFY(!canvas->isPlacing());
    QVERIFY(canvas->annotations().isEmpty());
    QVERIFY(labelsOf(window, 0).isEmpty());

    access.project().projectType = QStringLiteral("object_detection");
    access.updateTitle();
    canvas->setTool(int(Tool::BBox));
    drawBox(canvas, {20, 20}, {120, 120});
    QCOMPARE(labelsOf(window, 0).size(), 1);
    QCOMPARE(prompts.calls.size(), 1);
}

void TestWindowInUse::unfinishedShapeDroppedIsSaid_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<QString>("said");
    QTest::newRow("polygon") << int(Tool::Polygon) << "Unfinished polygon dropped (2 point(s) placed).";
    QTest::newRow("keypoints") << int(Tool::Keypoint) << "Unfinished keypoint set dropped (2 point(s) placed).";
}

void TestWindowInUse::unfinishedShapeDroppedIsSaid()
{
    // A shape being placed belongs to its picture: showing another one drops
    // it, and the status bar says so. Escape drops it as the user asked, silently.
    QFETCH(int, tool);
    QFETCH(QString, said);
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("pose"), 2));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(tool);
    clickAt(canvas, {50, 50});
    clickAt(canvas, {150, 60});
    QVERIFY(canvas->isPlacing());
    pressKey(window, Qt::Key_D);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);
    QVERIFY(!canvas->isPlacing());
    QCOMPARE(statusText(window), said);
    QVERIFY(labelsOf(window, 0).isEmpty());

    window.statusBar()->clearMessage();
    clickAt(canvas, {50, 50});
    clickAt(canvas, {150, 60});
    pressKey(window, Qt::Key_Escape);
    QVERIFY(!canvas->isPlacing());
    QVERIFY(statusText(window).isEmpty());
}

void TestWindowInUse::clickSegmentationReachableWithItsOwnModel_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("configured");   // stored under the tool's own key
    QTest::addColumn<QStringList>("folder");   // files of the models folder
    QTest::addColumn<QString>("said");         // status text, or the warning's first line
    QTest::addColumn<QString>("page");         // the page the dialog opens on; empty: it does not
    const QString gone = QStringLiteral("gone/seg.onnx");
    const QStringList prompt = {QStringLiteral("segmentation/mobile_sam.onnx")};
    const QString clickOpen = QStringLiteral(" Click Segmentation is open.");
    const QString listedText = QStringLiteral(" The models folder's models are listed.");
    QTest::newRow("only a point-prompt model")
        << "segmentation" << "" << prompt << "No segmentation model is configured." + clickOpen << "click";
    QTest::newRow("semantic, only a point-prompt model")
        << "semantic_segmentation" << "" << prompt << "No segmentation model is configured." + clickOpen << "click";
    QTest::newRow("only a concept model")
        << "segmentation" << ""
        << QStringList{"segmentation/sam3_vision_encoder.onnx", "segmentation/sam3_decoder.onnx",
                       "segmentation/sam3_tokenizer.json"}
        << "No segmentation model is configured." + clickOpen << "click";
    QTest::newRow("configured file gone, a point-prompt model")
        << "segmentation" << gone << prompt << "The segmentation model was not found: %1" + clickOpen << "click";
    QTest::newRow("a segmentation model in the folder")
        << "segmentation" << "" << QStringList{"segmentation/yolov8n-seg.onnx", "segmentation/mobile_sam.onnx"}
        << "No segmentation model is configured." + listedText << "auto";
    QTest::newRow("detection, a model in the folder")
        << "object_detection" << gone << QStringList{"detection/yolov8n.onnx"}
        << "The detection model was not found: %1" + listedText << "auto";
    QTest::newRow("configured file gone, nothing else")
        << "segmentation" << gone << QStringList() << "The segmentation model was not found: %1" << "";
    QTest::newRow("nothing at all") << "segmentation" << "" << QStringList() << "No segmentation model is configured."
                                    << "";
    QTest::newRow("detection, only a point-prompt model")
        << "object_detection" << gone << prompt << "The detection model was not found: %1" << "";
}

void TestWindowInUse::clickSegmentationReachableWithItsOwnModel()
{
    // The AI tool of a detection or segmentation project opens its dialog when
    // any page of it has a model: from Settings, from the models folder, or,
    // in a segmentation project, a click or concept segmentation model, on
    // whose page it then opens. A configured model file that is gone is named
    // as not found, not as never configured.
    QFETCH(QString, type);
    QFETCH(QString, configured);
    QFETCH(QStringList, folder);
    QFETCH(QString, said);
    QFETCH(QString, page);
    QTemporaryDir models;
    QSettings product(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    product.setValue(QStringLiteral("modelsDir"), models.path());
    const QString key = type == QLatin1String("object_detection") ? QStringLiteral("models/detection")
                                                                   : QStringLiteral("models/segmentation");
    for (const char *name : {"models/detection", "models/segmentation", "models/sam"})
        QSettings().remove(QLatin1String(name));
    const QString configuredPath = configured.isEmpty() ? QString() : models.filePath(configured);
    if (!configuredPath.isEmpty())
        QSettings().setValue(key, configuredPath);
    for (const QString &file : folder) {
        QVERIFY(QDir().mkpath(QFileInfo(models.filePath(file)).absolutePath()));
        QVERIFY(writeFile(models.filePath(file), "no model"));
    }
    const auto cleanUp = qScopeGuard([] {
        QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")).remove(QStringLiteral("modelsDir"));
        for (const char *name : {"models/detection", "models/segmentation", "models/sam"})
            QSettings().remove(QLatin1String(name));
    });

    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, type));
    window.onAiToolSelected();
    const QString text = said.contains(QLatin1String("%1")) ? said.arg(QDir::toNativeSeparators(configuredPath)) : said;
    AiAutoLabelDialog *dialog = window.autoLabelDialog();
    QCOMPARE(dialog->isVisible(), !page.isEmpty());
    if (!page.isEmpty()) {
        QVERIFY(prompts.calls.isEmpty());
        auto *tabs = dialog->findChild<QTabWidget *>();
        QWidget *click = window.segmentationDialog();
        QCOMPARE(tabs->currentWidget() == click, page == QLatin1String("click"));
        QCOMPARE(click->isVisible(), page == QLatin1String("click"));
        // The model list shows, so that a model of the folder can be chosen.
        QVERIFY(!dialog->isSimpleMode());
        QCOMPARE(statusText(window), text);
    } else {
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Model Not Found"));
        QCOMPARE(prompts.calls.at(0).text.section(QLatin1Char('\n'), 0, 0), text);
    }
    QCOMPARE(window.sideToolBarWidget()->tool(), int(Tool::Select));
    // A model still opening goes with the window.
    QTRY_VERIFY(!window.isModelLoading());
}

void TestWindowInUse::deleteDuringADragIsAStepOfItsOwn()
{
    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection")));
    LabelCanvas *canvas = window.labelCanvas();
    canvas->setTool(int(Tool::BBox));
    drawBox(canvas, {20, 20}, {120, 120});
    const QRectF start = labelsOf(window).at(0).bbox;
    canvas->setTool(int(Tool::Select));

    const QPointF from = canvas->toScreen({70, 70});
    const QPointF to = canvas->toScreen({170, 120});
    sendMouse(canvas, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, canvas->mapToGlobal(from));
    sendMouse(canvas, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, canvas->mapToGlobal(to));
    sendMouse(canvas, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, canvas->mapToGlobal(to));
    const QRectF moved = canvas->annotations().at(0).bbox;
    QVERIFY(moved != start);
    pressKey(window, Qt::Key_Delete);
    sendMouse(canvas, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, canvas->mapToGlobal(to));
    QVERIFY(labelsOf(window).isEmpty());

    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).size(), 1);
    QCOMPARE(labelsOf(window).at(0).bbox, moved);
    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).at(0).bbox, start);
}

void TestWindowInUse::noProjectStateIsOneState()
{
    // A window that never had a project and one whose project was closed look
    // and act the same: nothing can be added, the canvas bar names nothing.
    const auto state = [](MainWindow &window) {
        const auto onOff = [](const QWidget *w, const char *name) {
            return QLatin1String(name) + (w->isEnabled() ? QStringLiteral(" on") : QStringLiteral(" off"));
        };
        return QStringList{
            onOff(window.toolBarWidget()->button(ToolBar::ImportImages), "import"),
            onOff(window.imageList()->addButton(), "files +"),
            onOff(window.annotations()->addButton(), "class +"),
            QStringLiteral("name ") + window.mediaNameLabelWidget()->text(),
            QStringLiteral("position ") + window.positionLabelWidget()->text(),
            QStringLiteral("zoom ") + window.zoomLabelWidget()->text(),
            QString::number(window.annotations()->classListWidget()->count()) + QStringLiteral(" classes"),
            onOff(window.zoomButtonWidgets().constFirst(), "zoom buttons"),
        };
    };
    // No button of the canvas bar's zoom is there to press without a picture,
    // and neither the keys nor the wheel give the empty canvas a zoom.
    const auto zoomAtEveryInput = [](MainWindow &window) {
        for (QPushButton *button : window.zoomButtonWidgets()) {
            if (button->isEnabled())
                return button->text() + QStringLiteral(" enabled");
            button->click();
        }
        LabelCanvas *canvas = window.labelCanvas();
        canvas->zoomIn();
        canvas->zoomOut();
        const QPointF middle(canvas->width() / 2.0, canvas->height() / 2.0);
        QWheelEvent wheel(middle, canvas->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &wheel);
        return QStringLiteral("zoom ") + window.zoomLabelWidget()->text();
    };
    MainWindow fresh;
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    const QStringList none{"import off", "files + off", "class + off", "name ", "position ", "zoom 100%",
                           "0 classes", "zoom buttons off"};
    QCOMPARE(state(fresh), none);
    QCOMPARE(zoomAtEveryInput(fresh), QStringLiteral("zoom 100%"));
    // The Files "+" cannot start a project behind the user's back.
    emit fresh.imageList()->addImagesRequested();
    QVERIFY(prompts.calls.isEmpty());
    QVERIFY(!fresh.isModified());

    MainWindow window;
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("object_detection"), 3));
    window.labelCanvas()->zoomIn();
    QCOMPARE(state(window).mid(0, 3), (QStringList{"import on", "files + on", "class + on"}));
    for (QPushButton *button : window.zoomButtonWidgets())
        QVERIFY2(button->isEnabled(), qPrintable(button->text()));
    QVERIFY(!window.mediaNameLabelWidget()->text().isEmpty());
    QVERIFY(window.zoomLabelWidget()->text() != QStringLiteral("100%"));
    window.toolBarWidget()->button(ToolBar::CloseProject)->click();
    QCOMPARE(state(window), none);
    QCOMPARE(zoomAtEveryInput(window), QStringLiteral("zoom 100%"));
    QVERIFY(!window.labelCanvas()->displayedEntryId());
}

void TestWindowInUse::classificationRelabelIsOneUndoStep()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    QTemporaryDir dir;
    QVERIFY(showProject(window, dir, QStringLiteral("classification")));
    access.project().dataset.addClass(QStringLiteral("dog"), QColor());
    // A 50-vertex outline drawn before the project became a classification one.
    Annotation outline;
    outline.className = QStringLiteral("cat");
    outline.kind = Polygon;
    for (int i = 0; i < 50; ++i)
        outline.points << QPointF(200 + 80 * std::cos(i * 0.1256), 150 + 80 * std::sin(i * 0.1256));
    outline.bbox = QPolygonF(outline.points).boundingRect();
    access.project().dataset.imageById(0)->labels = {outline};
    access.refreshUi();
    QTRY_COMPARE(window.labelCanvas()->annotations().size(), 1);
    access.modified() = false;

    QListWidget *classes = window.annotations()->classListWidget();
    const auto rowOf = [classes](const QString &name) {
        return classes->row(classes->findItems(name, Qt::MatchExactly).value(0));
    };
    clickRow(classes, rowOf(QStringLiteral("dog")));
    QCOMPARE(labelsOf(window).size(), 2);
    QCOMPARE(labelsOf(window).at(0).className, QStringLiteral("dog"));
    QCOMPARE(labelsOf(window).at(0).bbox, QRectF(0, 0, 400, 300));
    QCOMPARE(labelsOf(window).at(1), outline);
    QVERIFY(window.isModified());
    QVERIFY(window.undoMenuAction()->isEnabled());
    QCOMPARE(window.labelCanvas()->undoStack()->count(), 1);

    // The same class again is no step; another class replaces the tag only.
    clickRow(classes, rowOf(QStringLiteral("dog")));
    QCOMPARE(window.labelCanvas()->undoStack()->count(), 1);
    clickRow(classes, rowOf(QStringLiteral("cat")));
    QCOMPARE(labelsOf(window).size(), 2);
    QCOMPARE(labelsOf(window).at(0).className, QStringLiteral("cat"));
    QCOMPARE(labelsOf(window).at(1), outline);

    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window).at(0).className, QStringLiteral("dog"));
    pressKey(window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(labelsOf(window), QList<Annotation>{outline});
    QVERIFY(prompts.calls.isEmpty());
}

void TestWindowInUse::typeChangeBringsTheKeypointsOfTheType_data()
{
    QTest::addColumn<QStringList>("namesBefore");
    QTest::addColumn<QString>("newType");
    QTest::addColumn<QStringList>("namesAfter");
    const QStringList body = coco17KeypointNames();
    const QStringList hand = hand21KeypointNames();
    const QStringList face = face5KeypointNames();
    QTest::newRow("pose to face") << body << "face" << face;
    QTest::newRow("hand pose to face") << hand << "face" << face;
    QTest::newRow("face to pose") << face << "pose" << body;
    QTest::newRow("detection to pose") << QStringList() << "pose" << body;
    QTest::newRow("hand pose keeps its hand") << hand << "pose" << hand;
    QTest::newRow("pose to detection keeps the schema") << body << "object_detection" << body;
}

void TestWindowInUse::typeChangeBringsTheKeypointsOfTheType()
{
    QFETCH(QStringList, namesBefore);
    QFETCH(QString, newType);
    QFETCH(QStringList, namesAfter);
    MainWindow window;
    MainWindowTestAccess access(window);
    KeypointSchema schema;
    schema.objectClass = QStringLiteral("person");
    schema.keypointNames = namesBefore;
    if (!namesBefore.isEmpty())
        access.project().dataset.setKeypointSchema(schema);
    access.refreshUi();
    access.project().projectType = newType;
    access.applyKeypointTemplateOf(newType);
    QCOMPARE(access.project().dataset.keypointSchema.keypointNames, namesAfter);
    // The canvas places the new type's points.
    QCOMPARE(window.labelCanvas()->placedKeypointSchema().keypointNames, namesAfter);
    if (newType == QLatin1String("face"))
        QVERIFY(access.project().dataset.classColors.contains(QStringLiteral("face")));
}

void TestWindowInUse::settingsLoadAModelOnlyForANewPath()
{
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("other.onnx"));
    QVERIFY(writeFile(model, "not a model"));
    QSettings().setValue(QStringLiteral("models/detection"), dir.filePath(QStringLiteral("gone.onnx")));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy loads(window.autoLabelDialog(), &AiAutoLabelDialog::modelSelected);

    const auto runSettings = [&](const std::function<void(SettingsDialog *)> &edit) {
        onNextModal([edit](QWidget *modal) {
            auto *settings = qobject_cast<SettingsDialog *>(modal);
            if (!settings)
                return;
            edit(settings);
            settings->onAccept();
        });
        window.toolBarWidget()->button(ToolBar::Settings)->click();
    };
    bool markedMissing = false;
    // Only the theme changes: nothing loads, not even the missing file.
    runSettings([&](SettingsDialog *settings) {
        markedMissing = settings->isModelMissing(QStringLiteral("models/detection"))
            && settings->missingMark(QStringLiteral("models/detection"))->isVisible();
        settings->themeBox()->setCurrentIndex(settings->themeBox()->findData(int(Theme::Dark)));
    });
    QVERIFY(markedMissing);
    QCOMPARE(window.currentTheme(), Theme::Dark);
    QCOMPARE(loads.count(), 0);

    // A new path to a file that is there loads it, once.
    runSettings([&](SettingsDialog *settings) {
        settings->modelEdit(QStringLiteral("models/detection"))->setText(model);
        markedMissing = settings->missingMark(QStringLiteral("models/detection"))->isVisible();
    });
    QVERIFY(!markedMissing);
    QCOMPARE(loads.count(), 1);
    QCOMPARE(loads.at(0).at(0).toString(), model);
    runSettings([](SettingsDialog *) {});
    QCOMPARE(loads.count(), 1);
    QSettings().remove(QStringLiteral("models/detection"));
    QSettings().remove(QStringLiteral("ui/theme"));
}

QM_TEST_MAIN(TestWindowInUse)
#include "tst_windowinuse.moc"
