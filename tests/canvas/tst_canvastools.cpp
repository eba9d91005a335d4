#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "SignalLog.h"

#include "canvas/KeypointTray.h"

#include <QSignalSpy>
#include <QUndoStack>

using namespace Quillmark;
using namespace CanvasTest;

namespace {

// Index 0: box A; 1: quadrilateral B; 2: keypoint set C; 3: polyline D (never
// hit); 4: box E lying over part of A.
QList<Annotation> hitFixture()
{
    Annotation line;
    line.kind = Polyline;
    line.className = QStringLiteral("object");
    line.points = {QPointF(700, 400), QPointF(750, 500)};
    line.bbox = QRectF(700, 400, 50, 100);
    return {
        box(QRectF(100, 100, 200, 150)),
        polygon({QPointF(440, 140), QPointF(600, 120), QPointF(620, 260), QPointF(460, 300)}),
        keypoints({QPointF(150, 400), QPointF(200, 420), QPointF(250, 450)}, {2, 2, 2}),
        line,
        box(QRectF(200, 200, 150, 80)),
    };
}

// Receives the keys that the canvas passes on.
class KeyCatcher : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Modifier keys pressed on their own (while typing a shortcut) are not of interest.
        const int key = event->key();
        if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta)
            keys << key;
    }
};

} // namespace

class TestCanvasTools : public QObject {
    Q_OBJECT
private slots:
    void pressTargets_data();
    void pressTargets();
    void classGateStopsDrawingWithoutClasses();

    void boxDrawKeepsOnlyBoxesOfFivePixels();
    void boxDrawSignalOrder();
    void moveShiftsTheShape();
    void resizeMovesTheHandleEdges_data();
    void resizeMovesTheHandleEdges();
    void resizeOfAPolygonScalesIt();

    void polygonClosesNearTheFirstPoint();
    void polygonClosesBesideThePictureAtItsFirstPoint();
    void polygonFinishesByRightClickDoubleClickAndReturn();
    void edgeInsertAndDragAreOneStep();
    void vertexClickKeepsSelectionDragClearsIt();
    void deleteVertexOrWholePolygon();

    void keypointSetFinishesAtTheSchemaCount_data();
    void keypointSetFinishesAtTheSchemaCount();
    void keypointSetWithoutSchemaFinishesOnDemand();
    void deleteKeypointMarksItUnlabelled();

    void escapeEndsADragAsARelease_data();
    void escapeEndsADragAsARelease();
    void escapeDropsPlacedPoints();
    void deleteAnnotationKeepsSelectionInStep();
    void leftReleasedDuringPanStillRecordsTheMove();
    void toolChangeDuringADragRecordsIt();
    void pressAfterALostReleaseRecordsTheDrag();
    void keysTheCanvasDoesNotUseReachTheWindow();
    void hoverReportsKeypointsAndShowsCursors();
};

