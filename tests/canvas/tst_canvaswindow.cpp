// The canvas inside the main window: the tool bar's undo while a shape is being
// placed, and edits of a frame of video 0 (whose entry id, ~0, is -1) reaching
// the project.

#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "MainWindowTestAccess.h"

#include "chrome/ToolBar.h"

#include <QPushButton>
#include <QUndoStack>

#include <cmath>

using namespace Quillmark;
using namespace CanvasTest;

namespace {

struct Window {
    MainWindow window;
    MainWindowTestAccess access{window};

    Window()
    {
        ImageEntry entry = entryWith(-1);
        access.project().dataset.addImage(entry);
        access.project().dataset.addClass(QStringLiteral("object"), QColor());
        access.project().projectType = QStringLiteral("segmentation");
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("window not exposed");
        access.refreshUi();
    }

    LabelCanvas *canvas() const { return window.labelCanvas(); }
    QPoint at(const QPointF &image) const { return canvas()->toScreen(image).toPoint(); }
};

} // namespace

class TestCanvasWindow : public QObject {
    Q_OBJECT
private slots:
    void toolBarUndoTakesBackPlacedPoints();
    void editsOfVideoZeroReachItsFrame();
};

void TestCanvasWindow::toolBarUndoTakesBackPlacedPoints()
{
    Window w;
    LabelCanvas *canvas = w.canvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    QPushButton *undo = w.window.toolBarWidget()->button(ToolBar::Undo);
    // Nothing to undo yet.
    QVERIFY(undo && !undo->isEnabled());

    // A finished triangle, then a second polygon under way.
    canvas->setTool(int(Tool::Polygon));
    for (const QPointF &p : {QPointF(50, 50), QPointF(150, 50), QPointF(100, 120)})
        click(canvas, w.at(p));
    QTest::keyClick(canvas, Qt::Key_Return);
    for (const QPointF &p : {QPointF(300, 300), QPointF(400, 300), QPointF(400, 400)})
        click(canvas, w.at(p));
    QVERIFY(undo->isEnabled());

    undo->click(); // the point at (400, 400) goes, nothing else
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(w.access.project().dataset.images.at(0).labels.size(), 1);
    click(canvas, w.at(QPointF(300, 400)));
    QTest::keyClick(canvas, Qt::Key_Return);
    const QList<Annotation> labels = w.access.project().dataset.images.at(0).labels;
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels.at(1).points.size(), 3);
    // (300, 300), (400, 300), (300, 400): the withdrawn (400, 400) is not there.
    QVERIFY(std::abs(labels.at(1).points.at(2).x() - labels.at(1).points.at(0).x()) < 1);

    // Once nothing is under way, the button undoes steps again.
    undo->click();
    QCOMPARE(w.access.project().dataset.images.at(0).labels.size(), 1);
}

void TestCanvasWindow::editsOfVideoZeroReachItsFrame()
{
    Window w;
    LabelCanvas *canvas = w.canvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    VideoEntry video;
    video.filePath = QStringLiteral("clip.mp4");
    video.width = 320;
    video.height = 240;
    video.frameCount = 10;
    w.access.project().dataset.addVideo(video);
    QCOMPARE(w.access.project().dataset.videos.at(0).id, 0);

    w.access.showVideoFrame(0, 3, solidImage(320, 240));
    QCOMPARE(canvas->displayedEntryId(), ~0);
    canvas->setTool(int(Tool::BBox));
    drag(canvas, canvas->toScreen(QPointF(20, 20)), canvas->toScreen(QPointF(120, 90)));
    const VideoEntry &stored = w.access.project().dataset.videos.at(0);
    QCOMPARE(stored.frameLabels.value(3).size(), 1);
    QCOMPARE(stored.frameLabels.value(3).at(0).bbox, QRectF(20, 20, 100, 70));
    QVERIFY(w.access.project().dataset.images.at(0).labels.isEmpty());
}

QM_TEST_MAIN(TestCanvasWindow)
#include "tst_canvaswindow.moc"
