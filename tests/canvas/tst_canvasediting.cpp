// The canvas as people annotate ordinary photos: objects inside objects, pose
// boxes that are larger than their keypoints, keypoint visibility, undo while a
// shape is being placed, double clicks, rectangle-shaped polygons, edits near
// the picture's border, and objects imported as several polygons or as a
// crowd's mask, edited and exported. Everything goes through mouse and key
// events.

#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "FormatTestSupport.h"
#include "SignalLog.h"

#include "canvas/KeypointTray.h"
#include "formats/FormatRegistry.h"
#include "formats/IFormatHandler.h"
#include "formats/RunLengthMask.h"
#include "model/GeometryAttributes.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>

#include <cmath>
#include <functional>

Q_DECLARE_METATYPE(Quillmark::Annotation)

using namespace Quillmark;
using namespace CanvasTest;

namespace {

// 0: a person's box; 1: a pose whose box is larger than its keypoints;
// 2: a car polygon touching the bottom border of the 800 x 600 picture.
QList<Annotation> sceneFixture()
{
    Annotation pose = keypoints({QPointF(560, 150), QPointF(600, 200), QPointF(640, 300)}, {2, 2, 2});
    pose.bbox = QRectF(520, 120, 240, 400);
    return {
        box(QRectF(100, 100, 400, 400), QStringLiteral("person")),
        pose,
        polygon({QPointF(50, 520), QPointF(300, 520), QPointF(300, 600), QPointF(50, 600)}),
    };
}

// An 800 x 600 canvas showing a 400 x 300 picture at scale 1, centred: screen
// = image + (200, 150), with room around the picture.
std::unique_ptr<LabelCanvas> smallPictureCanvas(const QList<Annotation> &labels, int tool)
{
    auto canvas = makeCanvas({}, tool);
    canvas->setImage(entryWith(1, labels, 400, 300));
    canvas->zoomActualSize();
    canvas->setTool(tool);
    return canvas;
}

const QPointF SmallOffset(200, 150);

bool fuzzyPoints(const QList<QPointF> &a, const QList<QPointF> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (std::abs(a.at(i).x() - b.at(i).x()) > 1e-6 || std::abs(a.at(i).y() - b.at(i).y()) > 1e-6)
            return false;
    }
    return true;
}

// --- Objects of several parts and crowd regions --------------------------------------

QVariantList flat(const QList<QPointF> &points)
{
    QVariantList numbers;
    for (const QPointF &p : points)
        numbers << p.x() << p.y();
    return numbers;
}

// The larger part of an object of two: a pentagon none of whose vertices lies
// on a handle of its frame, (100, 100)-(300, 300).
const QList<QPointF> Pentagon{{150, 120}, {280, 100}, {300, 210}, {220, 300}, {100, 260}};
const QList<QPointF> SmallPart{{500, 400}, {561, 407}, {530, 463}};
const QRectF TwoPartFrame(100, 100, 461, 363);
constexpr double TwoPartArea = 31000;
// Inside the small part, far from the pentagon.
const QPointF InSmallPart(530, 425);

// As the importers keep it: the larger part is the outline, both parts are kept
// (the small one first, as the file gave them) with the area the object came
// with, and its box spans them.
Annotation twoPartObject()
{
    Annotation a = polygon(Pentagon);
    a.attributes.insert(GeometryAttribute::Parts, QVariantList{flat(SmallPart), flat(Pentagon)});
    a.attributes.insert(GeometryAttribute::Area, TwoPartArea);
    a.attributes.insert(QStringLiteral("source"), QStringLiteral("coco"));
    a.bbox = TwoPartFrame;
    return a;
}

// The run lengths of a mask of an 800 x 600 picture, column by column.
QVariantList maskCounts(const std::function<bool(int, int)> &inside)
{
    QVariantList counts;
    bool current = false;
    qlonglong run = 0;
    for (int x = 0; x < 800; ++x) {
        for (int y = 0; y < 600; ++y) {
            if (inside(x, y) != current) {
                counts.append(run);
                run = 0;
                current = !current;
            }
            ++run;
        }
    }
    counts.append(run);
    return counts;
}

// A crowd of people as COCO keeps one: an L of mask pixels, columns 380 to 519
// and rows 120 to 219 with the corner (480..519, 120..189) left out; its box is
// the mask's extent and its area the mask's pixels.
const QRect CrowdExtent(380, 120, 140, 100);
constexpr int CrowdPixels = 100 * 100 + 40 * 30;
bool inCrowd(int x, int y)
{
    return CrowdExtent.contains(x, y) && (x < 480 || y >= 190);
}

Annotation crowdRegion(bool asText)
{
    Annotation a = box(QRectF(CrowdExtent), QStringLiteral("person"));
    QVariantMap mask{{QStringLiteral("counts"), maskCounts(inCrowd)}, {QStringLiteral("size"), QVariantList{600, 800}}};
    if (asText)
        mask.insert(QStringLiteral("counts"), RunLengthMask::read(mask)->countsText());
    a.attributes.insert(GeometryAttribute::Mask, mask);
    a.attributes.insert(GeometryAttribute::Area, double(CrowdPixels));
    a.attributes.insert(GeometryAttribute::Crowd, 1);
    return a;
}

// Small boxes in the top-right corner, enough for the canvas to keep the
// annotations as pictures between repaints.
QList<Annotation> manySmallBoxes()
{
    QList<Annotation> boxes;
    for (int i = 0; i < 250; ++i)
        boxes.append(box(QRectF(600 + (i % 25) * 7, 10 + (i / 25) * 7, 5, 5)));
    return boxes;
}