void TestCanvasTools::pressTargets_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("vertex");
    QTest::addColumn<int>("polygonPoints");

    const int S = int(Tool::Select), B = int(Tool::BBox), P = int(Tool::Polygon), K = int(Tool::Keypoint);
    using M = LabelCanvas;
    // clang-format off
    QTest::newRow("select: empty space")           << S << -1 << QPointF(50, 550)  << int(M::Idle)           << -1 << -1 << 4;
    QTest::newRow("select: a box")                 << S << -1 << QPointF(120, 120) << int(M::Move)           << 0  << -1 << 4;
    QTest::newRow("select: topmost of two")        << S << -1 << QPointF(250, 220) << int(M::Move)           << 4  << -1 << 4;
    QTest::newRow("select: polyline is never hit") << S << -1 << QPointF(725, 450) << int(M::Idle)           << -1 << -1 << 4;
    QTest::newRow("select: handle beats topmost")  << S << 0  << QPointF(300, 250) << int(M::Resize)         << 0  << -1 << 4;
    QTest::newRow("select: polygon vertex")        << S << 1  << QPointF(602, 122) << int(M::MoveVertex)     << 1  << 1  << 4;
    QTest::newRow("select: polygon edge inserts")  << S << 1  << QPointF(540, 280) << int(M::MoveVertex)     << 1  << 3  << 5;
    QTest::newRow("select: polygon box handle")    << S << 1  << QPointF(440, 120) << int(M::Resize)         << 1  << -1 << 4;
    QTest::newRow("select: keypoint of set")       << S << 2  << QPointF(200, 420) << int(M::MoveVertex)     << 2  << 1  << 4;
    QTest::newRow("box: empty space")              << B << -1 << QPointF(50, 550)  << int(M::DrawBox)        << -1 << -1 << 4;
    QTest::newRow("box: unselected object draws")  << B << -1 << QPointF(120, 120) << int(M::DrawBox)        << -1 << -1 << 4;
    QTest::newRow("box: the selected object")      << B << 0  << QPointF(120, 120) << int(M::Move)           << 0  << -1 << 4;
    QTest::newRow("box: handle")                   << B << 0  << QPointF(100, 100) << int(M::Resize)         << 0  << -1 << 4;
    QTest::newRow("box: ignores polygon edges")    << B << 1  << QPointF(540, 280) << int(M::DrawBox)        << -1 << -1 << 4;
    QTest::newRow("polygon: empty space")          << P << -1 << QPointF(50, 550)  << int(M::DrawPolygon)    << -1 << -1 << 4;
    QTest::newRow("polygon: unselected object")    << P << -1 << QPointF(120, 120) << int(M::DrawPolygon)    << -1 << -1 << 4;
    QTest::newRow("polygon: the selected object")  << P << 0  << QPointF(120, 120) << int(M::Move)           << 0  << -1 << 4;
    QTest::newRow("polygon: ignores handles")      << P << 0  << QPointF(100, 100) << int(M::Move)           << 0  << -1 << 4;
    QTest::newRow("polygon: vertex")               << P << 1  << QPointF(440, 140) << int(M::MoveVertex)     << 1  << 0  << 4;
    QTest::newRow("polygon: edge inserts")         << P << 1  << QPointF(540, 280) << int(M::MoveVertex)     << 1  << 3  << 5;
    QTest::newRow("keypoint: empty space")         << K << -1 << QPointF(50, 550)  << int(M::PlaceKeypoints) << -1 << -1 << 4;
    QTest::newRow("keypoint: box starts a set")    << K << -1 << QPointF(120, 120) << int(M::PlaceKeypoints) << -1 << -1 << 4;
    QTest::newRow("keypoint: unselected set")      << K << -1 << QPointF(150, 400) << int(M::PlaceKeypoints) << -1 << -1 << 4;
    QTest::newRow("keypoint: the selected set")    << K << 2  << QPointF(180, 440) << int(M::Move)           << 2  << -1 << 4;
    QTest::newRow("keypoint: keypoint of set")     << K << 2  << QPointF(250, 450) << int(M::MoveVertex)     << 2  << 2  << 4;
    QTest::newRow("classification: nothing")       << 4 << -1 << QPointF(120, 120) << int(M::Idle)           << -1 << -1 << 4;
    // clang-format on
}

void TestCanvasTools::pressTargets()
{
    QFETCH(int, tool);
    QFETCH(int, preselected);
    QFETCH(QPointF, at);
    QFETCH(int, mode);
    QFETCH(int, selected);
    QFETCH(int, vertex);
    QFETCH(int, polygonPoints);

    auto canvas = makeCanvas(hitFixture(), tool);
    canvas->selectAnnotation(preselected);
    press(canvas.get(), at);
    QCOMPARE(canvas->currentMode(), mode);
    QCOMPARE(canvas->selectedAnnotationIndex(), selected);
    QCOMPARE(canvas->selectedVertexIndex(), vertex);
    QCOMPARE(canvas->annotations().at(1).points.size(), polygonPoints);
}

void TestCanvasTools::classGateStopsDrawingWithoutClasses()
{
    for (int tool : {int(Tool::Select), int(Tool::BBox), int(Tool::Polygon), int(Tool::Keypoint)}) {
        auto canvas = makeCanvas({}, tool);
        canvas->setClassColors({});
        SignalLog log(canvas.get());
        press(canvas.get(), QPointF(100, 100));
        QCOMPARE(log.take(), QStringList{QStringLiteral("class required")});
        QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    }
    // Once the image has an annotation, drawing goes on without classes.
    auto canvas = makeCanvas({box(QRectF(10, 10, 20, 20))}, int(Tool::BBox));
    canvas->setClassColors({});
    QSignalSpy gate(canvas.get(), &LabelCanvas::classRequired);
    drag(canvas.get(), QPointF(100, 100), QPointF(200, 200));
    QCOMPARE(gate.count(), 0);
    QCOMPARE(canvas->annotations().size(), 2);
}

