#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "canvas/CanvasOverlayPainter.h"
#include "chrome/Theme.h"
#include "model/Dataset.h"

#include <QSignalSpy>

#include <cmath>

using namespace Quillmark;
using namespace CanvasTest;

namespace {

// Expected colour of `c` at `alpha` over an opaque background.
QColor blended(const QColor &c, int alpha, const QColor &bg)
{
    auto mix = [&](int a, int b) { return (a * alpha + b * (255 - alpha)) / 255; };
    return QColor(mix(c.red(), bg.red()), mix(c.green(), bg.green()), mix(c.blue(), bg.blue()));
}

bool near(QRgb px, const QColor &expected, int tolerance = 3)
{
    return std::abs(qRed(px) - expected.red()) <= tolerance && std::abs(qGreen(px) - expected.green()) <= tolerance &&
           std::abs(qBlue(px) - expected.blue()) <= tolerance;
}

bool anyNearWhite(const QImage &img, const QPoint &centre, int radius)
{
    for (int y = centre.y() - radius; y <= centre.y() + radius; ++y) {
        for (int x = centre.x() - radius; x <= centre.x() + radius; ++x) {
            const QRgb px = img.pixel(x, y);
            if (qRed(px) > 220 && qGreen(px) > 220 && qBlue(px) > 220)
                return true;
        }
    }
    return false;
}

std::unique_ptr<LabelCanvas> shownEmptyCanvas()
{
    auto canvas = std::make_unique<LabelCanvas>();
    canvas->resize(800, 600);
    canvas->show();
    if (!QTest::qWaitForWindowExposed(canvas.get()))
        qWarning("canvas not exposed");
    return canvas;
}

// A grid of `count` small boxes and triangles over the image.
QList<Annotation> manyShapes(int count)
{
    QList<Annotation> labels;
    for (int i = 0; i < count; ++i) {
        const double x = 20 + (i % 20) * 38;
        const double y = 30 + (i / 20) * 45;
        if (i % 2)
            labels << box(QRectF(x, y, 30, 28), i % 3 ? QStringLiteral("object") : QStringLiteral("person"));
        else
            labels << polygon({QPointF(x, y + 28), QPointF(x + 15, y), QPointF(x + 30, y + 28)});
    }
    return labels;
}

// Number of pixels that differ by more than `tolerance` in some channel.
int differingPixels(const QImage &a, const QImage &b, int tolerance = 2)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                std::abs(qBlue(p) - qBlue(q)) > tolerance)
                ++count;
        }
    }
    return count;
}

// What a canvas that has just been given the list and selection shows.
QImage freshPicture(const QList<Annotation> &labels, int selected, const QMap<QString, QColor> &colors,
                    bool showLabels = true)
{
    auto canvas = makeCanvas(labels);
    canvas->setClassColors(colors);
    canvas->setShowLabels(showLabels);
    canvas->selectAnnotation(selected);
    return grabbed(canvas.get());
}

} // namespace

class TestCanvasView : public QObject {
    Q_OBJECT
private slots:
    void fitsAndCentresOnShow();
    void zoomButtonsKeepTheCentre();
    void zoomWithoutImage();
    void wheelZoomsAboutTheCursor();
    void zoomStaysFiniteAndPositive();
    void middleButtonPans();
    void displayedEntryIdFollowsTheEntry();
    void unreadableFileLeavesPlaceholderAndView();

    void placeholderFollowsTheme();
    void drawsBoxesWithTagsAndHandles();
    void unknownClassTakesAStablePaletteColour();
    void hidesTagsWhenLabelsAreOff();
    void polylinesPointsAndOnePointPolygonsAreNotDrawn();
    void bodySkeletonSkipsUnlabelledAndDrawsNoNumbers();
    void chainKeypointsAreNumbered();
    void skeletonColours_data();
    void skeletonColours();
    void checklistFollowsTheCurrentKeypoint();
    void crosshairFollowsTheCursor();
    void damagedCoordinatesAreNotDrawn();
    void largeSetsPaintLikeSmallOnes();
    void largeSetsRepaintAfterEveryKindOfChange();
};