// The COCO and LabelMe files of the picture with `labels`, as the exporters
// write them; the COCO document.
QJsonObject exported(const QList<Annotation> &labels, const QString &folder)
{
    Dataset dataset;
    ImageEntry entry = entryWith(1, labels);
    dataset.addImage(entry);
    dataset.syncClassesFromAnnotations();
    FormatRegistry &formats = FormatRegistry::instance();
    if (!formats.find(QStringLiteral("COCO"))->exportDataset(folder + QStringLiteral("/coco.json"), dataset, {}) ||
        !formats.find(QStringLiteral("LabelMe"))->exportDataset(folder + QStringLiteral("/labelme"), dataset, {}))
        return {};
    return QJsonDocument::fromJson(FormatTest::readFile(folder + QStringLiteral("/coco.json"))).object();
}

QList<QPointF> pairs(const QJsonArray &flatNumbers)
{
    QList<QPointF> points;
    for (qsizetype i = 0; i + 1 < flatNumbers.size(); i += 2)
        points.append(QPointF(flatNumbers.at(i).toDouble(), flatNumbers.at(i + 1).toDouble()));
    return points;
}

double shoelace(const QList<QPointF> &points)
{
    double twice = 0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QPointF &a = points.at(i);
        const QPointF &b = points.at((i + 1) % points.size());
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return std::abs(twice) / 2;
}

bool runReader(const QString &script, const QStringList &arguments, QByteArray *output)
{
    const bool ok = FormatTest::runReaderScript(script, arguments, output);
    if (!ok)
        qWarning("%s", output->constData());
    return ok;
}

} // namespace

class TestCanvasEditing : public QObject {
    Q_OBJECT
private slots:
    void pressOnAnObject_data();
    void pressOnAnObject();

    void keypointEditGrowsTheBoxOnlyAsNeeded_data();
    void keypointEditGrowsTheBoxOnlyAsNeeded();
    void rightClickCyclesKeypointVisibility();
    void unlabelledKeypointsLeaveTheirStoredPlace();

    void undoWhilePlacing_data();
    void undoWhilePlacing();
    void doubleClickFinishesCleanly_data();
    void doubleClickFinishesCleanly();

    void verticesWinOverHandles_data();
    void verticesWinOverHandles();

    void editsStayInThePicture_data();
    void editsStayInThePicture();
    void importedShapesOutsideAreKeptUntilEdited();

    void severalPartsAndCrowdsAreDrawnAndHit_data();
    void severalPartsAndCrowdsAreDrawnAndHit();
    void handlesAreDrawnWhereTheyResize_data();
    void handlesAreDrawnWhereTheyResize();
    void movesAndResizesCarryEveryPart_data();
    void movesAndResizesCarryEveryPart();
    void outlineEditsKeepTheOtherParts_data();
    void outlineEditsKeepTheOtherParts();
    void crowdRegionsTakeTheirMaskAlong_data();
    void crowdRegionsTakeTheirMaskAlong();
};

// --- Objects inside objects ---------------------------------------------------------

void TestCanvasEditing::pressOnAnObject_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QList<QPointF>>("thenClicks"); // followed by Return when any
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QRectF>("selectedBox");
    QTest::addColumn<int>("steps");

    const int B = int(Tool::BBox), P = int(Tool::Polygon), K = int(Tool::Keypoint);
    const QList<QPointF> none;
    const QRectF person(100, 100, 400, 400);
    const QRectF pose(520, 120, 240, 400);
    // clang-format off
    QTest::newRow("box: drag in a person draws a face")
        << B << -1 << QPointF(200, 200) << QPointF(260, 270) << none << 4 << 3 << QRectF(200, 200, 60, 70) << 1;
    QTest::newRow("box: drag in a pose's box draws a box")
        << B << -1 << QPointF(700, 450) << QPointF(740, 500) << none << 4 << 3 << QRectF(700, 450, 40, 50) << 1;
    QTest::newRow("box: click selects the person")
        << B << -1 << QPointF(200, 200) << QPointF(200, 200) << none << 3 << 0 << person << 0;
    QTest::newRow("box: a tremor is still a click")
        << B << -1 << QPointF(200, 200) << QPointF(202, 201) << none << 3 << 0 << person << 0;
    QTest::newRow("box: drag on the selected person moves it")
        << B << 0 << QPointF(200, 200) << QPointF(230, 210) << none << 3 << 0 << QRectF(130, 110, 400, 400) << 1;
    QTest::newRow("box: drag on an object while another is selected")
        << B << 2 << QPointF(200, 200) << QPointF(260, 270) << none << 4 << 3 << QRectF(200, 200, 60, 70) << 1;
    QTest::newRow("polygon: click selects the person")
        << P << -1 << QPointF(200, 200) << QPointF(200, 200) << none << 3 << 0 << person << 0;
    QTest::newRow("polygon: drag in the person starts a plate")
        << P << -1 << QPointF(200, 200) << QPointF(240, 200) << QList<QPointF>{{240, 230}, {200, 230}}
        << 4 << 3 << QRectF(200, 200, 40, 30) << 1;
    QTest::newRow("keypoint: click selects the other pose")
        << K << -1 << QPointF(700, 450) << QPointF(700, 450) << none << 3 << 1 << pose << 0;
    QTest::newRow("keypoint: drag in the other pose's box starts a pose")
        << K << -1 << QPointF(700, 450) << QPointF(712, 458) << QList<QPointF>{{720, 480}}
        << 4 << 3 << QRectF(700, 450, 20, 30) << 1;
    QTest::newRow("keypoint: click in a plain box starts a pose")
        << K << -1 << QPointF(200, 200) << QPointF(200, 200) << QList<QPointF>{{230, 260}}
        << 4 << 3 << QRectF(200, 200, 30, 60) << 1;
    // clang-format on
}