void TestCanvasTools::boxDrawKeepsOnlyBoxesOfFivePixels()
{
    auto canvas = makeCanvas({}, int(Tool::BBox));
    canvas->zoomIn(); // image pixels, not screen pixels, decide
    SignalLog log(canvas.get());
    const QPointF start = canvas->toScreen(QPointF(100, 100));
    drag(canvas.get(), start, canvas->toScreen(QPointF(104, 300)));
    QVERIFY(canvas->annotations().isEmpty());
    QCOMPARE(log.take(), QStringList{QStringLiteral("selected -1")});
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));

    drag(canvas.get(), canvas->toScreen(QPointF(105, 105)), start);
    QCOMPARE(canvas->annotations().size(), 1);
    const Annotation a = canvas->annotations().first();
    QCOMPARE(a.kind, int(BoundingBox));
    QCOMPARE(a.className, QStringLiteral("object"));
    QVERIFY(std::abs(a.bbox.x() - 100) < 1e-3 && std::abs(a.bbox.width() - 5) < 1e-3);
    QVERIFY(std::abs(a.bbox.height() - 5) < 1e-3);
}

void TestCanvasTools::boxDrawSignalOrder()
{
    auto canvas = makeCanvas({box(QRectF(10, 10, 20, 20)), box(QRectF(40, 10, 20, 20)), box(QRectF(70, 10, 20, 20))},
                             int(Tool::BBox));
    canvas->setCurrentClass(QStringLiteral("person"));
    SignalLog log(canvas.get());
    drag(canvas.get(), QPointF(200, 200), QPointF(300, 260));
    const QStringList expected{QStringLiteral("selected -1"), QStringLiteral("changed"), QStringLiteral("selected 3"),
                               QStringLiteral("added 3"), QStringLiteral("selected 3")};
    QCOMPARE(log.take(), expected);
    QCOMPARE(canvas->annotations().at(3).className, QStringLiteral("person"));
    QCOMPARE(canvas->annotations().at(3).bbox, QRectF(200, 200, 100, 60));
    QCOMPARE(canvas->undoStack()->count(), 1);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Add annotation"));
}

void TestCanvasTools::moveShiftsTheShape()
{
    auto canvas = makeCanvas(hitFixture());
    drag(canvas.get(), QPointF(120, 120), QPointF(150, 140));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(130, 120, 200, 150));
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Move annotation"));

    drag(canvas.get(), QPointF(530, 200), QPointF(520, 210));
    const Annotation moved = canvas->annotations().at(1);
    QCOMPARE(moved.points.first(), QPointF(430, 150));
    QCOMPARE(moved.bbox, QRectF(430, 130, 180, 180));

    // A keypoint set moves its person box with it (larger than the hull of its
    // keypoints, as imported); its unlabelled keypoint stays where it is stored.
    Annotation person = keypoints({QPointF(0, 0), QPointF(300, 300), QPointF(400, 350)}, {0, 2, 2});
    person.bbox = QRectF(280, 260, 150, 120);
    canvas->setAnnotations({person});
    drag(canvas.get(), QPointF(300, 300), QPointF(310, 305));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(290, 265, 150, 120));
    QCOMPARE(canvas->annotations().at(0).points,
             (QList<QPointF>{QPointF(0, 0), QPointF(310, 305), QPointF(410, 355)}));
}