void TestCanvasView::fitsAndCentresOnShow()
{
    auto canvas = shownEmptyCanvas();
    QSignalSpy zoom(canvas.get(), &LabelCanvas::zoomChanged);
    canvas->setImage(entryWith(1, {}, 1000, 500));
    QCOMPARE(canvas->viewScale(), 0.92f * 0.8f);
    QVERIFY(std::abs(canvas->viewOffset().x() - 32.0) < 1e-3);
    QVERIFY(std::abs(canvas->viewOffset().y() - 116.0) < 1e-3);
    QCOMPARE(zoom.count(), 0);
    canvas->fitToWindow();
    QCOMPARE(zoom.count(), 1);
    QCOMPARE(zoom.at(0).at(0).toInt(), 74);

    canvas->setImage(entryWith(2, {}, 800, 600));
    canvas->fitToWindow();
    QCOMPARE(zoom.last().at(0).toInt(), 92);
}

void TestCanvasView::zoomButtonsKeepTheCentre()
{
    auto canvas = makeCanvas();
    canvas->fitToWindow();
    const QPointF centre(400, 300);
    const QPointF imageAtCentre = canvas->toImage(centre);
    QSignalSpy zoom(canvas.get(), &LabelCanvas::zoomChanged);
    canvas->zoomIn();
    QCOMPARE(zoom.last().at(0).toInt(), 115);
    QVERIFY((canvas->toImage(centre) - imageAtCentre).manhattanLength() < 1e-3);
    canvas->zoomOut();
    QCOMPARE(zoom.last().at(0).toInt(), 92);
    QVERIFY((canvas->toImage(centre) - imageAtCentre).manhattanLength() < 1e-3);

    canvas->zoomActualSize();
    QCOMPARE(canvas->viewScale(), 1.0f);
    QCOMPARE(canvas->viewOffset(), QPointF(0, 0));
    QCOMPARE(zoom.last().at(0).toInt(), 100);
}

void TestCanvasView::zoomWithoutImage()
{
    // Nothing to zoom: no command and no wheel changes or reports a zoom (the
    // next picture is fitted anyway).
    auto canvas = shownEmptyCanvas();
    QSignalSpy zoom(canvas.get(), &LabelCanvas::zoomChanged);
    canvas->fitToWindow();
    canvas->zoomActualSize();
    canvas->zoomIn();
    canvas->zoomOut();
    QVERIFY(!wheel(canvas.get(), QPointF(50, 50), QPoint(0, 120)));
    QCOMPARE(zoom.count(), 0);
    QCOMPARE(canvas->viewScale(), 1.0f);
}

void TestCanvasView::wheelZoomsAboutTheCursor()
{
    auto canvas = makeCanvas();
    QSignalSpy zoom(canvas.get(), &LabelCanvas::zoomChanged);
    const QPointF cursor(123, 456);
    const QPointF under = canvas->toImage(cursor);

    QVERIFY(wheel(canvas.get(), cursor, QPoint(0, 960))); // one step, whatever the delta
    QCOMPARE(canvas->viewScale(), 1.12f);
    QVERIFY((canvas->toImage(cursor) - under).manhattanLength() < 1e-3);
    QVERIFY(wheel(canvas.get(), cursor, QPoint(0, -120)));
    QCOMPARE(zoom.count(), 2);
    QVERIFY(std::abs(canvas->viewScale() - 1.0f) < 1e-5f);
    QVERIFY((canvas->toImage(cursor) - under).manhattanLength() < 1e-3);

    // A purely horizontal wheel does not zoom and is left to the parent.
    QVERIFY(!wheel(canvas.get(), cursor, QPoint(120, 0)));
    QCOMPARE(zoom.count(), 2);
}

void TestCanvasView::zoomStaysFiniteAndPositive()
{
    auto canvas = makeCanvas();
    for (int i = 0; i < 400; ++i)
        canvas->zoomIn();
    const float big = canvas->viewScale();
    QVERIFY(std::isfinite(big) && big > 1000.0f);
    const QPointF back = canvas->toImage(canvas->toScreen(QPointF(10, 20)));
    QVERIFY(std::abs(back.x() - 10) < 1e-3 && std::abs(back.y() - 20) < 1e-3);
    for (int i = 0; i < 800; ++i)
        wheel(canvas.get(), QPointF(400, 300), QPoint(0, -120));
    const float small = canvas->viewScale();
    QVERIFY(small > 0.0f && small < 0.001f);
    QVERIFY(std::isfinite(canvas->viewOffset().x()) && std::isfinite(canvas->viewOffset().y()));
    QVERIFY(std::isfinite(canvas->toImage(QPointF(5, 5)).x()));
}