void TestCanvasEditing::pressOnAnObject()
{
    QFETCH(int, tool);
    QFETCH(int, preselected);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QList<QPointF>, thenClicks);
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(QRectF, selectedBox);
    QFETCH(int, steps);

    QList<Annotation> labels = sceneFixture();
    if (preselected == 2) // a box inside the person, selected: the drag starts on the person
        labels[2] = box(QRectF(400, 400, 50, 50));
    auto canvas = makeCanvas(labels, tool);
    canvas->selectAnnotation(preselected);
    drag(canvas.get(), from, to);
    for (const QPointF &p : thenClicks)
        click(canvas.get(), p);
    if (!thenClicks.isEmpty())
        QTest::keyClick(canvas.get(), Qt::Key_Return);

    QCOMPARE(canvas->annotations().size(), count);
    QCOMPARE(canvas->selectedAnnotationIndex(), selected);
    QCOMPARE(canvas->annotations().at(selected).bbox, selectedBox);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->undoStack()->count(), steps);
    // The objects the press landed on are untouched unless they were selected.
    if (preselected != 0)
        QCOMPARE(canvas->annotations().at(0).bbox, QRectF(100, 100, 400, 400));
}

// --- Pose boxes ---------------------------------------------------------------------

void TestCanvasEditing::keypointEditGrowsTheBoxOnlyAsNeeded_data()
{
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRectF>("expected");
    const QRectF person(100, 100, 200, 300);
    // Keypoint 1 sits at (200, 200); the picture is 800 x 600.
    QTest::newRow("within the box: the box stays") << person << QPointF(180, 380) << person;
    QTest::newRow("past the right edge") << person << QPointF(350, 220) << QRectF(100, 100, 250, 300);
    QTest::newRow("past the top-left corner") << person << QPointF(80, 60) << QRectF(80, 60, 220, 340);
    QTest::newRow("past the picture: held at its corner") << person << QPointF(900, 700) << QRectF(100, 100, 700, 500);
    // A set stored without a box gets the bounds of its labelled keypoints.
    QTest::newRow("no box") << QRectF() << QPointF(260, 120) << QRectF(150, 120, 110, 130);
}

void TestCanvasEditing::keypointEditGrowsTheBoxOnlyAsNeeded()
{
    QFETCH(QRectF, box);
    QFETCH(QPointF, to);
    QFETCH(QRectF, expected);
    Annotation set = keypoints({QPointF(150, 150), QPointF(200, 200), QPointF(250, 250)}, {2, 2, 2});
    set.bbox = box;
    auto canvas = makeCanvas({set});
    canvas->selectAnnotation(0);
    drag(canvas.get(), QPointF(200, 200), to);
    const Annotation edited = canvas->annotations().at(0);
    QCOMPARE(edited.points.at(1), QPointF(std::min(to.x(), 800.0), std::min(to.y(), 600.0)));
    QCOMPARE(edited.bbox, expected);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Move vertex"));
}

void TestCanvasEditing::rightClickCyclesKeypointVisibility()
{
    Annotation set = keypoints({QPointF(150, 150), QPointF(200, 200), QPointF(250, 250)}, {2, 2, 2});
    set.bbox = QRectF(100, 100, 200, 300);
    const Annotation original = set;
    auto canvas = makeCanvas({set, box(QRectF(500, 100, 100, 100))});

    // Not selected: a right click changes nothing.
    click(canvas.get(), QPointF(200, 200), Qt::RightButton);
    QCOMPARE(canvas->annotations().at(0), original);

    canvas->selectAnnotation(0);
    const QPointF traySlot0 = set.bbox.bottomLeft() + QPointF(KeypointTray::Indent, KeypointTray::Gap);
    const struct {
        QPointF at;
        QList<int> visibility;
    } cycle[] = {
        {QPointF(200, 200), {2, 1, 2}}, // visible -> occluded
        {QPointF(200, 200), {2, 0, 2}}, // occluded -> unlabelled: it leaves for the tray
        {traySlot0, {2, 2, 2}},         // unlabelled -> visible where it was
    };
    int step = 0;
    for (const auto &c : cycle) {
        SignalLog log(canvas.get());
        click(canvas.get(), c.at, Qt::RightButton);
        ++step;
        QCOMPARE(canvas->annotations().at(0).keypointVis, c.visibility);
        QCOMPARE(canvas->annotations().at(0).points, original.points);
        QCOMPARE(canvas->annotations().at(0).bbox, original.bbox);
        QCOMPARE(canvas->undoStack()->count(), step);
        QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Change keypoint visibility"));
        QVERIFY(log.entries.contains(QStringLiteral("changed")));
        QCOMPARE(canvas->selectedAnnotationIndex(), 0);
    }
    for (int i = 0; i < 3; ++i)
        undoKey(canvas.get());
    QCOMPARE(canvas->annotations().at(0), original);

    // With the box tool a right click is not an edit.
    canvas->setTool(int(Tool::BBox));
    canvas->selectAnnotation(0);
    click(canvas.get(), QPointF(200, 200), Qt::RightButton);
    QCOMPARE(canvas->annotations().at(0), original);
}