void TestCanvasTools::resizeMovesTheHandleEdges_data()
{
    QTest::addColumn<QPointF>("handle");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRectF>("expected");
    const QRectF r(100, 100, 200, 150); // handles at x 100/200/300, y 100/175/250
    Q_UNUSED(r);
    QTest::newRow("top-left")             << QPointF(100, 100) << QPointF(120, 130) << QRectF(120, 130, 180, 120);
    QTest::newRow("top centre")           << QPointF(200, 100) << QPointF(260, 90)  << QRectF(100, 90, 200, 160);
    QTest::newRow("right middle")         << QPointF(300, 175) << QPointF(350, 0)   << QRectF(100, 100, 250, 150);
    QTest::newRow("bottom-right")         << QPointF(300, 250) << QPointF(310, 260) << QRectF(100, 100, 210, 160);
    QTest::newRow("bottom-left")          << QPointF(100, 250) << QPointF(90, 240)  << QRectF(90, 100, 210, 140);
    QTest::newRow("left past right edge") << QPointF(100, 175) << QPointF(400, 175) << QRectF(300, 100, 100, 150);
    QTest::newRow("bottom-right past top-left") << QPointF(300, 250) << QPointF(50, 60) << QRectF(50, 60, 50, 40);
}

void TestCanvasTools::resizeMovesTheHandleEdges()
{
    QFETCH(QPointF, handle);
    QFETCH(QPointF, to);
    QFETCH(QRectF, expected);
    auto canvas = makeCanvas({box(QRectF(100, 100, 200, 150))}, int(Tool::BBox));
    canvas->selectAnnotation(0);
    drag(canvas.get(), handle, to, 6);
    QCOMPARE(canvas->annotations().at(0).bbox, expected);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Resize annotation"));
}

void TestCanvasTools::resizeOfAPolygonScalesIt()
{
    auto canvas = makeCanvas(hitFixture());
    canvas->selectAnnotation(1);
    // Box (440, 120)-(620, 300); its top-left handle goes to (400, 100).
    drag(canvas.get(), QPointF(440, 120), QPointF(400, 100));
    const Annotation scaled = canvas->annotations().at(1);
    QCOMPARE(scaled.bbox, QRectF(400, 100, 220, 200));
    QCOMPARE(QPolygonF(scaled.points).boundingRect(), scaled.bbox);
    // Every vertex keeps its place relative to the box: the right-most keeps its
    // x, the top one its y on the moved edge.
    QCOMPARE(scaled.points.at(2), QPointF(620, 100 + 140 * 200.0 / 180.0));
    QCOMPARE(scaled.points.at(1), QPointF(400 + 160 * 220.0 / 180.0, 100));
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Resize annotation"));
}

void TestCanvasTools::polygonClosesNearTheFirstPoint()
{
    auto canvas = makeCanvas({}, int(Tool::Polygon));
    QSignalSpy added(canvas.get(), &LabelCanvas::annotationAdded);
    click(canvas.get(), QPointF(100, 100));
    click(canvas.get(), QPointF(300, 100));
    // Two points only: a click near the first adds a third point.
    click(canvas.get(), QPointF(105, 105));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::DrawPolygon));
    click(canvas.get(), QPointF(300, 300));
    click(canvas.get(), QPointF(108, 108)); // 11.3 screen pixels from the first point
    QCOMPARE(added.count(), 1);
    QCOMPARE(canvas->annotations().at(0).points,
             (QList<QPointF>{QPointF(100, 100), QPointF(300, 100), QPointF(105, 105), QPointF(300, 300)}));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(100, 100, 200, 200));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->selectedAnnotationIndex(), 0);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Add polygon"));
}

void TestCanvasTools::polygonClosesBesideThePictureAtItsFirstPoint()
{
    // A picture narrower and lower than the canvas, at scale 1: there is room
    // beside it on every side.
    auto canvas = makeCanvas({}, int(Tool::Polygon));
    canvas->setImage(entryWith(2, {}, 400, 250));
    canvas->zoomActualSize();
    const auto screenOf = [&canvas](const QPointF &image) { return canvas->toScreen(image); };
    // The object runs into the top-left corner: the first click is beside the
    // picture and lands on the corner.
    const QPointF outside = screenOf(QPointF(-30, -20));
    QVERIFY(canvas->rect().contains(outside.toPoint()));
    click(canvas.get(), outside);
    click(canvas.get(), screenOf(QPointF(200, 0)));
    click(canvas.get(), screenOf(QPointF(150, 120)));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::DrawPolygon));
    // Clicking where the first click was closes the polygon: no second corner.
    click(canvas.get(), outside);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().at(0).points,
             (QList<QPointF>{QPointF(0, 0), QPointF(200, 0), QPointF(150, 120)}));
    // Far from the first point a click beside the picture still adds a point on
    // the border.
    click(canvas.get(), screenOf(QPointF(100, 100)));
    click(canvas.get(), screenOf(QPointF(300, 100)));
    click(canvas.get(), screenOf(QPointF(450, 180)));
    QTest::keyClick(canvas.get(), Qt::Key_Return);
    QCOMPARE(canvas->annotations().size(), 2);
    QCOMPARE(canvas->annotations().at(1).points.last(), QPointF(400, 180));
}