void TestCanvasView::middleButtonPans()
{
    auto canvas = makeCanvas({}, int(Tool::BBox));
    QSignalSpy zoom(canvas.get(), &LabelCanvas::zoomChanged);
    press(canvas.get(), QPointF(100, 100), Qt::MiddleButton);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Pan));
    move(canvas.get(), QPointF(130, 90), Qt::MiddleButton);
    move(canvas.get(), QPointF(150, 80), Qt::MiddleButton);
    release(canvas.get(), QPointF(150, 80), Qt::MiddleButton);
    QCOMPARE(canvas->viewOffset(), QPointF(50, -20));
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));
    QCOMPARE(zoom.count(), 0);
}

void TestCanvasView::displayedEntryIdFollowsTheEntry()
{
    LabelCanvas fresh;
    QVERIFY(!fresh.displayedEntryId().has_value());
    auto canvas = makeCanvas();
    QCOMPARE(canvas->displayedEntryId(), 1);
    // Video 0's frames have the id ~0 == -1, which is not "nothing shown".
    for (const int videoId : {7, 0}) {
        canvas->setImageFromPixmap(entryWith(~videoId), QPixmap::fromImage(solidImage(320, 240)));
        QCOMPARE(canvas->displayedEntryId(), ~videoId);
        QVERIFY(canvas->displayedEntryId().has_value());
    }
    canvas->clear();
    QVERIFY(!canvas->displayedEntryId().has_value());
    QVERIFY(canvas->annotations().isEmpty());
}

void TestCanvasView::unreadableFileLeavesPlaceholderAndView()
{
    auto canvas = makeCanvas();
    canvas->zoomIn();
    const float scale = canvas->viewScale();
    ImageEntry missing;
    missing.id = 9;
    missing.filePath = QStringLiteral("/nonexistent/photo.png");
    missing.labels = {box(QRectF(10, 10, 50, 50))};
    canvas->setImage(missing);
    QCOMPARE(canvas->viewScale(), scale);
    QCOMPARE(canvas->annotations().size(), 1);
    QVERIFY(near(grabbed(canvas.get()).pixel(2, 2), QColor("#d7dde5")));
}

// The strongest contrast (WCAG ratio) of any pixel of `image` against `background`.
double strongestContrast(const QImage &image, const QColor &background)
{
    const auto luminance = [](QRgb rgb) {
        const auto linear = [](int c) {
            const double v = c / 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
    };
    const double back = luminance(background.rgb());
    double strongest = 1.0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double l = luminance(image.pixel(x, y));
            strongest = std::max(strongest, (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05));
        }
    }
    return strongest;
}

void TestCanvasView::placeholderFollowsTheme()
{
    // The empty page's help reads in both themes: its text stands out from
    // the page as body text must (4.5 : 1).
    auto canvas = shownEmptyCanvas();
    QImage page = grabbed(canvas.get());
    QVERIFY(near(page.pixel(5, 5), QColor("#d7dde5")));
    QVERIFY2(strongestContrast(page, QColor("#d7dde5")) >= 4.5,
             qPrintable(QString::number(strongestContrast(page, QColor("#d7dde5")))));
    canvas->setThemeMode(Theme::Dark);
    page = grabbed(canvas.get());
    QVERIFY(near(page.pixel(5, 5), QColor("#1e1f28")));
    QVERIFY2(strongestContrast(page, QColor("#1e1f28")) >= 4.5,
             qPrintable(QString::number(strongestContrast(page, QColor("#1e1f28")))));
}