void TestCanvasEditing::unlabelledKeypointsLeaveTheirStoredPlace()
{
    // Keypoint 0 is unlabelled and stored at (40, 40), as imported data often
    // stores them (at the origin, or anywhere).
    Annotation set = keypoints({QPointF(40, 40), QPointF(300, 300), QPointF(400, 350)}, {0, 2, 2});
    set.bbox = QRectF(280, 280, 150, 100);
    auto canvas = makeCanvas({set});
    canvas->setShowLabels(false);
    QEvent leave(QEvent::Leave);

    // Neither drawn nor picked where it is stored.
    QVERIFY(grabbed(canvas.get()).pixel(40, 40) == ImageGrey.rgb());
    click(canvas.get(), QPointF(40, 40));
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);

    // The selected set shows it in its tray below the box, drawn grey.
    canvas->selectAnnotation(0);
    QApplication::sendEvent(canvas.get(), &leave);
    const QPointF tray = set.bbox.bottomLeft() + QPointF(KeypointTray::Indent, KeypointTray::Gap);
    const QImage shown = grabbed(canvas.get());
    QVERIFY(shown.pixel(40, 40) == ImageGrey.rgb());
    bool greyDot = false;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const QRgb px = shown.pixel(tray.toPoint() + QPoint(dx, dy));
            greyDot |= std::abs(qRed(px) - 136) < 8 && std::abs(qGreen(px) - 136) < 8 && std::abs(qBlue(px) - 136) < 8;
        }
    }
    QVERIFY(greyDot);

    // Dragged from the tray onto the picture, it is placed and visible; the
    // box grows to hold it. One step.
    drag(canvas.get(), tray, QPointF(250, 500));
    const Annotation placed = canvas->annotations().at(0);
    QCOMPARE(placed.points.at(0), QPointF(250, 500));
    QCOMPARE(placed.keypointVis.at(0), 2);
    QCOMPARE(placed.bbox, QRectF(250, 280, 180, 220));
    QCOMPARE(canvas->undoStack()->count(), 1);
    undoKey(canvas.get());
    QCOMPARE(canvas->annotations().at(0), set);
}

// --- Undo while placing -------------------------------------------------------------

void TestCanvasEditing::undoWhilePlacing_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<bool>("byKey"); // else as the tool bar's undo button does
    QTest::newRow("polygon, key") << int(Tool::Polygon) << true;
    QTest::newRow("polygon, tool bar") << int(Tool::Polygon) << false;
    QTest::newRow("keypoints, key") << int(Tool::Keypoint) << true;
    QTest::newRow("keypoints, tool bar") << int(Tool::Keypoint) << false;
}

void TestCanvasEditing::undoWhilePlacing()
{
    QFETCH(int, tool);
    QFETCH(bool, byKey);
    auto canvas = makeCanvas({}, int(Tool::BBox));
    drag(canvas.get(), QPointF(600, 400), QPointF(700, 500)); // a finished shape: one step
    canvas->setTool(tool);
    auto undo = [&] {
        if (byKey)
            undoKey(canvas.get());
        else
            canvas->undo();
    };

    for (const QPointF &p : {QPointF(100, 100), QPointF(300, 100), QPointF(300, 300)})
        click(canvas.get(), p);
    undo(); // takes back (300, 300)
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->undoStack()->count(), 1);
    click(canvas.get(), QPointF(100, 300));
    QTest::keyClick(canvas.get(), Qt::Key_Return);
    QCOMPARE(canvas->annotations().size(), 2);
    QVERIFY(fuzzyPoints(canvas->annotations().at(1).points, {QPointF(100, 100), QPointF(300, 100), QPointF(100, 300)}));

    // Taking back every point ends the placement; the finished shapes stay.
    click(canvas.get(), QPointF(400, 100));
    click(canvas.get(), QPointF(450, 100));
    undo();
    undo();
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->annotations().size(), 2);
    QCOMPARE(canvas->undoStack()->count(), 2);
    // Redo while placing does nothing; once placing is over, undo is undo again.
    click(canvas.get(), QPointF(400, 100));
    if (byKey)
        redoKey(canvas.get());
    else
        canvas->redo();
    QCOMPARE(canvas->annotations().size(), 2);
    QTest::keyClick(canvas.get(), Qt::Key_Escape);
    undo();
    QCOMPARE(canvas->annotations().size(), 1);
}

// --- Double clicks ------------------------------------------------------------------

void TestCanvasEditing::doubleClickFinishesCleanly_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("schemaNames");
    QTest::addColumn<QList<QPointF>>("clicks");
    QTest::addColumn<QPointF>("doubleClickAt");
    QTest::addColumn<QList<QPointF>>("expected");

    const QPointF a(100, 100), b(300, 100), c(300, 300);
    const int P = int(Tool::Polygon), K = int(Tool::Keypoint);
    QTest::newRow("polygon: double click places the last point")
        << P << 0 << QList<QPointF>{a, b} << c << QList<QPointF>{a, b, c};
    QTest::newRow("polygon: double click on the point just placed")
        << P << 0 << QList<QPointF>{a, b, c} << c << QList<QPointF>{a, b, c};
    // Closing near the first point, outside the polygon: the old canvas then
    // started a new polygon with the second click.
    QTest::newRow("polygon: double click that closes it")
        << P << 0 << QList<QPointF>{a, b, c} << QPointF(92, 94) << QList<QPointF>{a, b, c};
    QTest::newRow("keypoints: double click on the last name of the schema")
        << K << 3 << QList<QPointF>{a, b} << QPointF(60, 500) << QList<QPointF>{a, b, QPointF(60, 500)};
    QTest::newRow("keypoints: double click ends a set without schema")
        << K << 0 << QList<QPointF>{a, b} << c << QList<QPointF>{a, b, c};
}