void TestCanvasTools::polygonFinishesByRightClickDoubleClickAndReturn()
{
    auto canvas = makeCanvas({}, int(Tool::Polygon));
    // Right click with two points drops them.
    click(canvas.get(), QPointF(100, 100));
    click(canvas.get(), QPointF(200, 100));
    click(canvas.get(), QPointF(200, 200), Qt::RightButton);
    QVERIFY(canvas->annotations().isEmpty());
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    // With three it adds them.
    click(canvas.get(), QPointF(100, 100));
    click(canvas.get(), QPointF(200, 100));
    click(canvas.get(), QPointF(200, 200));
    click(canvas.get(), QPointF(500, 500), Qt::RightButton);
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().at(0).points.size(), 3);
    // A double click adds the point of its first click, then finishes.
    click(canvas.get(), QPointF(400, 400));
    click(canvas.get(), QPointF(500, 400));
    click(canvas.get(), QPointF(500, 500));
    doubleClick(canvas.get(), QPointF(400, 500));
    QCOMPARE(canvas->annotations().size(), 2);
    QCOMPARE(canvas->annotations().at(1).points.size(), 4);
    // Return finishes too.
    click(canvas.get(), QPointF(600, 100));
    click(canvas.get(), QPointF(700, 100));
    click(canvas.get(), QPointF(700, 200));
    QTest::keyClick(canvas.get(), Qt::Key_Return);
    QCOMPARE(canvas->annotations().size(), 3);
    QCOMPARE(canvas->undoStack()->count(), 3);
}

void TestCanvasTools::edgeInsertAndDragAreOneStep()
{
    auto canvas = makeCanvas(hitFixture(), int(Tool::Polygon));
    canvas->selectAnnotation(1);
    SignalLog log(canvas.get());
    press(canvas.get(), QPointF(540, 280));
    QCOMPARE(log.take(), QStringList{QStringLiteral("changed")});
    move(canvas.get(), QPointF(540, 330), Qt::LeftButton);
    release(canvas.get(), QPointF(540, 330));
    const QList<QPointF> points = canvas->annotations().at(1).points;
    QCOMPARE(points.size(), 5);
    QCOMPARE(points.at(3), QPointF(540, 330));
    QCOMPARE(canvas->annotations().at(1).bbox.bottom(), 330.0);
    QCOMPARE(canvas->undoStack()->count(), 1);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Move vertex"));
    undoKey(canvas.get());
    QCOMPARE(canvas->annotations().at(1).points.size(), 4);
}

void TestCanvasTools::vertexClickKeepsSelectionDragClearsIt()
{
    auto canvas = makeCanvas(hitFixture());
    canvas->selectAnnotation(1);
    click(canvas.get(), QPointF(600, 120));
    QCOMPARE(canvas->selectedVertexIndex(), 1);
    QCOMPARE(canvas->undoStack()->count(), 0);
    drag(canvas.get(), QPointF(600, 120), QPointF(610, 110));
    QCOMPARE(canvas->selectedVertexIndex(), -1);
    QCOMPARE(canvas->selectedAnnotationIndex(), 1);
    QCOMPARE(canvas->annotations().at(1).points.at(1), QPointF(610, 110));
}