void TestCanvasView::drawsBoxesWithTagsAndHandles()
{
    auto canvas = makeCanvas({box(QRectF(200, 200, 200, 100))});
    canvas->zoomOut(); // leaves a margin of background around the image
    canvas->setThemeMode(Theme::Dark);
    QImage img = grabbed(canvas.get());
    QVERIFY(near(img.pixel(2, 2), QColor("#1e1f28")));
    const QPoint inside = canvas->toScreen(QPointF(300, 250)).toPoint();
    QVERIFY(near(img.pixel(inside), blended(Qt::red, 30, ImageGrey)));
    const QPoint tag = (canvas->toScreen(QPointF(200, 200)) + QPointF(2, -10)).toPoint();
    QVERIFY(near(img.pixel(tag), blended(Qt::red, 200, ImageGrey)));

    canvas->selectAnnotation(0);
    img = grabbed(canvas.get());
    QVERIFY(near(img.pixel(inside), blended(Qt::red, 55, ImageGrey)));
    for (const QPointF corner : {QPointF(200, 200), QPointF(400, 300), QPointF(300, 300)}) {
        const QPoint handle = (canvas->toScreen(corner) + QPointF(2, 2)).toPoint();
        QVERIFY2(near(img.pixel(handle), QColor("#4d9fff"), 6), qPrintable(QString::number(img.pixel(handle), 16)));
    }
}

void TestCanvasView::unknownClassTakesAStablePaletteColour()
{
    const QString name = QStringLiteral("not-in-the-map");
    const QColor expected = classPalette[qHash(name, 0) % 8];
    for (int round = 0; round < 2; ++round) {
        auto canvas = makeCanvas({box(QRectF(200, 200, 200, 100), name)});
        const QImage img = grabbed(canvas.get());
        QVERIFY(near(img.pixel(202, 190), blended(expected, 200, ImageGrey)));
    }
}

void TestCanvasView::hidesTagsWhenLabelsAreOff()
{
    auto canvas = makeCanvas({box(QRectF(200, 200, 200, 100))});
    QVERIFY(!near(grabbed(canvas.get()).pixel(202, 190), ImageGrey));
    canvas->setShowLabels(false);
    QVERIFY(near(grabbed(canvas.get()).pixel(202, 190), ImageGrey));
}

void TestCanvasView::polylinesPointsAndOnePointPolygonsAreNotDrawn()
{
    Annotation line;
    line.kind = Polyline;
    line.className = QStringLiteral("object");
    line.points = {QPointF(100, 100), QPointF(300, 100)};
    line.bbox = QRectF(100, 100, 200, 0);
    Annotation point;
    point.kind = Point;
    point.className = QStringLiteral("object");
    point.points = {QPointF(500, 500)};
    point.bbox = QRectF(495, 495, 10, 10);
    const Annotation lonely = polygon({QPointF(600, 100)});
    auto canvas = makeCanvas({line, point, lonely});
    canvas->setShowLabels(false);
    const QImage img = grabbed(canvas.get());
    QVERIFY(near(img.pixel(200, 100), ImageGrey));
    QVERIFY(near(img.pixel(500, 500), ImageGrey));
    QVERIFY(near(img.pixel(600, 100), ImageGrey));
    QCOMPARE(canvas->annotations().size(), 3);
}

void TestCanvasView::bodySkeletonSkipsUnlabelledAndDrawsNoNumbers()
{
    QList<QPointF> pts;
    QList<int> vis;
    for (int i = 0; i < 17; ++i) {
        pts << QPointF(100 + 30 * i, 100 + (i % 2) * 200);
        vis << 2;
    }
    vis[2] = 0;                 // right eye unlabelled: edges (0,2) and (2,4) vanish
    auto canvas = makeCanvas({keypoints(pts, vis)});
    canvas->setShowLabels(false);
    const QImage img = grabbed(canvas.get());
    // Edge (0, 1): centre to left, green.
    const QPoint mid01 = ((pts[0] + pts[1]) / 2).toPoint();
    QVERIFY(dominated(img.pixel(mid01), 1, 20));
    // Edge (0, 2) is not drawn.
    const QPoint mid02 = ((pts[0] + pts[2]) / 2).toPoint();
    QVERIFY(near(img.pixel(mid02), ImageGrey));
    // The nose dot is plain side colour, with no number on it.
    QVERIFY(near(img.pixel(pts[0].toPoint()), QColor(85, 199, 114), 6));
    QVERIFY(!anyNearWhite(img, pts[0].toPoint(), 3));
    // The unlabelled keypoint is not drawn where it is stored.
    QVERIFY(near(img.pixel(pts[2].toPoint()), ImageGrey));
}