void TestCanvasEditing::doubleClickFinishesCleanly()
{
    QFETCH(int, tool);
    QFETCH(int, schemaNames);
    QFETCH(QList<QPointF>, clicks);
    QFETCH(QPointF, doubleClickAt);
    QFETCH(QList<QPointF>, expected);
    auto canvas = makeCanvas({}, tool);
    if (schemaNames > 0)
        canvas->setKeypointSchema(schemaOf(schemaNames));
    for (const QPointF &p : clicks)
        click(canvas.get(), p);
    doubleClick(canvas.get(), doubleClickAt);
    QCOMPARE(canvas->annotations().size(), 1);
    QVERIFY(fuzzyPoints(canvas->annotations().at(0).points, expected));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(canvas->undoStack()->count(), 1);
    // Return now has nothing in progress to finish.
    QTest::keyClick(canvas.get(), Qt::Key_Return);
    QCOMPARE(canvas->annotations().size(), 1);
}

// --- Vertices and handles -----------------------------------------------------------

void TestCanvasEditing::verticesWinOverHandles_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("vertex");
    // A rectangle-shaped polygon: every corner is also a corner handle of its box.
    QTest::newRow("top-left corner") << QPointF(100, 100) << int(LabelCanvas::MoveVertex) << 0;
    QTest::newRow("top-right corner") << QPointF(300, 100) << int(LabelCanvas::MoveVertex) << 1;
    QTest::newRow("bottom-right corner") << QPointF(300, 250) << int(LabelCanvas::MoveVertex) << 2;
    QTest::newRow("bottom-left corner") << QPointF(100, 250) << int(LabelCanvas::MoveVertex) << 3;
    QTest::newRow("mid-edge handle still resizes") << QPointF(200, 100) << int(LabelCanvas::Resize) << -1;
}

void TestCanvasEditing::verticesWinOverHandles()
{
    QFETCH(QPointF, from);
    QFETCH(int, mode);
    QFETCH(int, vertex);
    const QList<QPointF> corners{QPointF(100, 100), QPointF(300, 100), QPointF(300, 250), QPointF(100, 250)};
    auto canvas = makeCanvas({polygon(corners)});
    canvas->selectAnnotation(0);
    move(canvas.get(), from);
    QCOMPARE(canvas->cursor().shape(), mode == int(LabelCanvas::Resize) ? Qt::SizeVerCursor : Qt::SizeAllCursor);
    press(canvas.get(), from);
    QCOMPARE(canvas->currentMode(), mode);
    QCOMPARE(canvas->selectedVertexIndex(), vertex);
    const QPointF to = from + QPointF(-30, -40);
    move(canvas.get(), to, Qt::LeftButton);
    release(canvas.get(), to);

    const Annotation edited = canvas->annotations().at(0);
    // Whatever moved, the box bounds the points.
    QCOMPARE(edited.bbox, QPolygonF(edited.points).boundingRect());
    if (vertex >= 0) {
        QList<QPointF> expected = corners;
        expected[vertex] = to;
        QCOMPARE(edited.points, expected);
    } else {
        QCOMPARE(edited.bbox, QRectF(100, 60, 200, 190));
    }
}

// --- The picture's border -----------------------------------------------------------

void TestCanvasEditing::editsStayInThePicture_data()
{
    // Picture 400 x 300, shown at screen = image + (200, 150).
    QTest::addColumn<int>("tool");
    QTest::addColumn<QList<Annotation>>("labels");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<QList<QPointF>>("gesture"); // image points: press, moves..., release
    QTest::addColumn<bool>("place");             // clicks at the points, then Return
    QTest::addColumn<int>("index");
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<QList<QPointF>>("points");

    const QList<Annotation> none;
    const QList<QPointF> noPoints;
    const QList<Annotation> square{box(QRectF(50, 50, 100, 80))};
    const QList<Annotation> triangle{polygon({QPointF(300, 200), QPointF(380, 280), QPointF(250, 280)})};
    const int S = int(Tool::Select), B = int(Tool::BBox), P = int(Tool::Polygon), K = int(Tool::Keypoint);
    // clang-format off
    QTest::newRow("new box dragged past the bottom-right")
        << B << none << -1 << QList<QPointF>{{300, 200}, {450, 380}} << false
        << 0 << QRectF(300, 200, 100, 100) << noPoints;
    QTest::newRow("new box started left of the picture")
        << B << none << -1 << QList<QPointF>{{-100, -50}, {100, 120}} << false
        << 0 << QRectF(0, 0, 100, 120) << noPoints;
    QTest::newRow("box moved past the left edge")
        << S << square << -1 << QList<QPointF>{{60, 60}, {0, 70}, {-80, 70}} << false
        << 0 << QRectF(0, 60, 100, 80) << noPoints;
    QTest::newRow("box resized past the top")
        << S << square << 0 << QList<QPointF>{{100, 50}, {100, -40}} << false
        << 0 << QRectF(50, 0, 100, 130) << noPoints;
    QTest::newRow("polygon moved past the bottom-right")
        << S << triangle << -1 << QList<QPointF>{{310, 260}, {400, 330}} << false
        << 0 << QRectF(270, 220, 130, 80)
        << QList<QPointF>{{320, 220}, {400, 300}, {270, 300}};
    QTest::newRow("polygon vertex dragged out")
        << S << triangle << 0 << QList<QPointF>{{380, 280}, {450, 320}} << false
        << 0 << QRectF(250, 200, 150, 100)
        << QList<QPointF>{{300, 200}, {400, 300}, {250, 280}};
    QTest::newRow("polygon placed across the border")
        << P << none << -1 << QList<QPointF>{{-20, 10}, {100, -30}, {420, 310}} << true
        << 0 << QRectF(0, 0, 400, 300)
        << QList<QPointF>{{0, 10}, {100, 0}, {400, 300}};
    QTest::newRow("keypoints placed across the border")
        << K << none << -1 << QList<QPointF>{{10, 10}, {-5, 150}, {200, 305}} << true
        << 0 << QRectF(0, 10, 200, 290)
        << QList<QPointF>{{10, 10}, {0, 150}, {200, 300}};
    // clang-format on
}

