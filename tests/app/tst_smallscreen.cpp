// The main window on a 1280 x 720 screen, smaller than its usual size: it is
// frameless, so whatever lies beyond the screen's edge (its own buttons
// included) could not be reached at all. Its lists and the video scrubber keep
// a useful size there, and every dialog and hint it opens stays on the screen.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/PosePerson.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "canvas/Tool.h"
#include "chrome/HintBubble.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "dialogs/ShortcutsDialog.h"
#include "panels/AnnotationPanel.h"
#include "panels/VideoScrubber.h"

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

using namespace Quillmark;
using namespace AppTest;

namespace {

// Room a desktop's title bar takes above a dialog; the offscreen screen draws
// none, so a dialog must leave it.
constexpr int titleBarAllowance = 32;

QRect availableArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Why the window is not wholly on the screen (with a title bar above it), or
// an empty text when it is.
QString offScreen(const QWidget *w)
{
    const QRect available = availableArea();
    const QRect frame = w->frameGeometry();
    const bool titled = !(w->windowFlags() & Qt::FramelessWindowHint) && w->windowType() != Qt::ToolTip;
    const int knownTop = w->geometry().top() - frame.top();
    const QRect needed = titled ? frame.adjusted(0, -std::max(0, titleBarAllowance - knownTop), 0, 0) : frame;
    if (available.contains(needed))
        return {};
    return QStringLiteral("%1 \"%2\" at %3,%4 %5x%6")
        .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle())
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
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

// A shown project of `type` with a picture holding `boxes` boxes.
bool showCrowdedProject(MainWindow &window, const QTemporaryDir &dir, const QString &type, int boxes)
{
    MainWindowTestAccess access(window);
    QList<Annotation> labels;
    for (int i = 0; i < boxes; ++i)
        labels.append(box(QRectF(10 + 30 * i, 10, 20, 20)));
    access.project().dataset.addImage(
        imageEntry(writeImage(QDir(dir.path()), QStringLiteral("crowded.png"), 400, 300, Qt::gray), 400, 300, labels));
    return showProject(window, dir, type);
}

} // namespace

class TestSmallScreen : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowFitsTheScreen();
    void listsAndScrubberKeepAUsefulSize_data();
    void listsAndScrubberKeepAUsefulSize();
    void everyDialogOpensOnTheScreen();
    void gateHintsStayOnTheScreen();

private:
    QmTest::ScriptedPrompts prompts;
};

void TestSmallScreen::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
}

void TestSmallScreen::cleanup()
{
    Prompts::setOverride(nullptr);
    for (HintBubble *bubble : openBubbles())
        delete bubble;
}

void TestSmallScreen::windowFitsTheScreen()
{
    const QRect available = availableArea();
    QCOMPARE(available.size(), QSize(1280, 720));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(available.contains(window.frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(window.x())
                            .arg(window.y())
                            .arg(window.width())
                            .arg(window.height())));
    QVERIFY(window.minimumWidth() <= available.width());
    QVERIFY(window.minimumHeight() <= available.height());
    // The parts a user must reach: the close button, the right panel, the
    // status bar.
    for (QWidget *part : {static_cast<QWidget *>(window.topBarWidget()->closeButton()),
                          static_cast<QWidget *>(window.annotations()), static_cast<QWidget *>(window.statusBar())}) {
        QVERIFY(part->isVisible());
        const QRect onScreen(part->mapToGlobal(QPoint(0, 0)), part->size());
        QVERIFY2(available.contains(onScreen), part->metaObject()->className());
    }
}

void TestSmallScreen::listsAndScrubberKeepAUsefulSize_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << int(Theme::Light);
    QTest::newRow("dark") << int(Theme::Dark);
}