void TestCanvasView::chainKeypointsAreNumbered()
{
    QList<QPointF> pts;
    for (int i = 0; i < 5; ++i)
        pts << QPointF(150 + 100 * i, 300);
    auto canvas = makeCanvas({keypoints(pts, {2, 2, 2, 2, 2})});
    canvas->setShowLabels(false);
    const QImage img = grabbed(canvas.get());
    for (const QPointF &p : pts)
        QVERIFY(anyNearWhite(img, p.toPoint(), 3));
    // The chain between neighbours is drawn.
    QVERIFY(!near(img.pixel(200, 300), ImageGrey));
}

void TestCanvasView::skeletonColours_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("body, left arm") << 17 << 5 << 7 << QColor(77, 141, 255);
    QTest::newRow("body, right leg") << 17 << 14 << 16 << QColor(255, 87, 87);
    QTest::newRow("body, shoulders") << 17 << 5 << 6 << QColor(85, 199, 114);
    QTest::newRow("hand, thumb") << 21 << 1 << 2 << QColor(255, 159, 64);
    QTest::newRow("hand, palm to little finger") << 21 << 13 << 17 << QColor(255, 87, 87);
}

void TestCanvasView::skeletonColours()
{
    QFETCH(int, count);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QColor, colour);
    // All points in a far corner except the two ends of the edge under test.
    QList<QPointF> pts(count, QPointF(780, 580));
    // On the middle of a pixel row, so that the 1.8-pixel line covers row 300.
    pts[from] = QPointF(200, 300.5);
    pts[to] = QPointF(600, 300.5);
    auto canvas = makeCanvas({keypoints(pts, QList<int>(count, 2))});
    canvas->setShowLabels(false);
    const QImage img = grabbed(canvas.get());
    const QColor expected = blended(colour, 200, ImageGrey);
    QVERIFY2(near(img.pixel(400, 300), expected, 6), qPrintable(QColor(img.pixel(400, 300)).name()));
}

void TestCanvasView::checklistFollowsTheCurrentKeypoint()
{
    QCOMPARE(CanvasOverlayPainter::checklistFirstRow(30, 20), 14);
    QCOMPARE(CanvasOverlayPainter::checklistFirstRow(30, 0), 0);
    QCOMPARE(CanvasOverlayPainter::checklistFirstRow(30, 30), 18);
    QCOMPARE(CanvasOverlayPainter::checklistFirstRow(5, 3), 0);

    auto canvas = makeCanvas({}, int(Tool::Keypoint));
    KeypointSchema schema;
    schema.objectClass = QStringLiteral("person");
    for (int i = 0; i < 30; ++i)
        schema.keypointNames << QStringLiteral("kp%1").arg(i);
    canvas->setKeypointSchema(schema);
    // The panel darkens the right side of the canvas, centred vertically.
    const QImage with = grabbed(canvas.get());
    QVERIFY(qGray(with.pixel(780, 300)) < qGray(ImageGrey.rgb()));
    canvas->setTool(int(Tool::Select));
    QVERIFY(near(grabbed(canvas.get()).pixel(780, 300), ImageGrey));
}

void TestCanvasView::crosshairFollowsTheCursor()
{
    auto canvas = makeCanvas();
    canvas->setThemeMode(Theme::Dark);
    move(canvas.get(), QPointF(400, 300));
    QImage img = grabbed(canvas.get());
    int lit = 0;
    // A one-pixel antialiased line on a pixel boundary covers two rows half each.
    for (int x = 0; x < 100; ++x)
        lit += std::max(qGray(img.pixel(x, 299)), qGray(img.pixel(x, 300))) > 70 ? 1 : 0;
    QVERIFY(lit > 40 && lit < 70); // dashed: 6 on, 5 off
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(canvas.get(), &leave);
    img = grabbed(canvas.get());
    QVERIFY(near(img.pixel(50, 300), ImageGrey));
}