void TestCanvasTools::deleteVertexOrWholePolygon()
{
    auto canvas = makeCanvas(hitFixture());
    canvas->selectAnnotation(1);
    click(canvas.get(), QPointF(600, 120));
    SignalLog log(canvas.get());
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    QCOMPARE(canvas->annotations().at(1).points.size(), 3);
    QCOMPARE(canvas->annotations().at(1).bbox, QRectF(440, 140, 180, 160));
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Delete vertex"));
    QCOMPARE(log.take(), (QStringList{QStringLiteral("changed"), QStringLiteral("selected 1"), QStringLiteral("changed")}));

    // A triangle keeps its three vertices: the whole polygon goes.
    click(canvas.get(), QPointF(620, 260));
    QCOMPARE(canvas->selectedVertexIndex(), 1);
    log.take();
    QTest::keyClick(canvas.get(), Qt::Key_Backspace);
    QCOMPARE(canvas->annotations().size(), 4);
    QCOMPARE(canvas->annotations().at(1).kind, int(Keypoint));
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Delete annotation"));
    QCOMPARE(log.take(),
             (QStringList{QStringLiteral("changed"), QStringLiteral("selected -1"), QStringLiteral("deleted 1"),
                          QStringLiteral("selected -1")}));
}

void TestCanvasTools::keypointSetFinishesAtTheSchemaCount_data()
{
    QTest::addColumn<int>("names");
    QTest::newRow("body") << 17;
    QTest::newRow("one name") << 1;
    QTest::newRow("three names") << 3;
}

void TestCanvasTools::keypointSetFinishesAtTheSchemaCount()
{
    QFETCH(int, names);
    auto canvas = makeCanvas({}, int(Tool::Keypoint));
    canvas->setKeypointSchema(schemaOf(names));
    canvas->setCurrentClass(QStringLiteral("person"));
    QSignalSpy added(canvas.get(), &LabelCanvas::annotationAdded);
    for (int i = 0; i < names; ++i) {
        QCOMPARE(added.count(), 0);
        click(canvas.get(), QPointF(100 + 20 * i, 200 + 10 * i));
    }
    QCOMPARE(added.count(), 1);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    const Annotation set = canvas->annotations().first();
    QCOMPARE(set.kind, int(Keypoint));
    QCOMPARE(set.className, QStringLiteral("person"));
    QCOMPARE(set.points.size(), names);
    QCOMPARE(set.keypointVis, QList<int>(names, 2));
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Add keypoints"));
}

void TestCanvasTools::keypointSetWithoutSchemaFinishesOnDemand()
{
    auto canvas = makeCanvas({}, int(Tool::Keypoint));
    click(canvas.get(), QPointF(100, 100));
    click(canvas.get(), QPointF(200, 100));
    doubleClick(canvas.get(), QPointF(300, 150));
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().at(0).points.size(), 3);
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(100, 100, 200, 50));

    click(canvas.get(), QPointF(500, 500));
    QTest::keyClick(canvas.get(), Qt::Key_Enter);
    QCOMPARE(canvas->annotations().size(), 2);
    QCOMPARE(canvas->annotations().at(1).points.size(), 1);
}

void TestCanvasTools::deleteKeypointMarksItUnlabelled()
{
    QList<QPointF> pts{QPointF(100, 100), QPointF(200, 150), QPointF(300, 300)};
    // The keypoint tool, so that keypoints on the box's corners are not taken
    // for resize handles.
    auto canvas = makeCanvas({keypoints(pts, {2, 2})}, int(Tool::Keypoint)); // the third visibility is implied
    const QRectF box = canvas->annotations().at(0).bbox;
    canvas->selectAnnotation(0);
    click(canvas.get(), QPointF(300, 300));
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    Annotation set = canvas->annotations().at(0);
    QCOMPARE(set.points, pts);
    QCOMPARE(set.keypointVis, (QList<int>{2, 2, 0}));
    // The object's box is kept, never shrunk to the remaining keypoints.
    QCOMPARE(set.bbox, box);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Delete vertex"));

    click(canvas.get(), QPointF(100, 100));
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    set = canvas->annotations().at(0);
    QCOMPARE(set.keypointVis, (QList<int>{0, 2, 0}));
    QCOMPARE(set.bbox, box);

    // An unlabelled keypoint waits in the tray below the box (second slot for
    // keypoint 2); it has nothing to delete: no step, no report.
    const QPointF traySlot2 = box.bottomLeft() + QPointF(KeypointTray::Indent + KeypointTray::Spacing, KeypointTray::Gap);
    click(canvas.get(), traySlot2);
    QCOMPARE(canvas->selectedVertexIndex(), 2);
    SignalLog log(canvas.get());
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    QCOMPARE(canvas->annotations().at(0), set);
    QCOMPARE(canvas->undoStack()->count(), 2);
    QCOMPARE(log.take(), QStringList());

    // The last labelled keypoint takes the set with it.
    click(canvas.get(), QPointF(200, 150));
    QCOMPARE(canvas->selectedVertexIndex(), 1);
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    QVERIFY(canvas->annotations().isEmpty());
    QCOMPARE(canvas->undoStack()->count(), 3);
}