void TestCanvasEditing::editsStayInThePicture()
{
    QFETCH(int, tool);
    QFETCH(QList<Annotation>, labels);
    QFETCH(int, preselected);
    QFETCH(QList<QPointF>, gesture);
    QFETCH(bool, place);
    QFETCH(int, index);
    QFETCH(QRectF, box);
    QFETCH(QList<QPointF>, points);

    auto canvas = smallPictureCanvas(labels, tool);
    QCOMPARE(canvas->pictureRect(), QRectF(0, 0, 400, 300));
    canvas->selectAnnotation(preselected);
    if (place) {
        for (const QPointF &p : gesture)
            click(canvas.get(), p + SmallOffset);
        QTest::keyClick(canvas.get(), Qt::Key_Return);
    } else {
        press(canvas.get(), gesture.first() + SmallOffset);
        for (qsizetype i = 1; i < gesture.size(); ++i)
            move(canvas.get(), gesture.at(i) + SmallOffset, Qt::LeftButton);
        release(canvas.get(), gesture.last() + SmallOffset);
    }
    QVERIFY(index < canvas->annotations().size());
    const Annotation a = canvas->annotations().at(index);
    QCOMPARE(a.bbox, box);
    QVERIFY2(fuzzyPoints(a.points, points), qPrintable(QTest::toString(a.points.value(0))));
}

void TestCanvasEditing::importedShapesOutsideAreKeptUntilEdited()
{
    // As imported: a box reaching past the top-left corner.
    const QList<Annotation> labels{box(QRectF(-20, -10, 60, 50))};
    auto canvas = smallPictureCanvas(labels, int(Tool::Select));
    // Selecting it (a click, no drag) changes nothing.
    click(canvas.get(), QPointF(10, 10) + SmallOffset);
    QCOMPARE(canvas->selectedAnnotationIndex(), 0);
    QCOMPARE(canvas->annotations(), labels);
    QCOMPARE(canvas->undoStack()->count(), 0);
    // Moving it brings it into the picture.
    drag(canvas.get(), QPointF(10, 10) + SmallOffset, QPointF(15, 10) + SmallOffset);
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(0, 0, 60, 50));
}

// --- Objects of several parts and crowd regions --------------------------------------

void TestCanvasEditing::severalPartsAndCrowdsAreDrawnAndHit_data()
{
    QTest::addColumn<bool>("many");
    QTest::newRow("drawn live") << false;
    QTest::newRow("kept as pictures") << true;
}

// Every part of an object of several is drawn and hit; a crowd region shows its
// mask, not a filled box.
void TestCanvasEditing::severalPartsAndCrowdsAreDrawnAndHit()
{
    QFETCH(bool, many);
    QList<Annotation> labels = many ? manySmallBoxes() : QList<Annotation>();
    labels << twoPartObject() << crowdRegion(false);
    const int object = int(labels.size()) - 2;
    auto canvas = makeCanvas(labels);

    const QImage shown = grabbed(canvas.get());
    QVERIFY2(dominated(shown.pixel(InSmallPart.toPoint()), 0), qPrintable(QString::number(shown.pixel(530, 425), 16)));
    // Inside the crowd's mask its colour; inside its box but off the mask the
    // picture as it is.
    QVERIFY2(dominated(shown.pixel(430, 170), 2), qPrintable(QString::number(shown.pixel(430, 170), 16)));
    const QRgb offMask = shown.pixel(500, 140);
    QVERIFY2(std::abs(qRed(offMask) - ImageGrey.red()) <= 3 && std::abs(qBlue(offMask) - ImageGrey.blue()) <= 3,
             qPrintable(QString::number(offMask, 16)));

    move(canvas.get(), InSmallPart);
    QCOMPARE(canvas->cursor().shape(), Qt::SizeAllCursor);
    click(canvas.get(), InSmallPart);
    QCOMPARE(canvas->selectedAnnotationIndex(), object);
}

void TestCanvasEditing::handlesAreDrawnWhereTheyResize_data()
{
    QTest::addColumn<Annotation>("annotation");
    QTest::addColumn<int>("tool");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<bool>("handles");

    const int S = int(Tool::Select), B = int(Tool::BBox), P = int(Tool::Polygon), K = int(Tool::Keypoint);
    const QRectF boxFrame(100, 100, 200, 150);
    const QRectF pentagonFrame(100, 100, 200, 200);
    Annotation set = keypoints({QPointF(150, 150), QPointF(250, 200), QPointF(200, 280)}, {2, 2, 2});
    set.bbox = QRectF(100, 100, 200, 200);
    // clang-format off
    QTest::newRow("box, select")              << box(boxFrame) << S << boxFrame      << true;
    QTest::newRow("box, box tool")            << box(boxFrame) << B << boxFrame      << true;
    QTest::newRow("box, polygon tool")        << box(boxFrame) << P << boxFrame      << false;
    QTest::newRow("polygon, select")          << polygon(Pentagon) << S << pentagonFrame << true;
    QTest::newRow("polygon, box tool")        << polygon(Pentagon) << B << pentagonFrame << true;
    QTest::newRow("polygon, polygon tool")    << polygon(Pentagon) << P << pentagonFrame << false;
    QTest::newRow("two parts, select")        << twoPartObject() << S << TwoPartFrame  << true;
    QTest::newRow("keypoint set, select")     << set << S << set.bbox << true;
    QTest::newRow("keypoint set, keypoints")  << set << K << set.bbox << false;
    // clang-format on
}