void TestCanvasView::damagedCoordinatesAreNotDrawn()
{
    const double nan = qQNaN();
    const double inf = qInf();
    const QList<Annotation> labels{
        box(QRectF(nan, 100, 50, 50)),
        box(QRectF(100, 100, inf, 50)),
        polygon({QPointF(300, 300), QPointF(nan, 320), QPointF(350, 400)}),
        keypoints({QPointF(500, 500), QPointF(inf, -inf), QPointF(550, 520)}, {2, 2, 2}),
        box(QRectF(1e300, -1e300, 1e300, 1e300)),
    };
    auto canvas = makeCanvas(labels);
    canvas->setShowLabels(false);
    for (int i = 0; i < labels.size(); ++i)
        canvas->selectAnnotation(i);
    move(canvas.get(), QPointF(320, 350));
    click(canvas.get(), QPointF(320, 350));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(canvas.get(), &leave);
    const QImage img = grabbed(canvas.get());
    QVERIFY(near(img.pixel(320, 350), ImageGrey));
    QVERIFY(near(img.pixel(500, 500), ImageGrey));
    QCOMPARE(canvas->annotations().size(), labels.size());
}

void TestCanvasView::largeSetsPaintLikeSmallOnes()
{
    // 199 shapes are drawn straight onto the canvas; adding an invisible
    // polyline brings the list to 200, which is drawn through cached layers.
    QList<Annotation> labels = manyShapes(199);
    auto direct = makeCanvas(labels);
    direct->selectAnnotation(57);
    Annotation line;
    line.kind = Polyline;
    line.className = QStringLiteral("object");
    line.points = {QPointF(1, 1), QPointF(2, 2)};
    labels << line;
    auto layered = makeCanvas(labels);
    layered->selectAnnotation(57);
    QCOMPARE(differingPixels(grabbed(direct.get()), grabbed(layered.get())), 0);
}

void TestCanvasView::largeSetsRepaintAfterEveryKindOfChange()
{
    QMap<QString, QColor> colors{{QStringLiteral("object"), QColor(255, 0, 0)},
                                 {QStringLiteral("person"), QColor(0, 0, 255)}};
    auto canvas = makeCanvas(manyShapes(300));
    const QImage before = grabbed(canvas.get());
    QCOMPARE(differingPixels(before, freshPicture(manyShapes(300), -1, colors)), 0);

    // Drag the selected shape: only it moves, the rest stays as it was.
    canvas->selectAnnotation(101);
    grabbed(canvas.get());
    const QPointF inside = canvas->annotations().at(101).bbox.center();
    drag(canvas.get(), inside, inside + QPointF(7, 9));
    QEvent leave(QEvent::Leave); // no crosshair
    QApplication::sendEvent(canvas.get(), &leave);
    QCOMPARE(differingPixels(grabbed(canvas.get()), freshPicture(canvas->annotations(), 101, colors)), 0);

    // Undo replaces the list; the selection stays on index 101.
    undoKey(canvas.get());
    QCOMPARE(differingPixels(grabbed(canvas.get()), freshPicture(manyShapes(300), 101, colors)), 0);

    // An edit below the selection, a new colour, tags off, another selection.
    canvas->deleteAnnotation(3);
    QCOMPARE(differingPixels(grabbed(canvas.get()), freshPicture(canvas->annotations(), 100, colors)), 0);
    colors[QStringLiteral("object")] = QColor(0, 200, 0);
    canvas->setClassColors(colors);
    canvas->setShowLabels(false);
    canvas->selectAnnotation(5);
    QCOMPARE(differingPixels(grabbed(canvas.get()), freshPicture(canvas->annotations(), 5, colors, false)), 0);

    // Panning shifts the picture; at rest it is redrawn in full.
    press(canvas.get(), QPointF(400, 300), Qt::MiddleButton);
    move(canvas.get(), QPointF(380, 290), Qt::MiddleButton);
    grabbed(canvas.get());
    move(canvas.get(), QPointF(360, 280), Qt::MiddleButton);
    release(canvas.get(), QPointF(360, 280), Qt::MiddleButton);
    auto reference = makeCanvas(canvas->annotations());
    reference->setClassColors(colors);
    reference->setShowLabels(false);
    reference->selectAnnotation(5);
    press(reference.get(), QPointF(400, 300), Qt::MiddleButton);
    move(reference.get(), QPointF(360, 280), Qt::MiddleButton);
    release(reference.get(), QPointF(360, 280), Qt::MiddleButton);
    QCOMPARE(reference->viewOffset(), canvas->viewOffset());
    move(reference.get(), QPointF(360, 280));
    move(canvas.get(), QPointF(360, 280));
    QCOMPARE(differingPixels(grabbed(canvas.get()), grabbed(reference.get())), 0);
}

QM_TEST_MAIN(TestCanvasView)
#include "tst_canvasview.moc"