void TestCanvasTools::escapeEndsADragAsARelease_data()
{
    QTest::addColumn<int>("preselected");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QString>("step");
    QTest::newRow("move") << -1 << QPointF(120, 120) << QStringLiteral("Move annotation");
    QTest::newRow("resize") << 0 << QPointF(100, 100) << QStringLiteral("Resize annotation");
    QTest::newRow("vertex") << 1 << QPointF(600, 120) << QStringLiteral("Move vertex");
}

void TestCanvasTools::escapeEndsADragAsARelease()
{
    QFETCH(int, preselected);
    QFETCH(QPointF, from);
    QFETCH(QString, step);
    auto canvas = makeCanvas(hitFixture());
    canvas->selectAnnotation(preselected);
    press(canvas.get(), from);
    move(canvas.get(), from + QPointF(-20, -30), Qt::LeftButton);
    const QList<Annotation> dragged = canvas->annotations();
    SignalLog log(canvas.get());
    QTest::keyClick(canvas.get(), Qt::Key_Escape);
    release(canvas.get(), from + QPointF(-20, -30));

    QCOMPARE(canvas->annotations(), dragged);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QCOMPARE(canvas->undoStack()->count(), 1);
    QCOMPARE(canvas->undoStack()->undoText(), step);
    QVERIFY(log.entries.contains(QStringLiteral("changed")));
    QCOMPARE(log.entries.last(), QStringLiteral("selected -1"));
    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations(), hitFixture());
}

void TestCanvasTools::escapeDropsPlacedPoints()
{
    auto canvas = makeCanvas({}, int(Tool::Polygon));
    click(canvas.get(), QPointF(100, 100));
    click(canvas.get(), QPointF(200, 100));
    click(canvas.get(), QPointF(200, 200));
    QSignalSpy selected(canvas.get(), &LabelCanvas::annotationSelected);
    QTest::keyClick(canvas.get(), Qt::Key_Escape);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QTest::keyClick(canvas.get(), Qt::Key_Return);
    QVERIFY(canvas->annotations().isEmpty());
    QCOMPARE(canvas->undoStack()->count(), 0);
}

void TestCanvasTools::deleteAnnotationKeepsSelectionInStep()
{
    auto canvas = makeCanvas(hitFixture());
    canvas->selectAnnotation(4);
    SignalLog log(canvas.get());
    canvas->deleteAnnotation(1);
    QCOMPARE(canvas->selectedAnnotationIndex(), 3);
    QCOMPARE(log.take(), (QStringList{QStringLiteral("changed"), QStringLiteral("selected 3"),
                                      QStringLiteral("deleted 1"), QStringLiteral("selected 3")}));
    canvas->deleteAnnotation(3);
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    canvas->deleteAnnotation(7);
    canvas->deleteAnnotation(-1);
    QCOMPARE(canvas->annotations().size(), 3);
    QCOMPARE(log.take().size(), 4);
}

void TestCanvasTools::leftReleasedDuringPanStillRecordsTheMove()
{
    auto canvas = makeCanvas(hitFixture());
    press(canvas.get(), QPointF(120, 120));
    move(canvas.get(), QPointF(140, 120), Qt::LeftButton);
    sendMouse(canvas.get(), QEvent::MouseButtonPress, QPointF(140, 120), Qt::MiddleButton,
              Qt::LeftButton | Qt::MiddleButton);
    release(canvas.get(), QPointF(140, 120), Qt::LeftButton, Qt::MiddleButton);
    QSignalSpy changed(canvas.get(), &LabelCanvas::annotationsChanged);
    release(canvas.get(), QPointF(140, 120), Qt::MiddleButton, Qt::NoButton);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(changed.count(), 2); // the step's own report and the release's
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Move annotation"));
    // Later moves no longer drag the box.
    move(canvas.get(), QPointF(300, 300));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(120, 100, 200, 150));
}