void TestSmallScreen::listsAndScrubberKeepAUsefulSize()
{
    // Six annotations listed whole; in video mode a scrubber one can aim at,
    // and the name of a phone video with its frame beside the controls.
    QFETCH(int, mode);
    QTemporaryDir dir;
    MainWindow window;
    window.applyTheme(Theme::Mode(mode));
    QVERIFY(showCrowdedProject(window, dir, QStringLiteral("object_detection"), 9));
    MainWindowTestAccess access(window);
    QListWidget *annotations = window.annotations()->annotationListWidget();
    QCOMPARE(annotations->count(), 9);
    const int rowHeight = annotations->visualItemRect(annotations->item(0)).height();
    QVERIFY(rowHeight >= annotations->fontMetrics().height());
    QVERIFY2(annotations->viewport()->height() >= 6 * rowHeight,
             qPrintable(QStringLiteral("%1 px for rows of %2 px").arg(annotations->viewport()->height()).arg(rowHeight)));
    QListWidget *classes = window.annotations()->classListWidget();
    QVERIFY(classes->viewport()->height() >= 3 * classes->visualItemRect(classes->item(0)).height());

    VideoEntry video;
    video.filePath = dir.filePath(QStringLiteral("VID_20240611_153012.mp4"));
    video.width = 1920;
    video.height = 1080;
    video.frameCount = 1800;
    access.project().dataset.addVideo(video);
    const int videoId = access.project().dataset.videos.constLast().id;
    QImage frame(192, 108, QImage::Format_RGB32);
    frame.fill(Qt::darkGray);
    access.showVideoFrame(videoId, 1199, frame);
    const QString shownName = QStringLiteral("VID_20240611_153012.mp4  [frame 1200/1800]");
    window.mediaNameLabelWidget()->setText(shownName);
    window.positionLabelWidget()->setText(QStringLiteral("Frame 1200 / 1800"));
    QCoreApplication::processEvents();
    VideoScrubber *scrubber = window.videoScrubberWidget();
    QVERIFY(scrubber->isVisible());
    QVERIFY2(scrubber->width() >= 300, qPrintable(QString::number(scrubber->width())));
    QLabel *name = window.mediaNameLabelWidget();
    QVERIFY2(name->contentsRect().width() >= name->fontMetrics().horizontalAdvance(shownName),
             qPrintable(QStringLiteral("%1 px for %2 px")
                            .arg(name->contentsRect().width())
                            .arg(name->fontMetrics().horizontalAdvance(shownName))));
    // The row of controls still shows every button whole; the frame counter
    // stands whole right of the scrubber.
    for (QPushButton *button : window.findChild<QWidget *>(QStringLiteral("canvasTopBar"))->findChildren<QPushButton *>())
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
    QLabel *position = window.positionLabelWidget();
    QVERIFY(position->isVisible());
    QCOMPARE(position->parentWidget(), scrubber->parentWidget());
    QVERIFY(position->geometry().left() > scrubber->geometry().right());
    QVERIFY(position->width() >= position->fontMetrics().horizontalAdvance(position->text()));

    // Out of video mode the row goes, and the counter is back beside the name.
    access.setVideoMode(false);
    QCoreApplication::processEvents();
    QVERIFY(!scrubber->isVisible());
    QVERIFY(!window.findChild<QWidget *>(QStringLiteral("scrubberBar"))->isVisible());
    QVERIFY(position->isVisible());
    QCOMPARE(position->parentWidget(), window.findChild<QWidget *>(QStringLiteral("canvasTopBar")));
    QVERIFY(name->geometry().right() < position->geometry().left());
}