// A handle is drawn exactly where a press resizes: on the frame of the whole
// object, with the tools that resize.
void TestCanvasEditing::handlesAreDrawnWhereTheyResize()
{
    QFETCH(Annotation, annotation);
    QFETCH(int, tool);
    QFETCH(QRectF, frame);
    QFETCH(bool, handles);
    auto canvas = makeCanvas({annotation}, tool);
    canvas->selectAnnotation(0);
    const QImage shown = grabbed(canvas.get());
    const QList<QPointF> points{frame.topLeft(),     QPointF(frame.center().x(), frame.top()),
                                frame.topRight(),    QPointF(frame.right(), frame.center().y()),
                                frame.bottomRight(), QPointF(frame.center().x(), frame.bottom()),
                                frame.bottomLeft(),  QPointF(frame.left(), frame.center().y())};
    for (const QPointF &at : points) {
        const QColor centre = shown.pixelColor(at.toPoint());
        const auto near = [&centre](const QColor &c) {
            return std::abs(centre.red() - c.red()) <= 8 && std::abs(centre.green() - c.green()) <= 8 &&
                   std::abs(centre.blue() - c.blue()) <= 8;
        };
        const bool drawn = near(QColor("#4d9fff")) || near(Qt::white);
        QVERIFY2(drawn == handles, qPrintable(QStringLiteral("(%1, %2): %3").arg(at.x()).arg(at.y()).arg(centre.name())));
        move(canvas.get(), at);
        const Qt::CursorShape cursor = canvas->cursor().shape();
        const bool resizeCursor = cursor == Qt::SizeFDiagCursor || cursor == Qt::SizeBDiagCursor ||
                                  cursor == Qt::SizeVerCursor || cursor == Qt::SizeHorCursor;
        QCOMPARE(resizeCursor, handles);
        press(canvas.get(), at);
        QCOMPARE(canvas->currentMode() == LabelCanvas::Resize, handles);
        release(canvas.get(), at);
        QTest::keyClick(canvas.get(), Qt::Key_Escape);
        canvas->selectAnnotation(0);
    }
}

void TestCanvasEditing::movesAndResizesCarryEveryPart_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRectF>("frameAfter");
    QTest::addColumn<QString>("stepText");
    QTest::newRow("move") << QPointF(200, 200) << QPointF(223.5, 171) << QRectF(123.5, 71, 461, 363)
                          << QStringLiteral("Move annotation");
    QTest::newRow("resize by the bottom-right handle")
        << TwoPartFrame.bottomRight() << QPointF(661, 563) << QRectF(100, 100, 561, 463)
        << QStringLiteral("Resize annotation");
    QTest::newRow("resize by the top-left handle, flipped")
        << TwoPartFrame.topLeft() << QPointF(700, 590) << QRectF(561, 463, 139, 127)
        << QStringLiteral("Resize annotation");
}

// Moving or resizing an object of two parts takes both along: the exports
// write both where the canvas shows them, with the box and area that follow,
// and undo and redo give back each state exactly.
void TestCanvasEditing::movesAndResizesCarryEveryPart()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QRectF, frameAfter);
    QFETCH(QString, stepText);
    const Annotation before = twoPartObject();
    auto canvas = makeCanvas({before});
    canvas->selectAnnotation(0);
    drag(canvas.get(), from, to);
    QCOMPARE(canvas->undoStack()->undoText(), stepText);
    const Annotation after = canvas->annotations().at(0);

    // Each point keeps its place relative to the frame (a flipped frame mirrors it).
    const double sx = frameAfter.width() / TwoPartFrame.width();
    const double sy = frameAfter.height() / TwoPartFrame.height();
    const bool flipped = frameAfter.left() >= TwoPartFrame.right();
    const auto place = [&](const QList<QPointF> &points) {
        QList<QPointF> out;
        for (const QPointF &p : points) {
            const double u = (p.x() - TwoPartFrame.left()) / TwoPartFrame.width();
            const double v = (p.y() - TwoPartFrame.top()) / TwoPartFrame.height();
            out.append(flipped ? QPointF(frameAfter.right() - u * frameAfter.width(), frameAfter.bottom() - v * frameAfter.height())
                               : QPointF(frameAfter.left() + u * frameAfter.width(), frameAfter.top() + v * frameAfter.height()));
        }
        return out;
    };
    const QList<QPointF> small = place(SmallPart);
    const QList<QPointF> outline = place(Pentagon);
    QVERIFY2(fuzzyPoints(after.points, outline), qPrintable(QTest::toString(after.points.value(0))));

    QTemporaryDir dir;
    const QJsonObject coco = exported(canvas->annotations(), dir.path());
    const QJsonArray objects = coco.value("annotations").toArray();
    QCOMPARE(objects.size(), 1);
    const QJsonObject object = objects.at(0).toObject();
    const QJsonArray parts = object.value("segmentation").toArray();
    QCOMPARE(parts.size(), 2);
    QVERIFY(fuzzyPoints(pairs(parts.at(0).toArray()), small));
    QVERIFY(fuzzyPoints(pairs(parts.at(1).toArray()), outline));
    const QJsonArray bbox = object.value("bbox").toArray();
    FormatTest::fuzzyCompareRect(QRectF(bbox.at(0).toDouble(), bbox.at(1).toDouble(), bbox.at(2).toDouble(),
                                        bbox.at(3).toDouble()),
                                 frameAfter, 1e-6);
    QCOMPARE(object.value("area").toDouble(), TwoPartArea * sx * sy);
    QByteArray output;
    QVERIFY(runReader("check_training.py", {"coco", dir.filePath("coco.json"), "1", R"({"parts": [2]})"}, &output));
    // LabelMe: one shape a part, in one group, where the canvas shows them.
    const QString labelMe = dir.filePath("labelme/memory.json");
    QVERIFY(runReader("check_training.py", {"labelmegroups", labelMe, "[2]"}, &output));
    const QJsonArray shapes = QJsonDocument::fromJson(FormatTest::readFile(labelMe)).object().value("shapes").toArray();
    QCOMPARE(shapes.size(), 2);
    QList<QPointF> shapePoints;
    for (const QJsonValue &p : shapes.at(0).toObject().value("points").toArray())
        shapePoints.append(QPointF(p.toArray().at(0).toDouble(), p.toArray().at(1).toDouble()));
    QVERIFY(fuzzyPoints(shapePoints, small));

    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().at(0), before);
    canvas->undoStack()->redo();
    QCOMPARE(canvas->annotations().at(0), after);
}