void TestCanvasTools::toolChangeDuringADragRecordsIt()
{
    auto canvas = makeCanvas(hitFixture());
    press(canvas.get(), QPointF(120, 120));
    move(canvas.get(), QPointF(130, 130), Qt::LeftButton);
    QSignalSpy changed(canvas.get(), &LabelCanvas::annotationsChanged);
    canvas->setTool(int(Tool::Polygon));
    QVERIFY(changed.count() >= 1);
    QCOMPARE(canvas->undoStack()->count(), 1);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    release(canvas.get(), QPointF(130, 130));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(110, 110, 200, 150));
}

void TestCanvasTools::pressAfterALostReleaseRecordsTheDrag()
{
    auto canvas = makeCanvas(hitFixture());
    press(canvas.get(), QPointF(120, 120));
    move(canvas.get(), QPointF(140, 130), Qt::LeftButton);
    // No release arrives; the next press ends the move first.
    QSignalSpy changed(canvas.get(), &LabelCanvas::annotationsChanged);
    press(canvas.get(), QPointF(50, 550));
    QVERIFY(changed.count() >= 1);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Move annotation"));
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(120, 110, 200, 150));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
}

void TestCanvasTools::keysTheCanvasDoesNotUseReachTheWindow()
{
    KeyCatcher window;
    auto *canvas = new LabelCanvas(&window);
    window.resize(800, 600);
    canvas->resize(800, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    canvas->setImage(entryWith(1, hitFixture()));
    canvas->selectAnnotation(0);
    for (int key : {int(Qt::Key_B), int(Qt::Key_P), int(Qt::Key_Left), int(Qt::Key_Down), int(Qt::Key_F2)})
        QTest::keyClick(canvas, Qt::Key(key));
    QCOMPARE(window.keys, (QList<int>{Qt::Key_B, Qt::Key_P, Qt::Key_Left, Qt::Key_Down, Qt::Key_F2}));
    window.keys.clear();
    for (int key : {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Delete),
                    int(Qt::Key_Backspace)})
        QTest::keyClick(canvas, Qt::Key(key));
    undoKey(canvas);
    redoKey(canvas);
    QCOMPARE(window.keys, QList<int>());
}

void TestCanvasTools::hoverReportsKeypointsAndShowsCursors()
{
    auto canvas = makeCanvas(hitFixture(), int(Tool::BBox));
    move(canvas.get(), QPointF(50, 550));
    QCOMPARE(canvas->cursor().shape(), Qt::CrossCursor);
    // A drag on an annotation that is not selected draws; on the selected one it moves.
    move(canvas.get(), QPointF(120, 120));
    QCOMPARE(canvas->cursor().shape(), Qt::CrossCursor);
    canvas->selectAnnotation(0);
    move(canvas.get(), QPointF(120, 120));
    QCOMPARE(canvas->cursor().shape(), Qt::SizeAllCursor);
    move(canvas.get(), QPointF(300, 175));
    QCOMPARE(canvas->cursor().shape(), Qt::SizeHorCursor);
    move(canvas.get(), QPointF(102, 98));
    QCOMPARE(canvas->cursor().shape(), Qt::SizeFDiagCursor);

    canvas->selectAnnotation(2);
    QSignalSpy hovered(canvas.get(), &LabelCanvas::poseKeypointHovered);
    move(canvas.get(), QPointF(205, 424)); // 6.4 pixels from keypoint 1
    move(canvas.get(), QPointF(203, 422));
    move(canvas.get(), QPointF(260, 470));
    move(canvas.get(), QPointF(270, 480));
    QCOMPARE(hovered.count(), 2);
    QCOMPARE(hovered.at(0).at(0).toInt(), 1);
    QCOMPARE(hovered.at(1).at(0).toInt(), -1);
}

QM_TEST_MAIN(TestCanvasTools)
#include "tst_canvastools.moc"