void TestSmallScreen::everyDialogOpensOnTheScreen()
{
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QStringLiteral("pose")));
    MainWindowTestAccess access(window);
    QStringList outside;
    const auto check = [&outside](QWidget *w) {
        QVERIFY(w);
        const QString why = offScreen(w);
        if (!why.isEmpty())
            outside << why;
    };
    // A modal dialog: looked at from inside its exec, then closed. Some open
    // only after work on a worker: the look waits for the dialog.
    QStringList unseen;
    const auto checkModal = [&check, &unseen](const QString &what, const std::function<void()> &open) {
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            poll.stop();
            seen = true;
            check(modal);
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        });
        poll.start();
        open();
        if (!QTest::qWaitFor([&] { return seen; }, QmTest::patienceMs))
            unseen << what;
    };
    // A tool window: shown, looked at, hidden again.
    const auto checkTool = [&check](QWidget *tool, const std::function<void()> &open) {
        open();
        QTRY_VERIFY(tool->isVisible());
        // What it shows once open (the model's line) has been laid out.
        QTest::qWait(50);
        check(tool);
        tool->hide();
    };

    checkModal("about", [&] { emit window.topBarWidget()->aboutRequested(); });
    checkModal("settings", [&] { emit window.toolBarWidget()->settingsClicked(); });
    checkModal("project type", [&] { emit window.topBarWidget()->projectTypeChangeRequested(); });
    checkModal("export", [&] { window.onExportDataset(); });
    checkModal("wizard", [&] { window.onNewProject(); });
    prompts.answers << dir.path();
    checkModal("import format", [&] { window.onImportDataset(); });
    emit window.toolBarWidget()->helpClicked();
    check(window.shortcutsDialogWidget());
    window.shortcutsDialogWidget()->hide();

    // The pose window at its fullest: a run over the pictures under way, with
    // two persons of seventeen keypoints found.
    auto *pose = window.findChild<PoseAnnotationDialog *>();
    checkTool(pose, [&] {
        emit window.sideToolBarWidget()->toolChanged(Tool::Pose);
        PosePerson person;
        person.score = 0.9f;
        person.keypoints = QList<PoseKeypoint>(17, PoseKeypoint{10, 10, 0.9f, 2});
        pose->setPersons({person, person});
        pose->setProgress(3, 10);
    });
    checkTool(window.findChild<FaceAnnotationDialog *>(),
              [&] { emit window.sideToolBarWidget()->toolChanged(Tool::Face); });
    checkTool(window.conceptDialog(), [&] { window.conceptDialog()->show(); });

    // Drawing with no class defined asks for one in a dialog of its own.
    access.project().dataset.classColors.clear();
    access.refreshUi();
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);
    checkModal("define a class", [&] { clickAt(window.labelCanvas(), QPointF(50, 50)); });
    QVERIFY2(unseen.isEmpty(), qPrintable(unseen.join(QStringLiteral(", "))));
    QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral("; "))));
}

void TestSmallScreen::gateHintsStayOnTheScreen()
{
    // Drawing before the project is saved, then before it has a type: the
    // hint bubbles under the save button and the type badge stay on the
    // screen, their arrows pointing at what they name.
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(showProject(window, dir, QString()));
    MainWindowTestAccess access(window);
    access.project().dataset.classColors.clear();
    access.projectPath().clear();
    access.refreshUi();
    access.updateTitle();
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), 0);
    const QRect available = availableArea();

    clickAt(window.labelCanvas(), QPointF(50, 50));
    QCOMPARE(prompts.calls.last().title, QStringLiteral("Save Project First"));
    QWidget *save = window.toolBarWidget()->button(ToolBar::SaveProject);
    QList<HintBubble *> bubbles = openBubbles();
    QVERIFY(!bubbles.isEmpty());
    for (HintBubble *bubble : bubbles) {
        QVERIFY2(available.contains(bubble->frameGeometry()), qPrintable(QString::number(bubble->x())));
        QCOMPARE(bubble->x() + bubble->arrowTipX(), save->mapToGlobal(QPoint(save->width() / 2, 0)).x());
        delete bubble;
    }

    access.projectPath() = dir.filePath(QStringLiteral("p.qmk"));
    access.updateTitle();
    clickAt(window.labelCanvas(), QPointF(50, 50));
    QCOMPARE(prompts.calls.last().title, QStringLiteral("Select Project Type"));
    QWidget *badge = window.topBarWidget()->typeBadge();
    bubbles = openBubbles();
    QVERIFY(!bubbles.isEmpty());
    for (HintBubble *bubble : bubbles) {
        QVERIFY2(available.contains(bubble->frameGeometry()), qPrintable(QString::number(bubble->x())));
        QCOMPARE(bubble->x() + bubble->arrowTipX(), badge->mapToGlobal(QPoint(badge->width() / 2, 0)).x());
    }
}

int main(int argc, char *argv[])
{
    QmTest::prepareEnvironment(QSize(1280, 720));
    QApplication app(argc, argv);
    TestSmallScreen test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_smallscreen.moc"