void TestCanvasEditing::outlineEditsKeepTheOtherParts_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QList<QPointF>>("outline");
    QTest::addColumn<QString>("stepText");
    QList<QPointF> dragged = Pentagon;
    dragged[1] = QPointF(290, 80);
    QList<QPointF> inserted = Pentagon;
    inserted.insert(3, QPointF(270, 270));
    QList<QPointF> deleted = Pentagon;
    deleted.removeAt(2);
    QTest::newRow("vertex dragged") << QStringLiteral("drag") << dragged << QStringLiteral("Move vertex");
    QTest::newRow("vertex inserted on an edge") << QStringLiteral("insert") << inserted << QStringLiteral("Move vertex");
    QTest::newRow("vertex deleted") << QStringLiteral("delete") << deleted << QStringLiteral("Delete vertex");
}

// An edit of the outline's vertices keeps the outline one of the object's
// parts: the other part stays and exports, the area it came with gives way to
// the parts' own.
void TestCanvasEditing::outlineEditsKeepTheOtherParts()
{
    QFETCH(QString, edit);
    QFETCH(QList<QPointF>, outline);
    QFETCH(QString, stepText);
    const Annotation before = twoPartObject();
    auto canvas = makeCanvas({before});
    canvas->selectAnnotation(0);
    if (edit == "drag") {
        drag(canvas.get(), Pentagon.at(1), QPointF(290, 80));
    } else if (edit == "insert") {
        // On the edge from (300, 210) to (220, 300), then out to (270, 270).
        drag(canvas.get(), QPointF(260, 255), QPointF(270, 270));
    } else {
        click(canvas.get(), Pentagon.at(2));
        QTest::keyClick(canvas.get(), Qt::Key_Delete);
    }
    QCOMPARE(canvas->undoStack()->undoText(), stepText);
    const Annotation after = canvas->annotations().at(0);
    QVERIFY2(fuzzyPoints(after.points, outline), qPrintable(QTest::toString(after.points.value(1))));

    QTemporaryDir dir;
    const QJsonObject object = exported({after}, dir.path()).value("annotations").toArray().at(0).toObject();
    const QJsonArray parts = object.value("segmentation").toArray();
    QCOMPARE(parts.size(), 2);
    QVERIFY(fuzzyPoints(pairs(parts.at(0).toArray()), SmallPart));
    QVERIFY(fuzzyPoints(pairs(parts.at(1).toArray()), outline));
    QCOMPARE(object.value("area").toDouble(), shoelace(SmallPart) + shoelace(outline));
    QByteArray output;
    QVERIFY(runReader("check_training.py", {"labelmegroups", dir.filePath("labelme/memory.json"), "[2]"}, &output));

    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().at(0), before);
    canvas->undoStack()->redo();
    QCOMPARE(canvas->annotations().at(0), after);
}

void TestCanvasEditing::crowdRegionsTakeTheirMaskAlong_data()
{
    QTest::addColumn<bool>("asText");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRect>("extent");
    const QPointF bottomRight(520, 220);
    for (const bool asText : {false, true}) {
        const char *form = asText ? "counts as text" : "counts as a list";
        // By whole pixels: the mask lies on them.
        QTest::addRow("move, %s", form) << asText << QPointF(430, 170) << QPointF(467.4, 157.4)
                                        << QRect(417, 107, 140, 100);
        QTest::addRow("resize, %s", form) << asText << bottomRight << QPointF(590.3, 270.6)
                                          << QRect(380, 120, 210, 151);
    }
    QTest::addRow("shrink past the top-left corner") << false << bottomRight << QPointF(310, 71)
                                                     << QRect(310, 71, 70, 49);
}

// A crowd region moved or resized takes its mask and area along: COCO writes a
// mask, box and area that agree, as the COCO API decodes the mask, in the form
// the counts came in. Undo gives the region back as it was.
void TestCanvasEditing::crowdRegionsTakeTheirMaskAlong()
{
    QFETCH(bool, asText);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QRect, extent);
    const Annotation before = crowdRegion(asText);
    auto canvas = makeCanvas({before});
    canvas->selectAnnotation(0);
    drag(canvas.get(), from, to);
    QCOMPARE(canvas->annotations().at(0).bbox, QRectF(extent));

    QTemporaryDir dir;
    const QJsonObject object = exported(canvas->annotations(), dir.path()).value("annotations").toArray().at(0).toObject();
    QCOMPARE(object.value("iscrowd").toInt(), 1);
    QByteArray output;
    QVERIFY(runReader("coco_masks.py", {dir.filePath("coco.json"), "0"}, &output));
    const QJsonObject mask = QJsonDocument::fromJson(output.split('\n').value(1)).object();
    QCOMPARE(mask.value("form").toString(), asText ? QStringLiteral("text") : QStringLiteral("list"));
    QCOMPARE(mask.value("extent").toArray(),
             (QJsonArray{extent.x(), extent.y(), extent.width(), extent.height()}));

    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().at(0), before);
}

QM_TEST_MAIN(TestCanvasEditing)
#include "tst_canvasediting.moc"
