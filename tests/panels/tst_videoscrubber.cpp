// The video scrubber: track maths, snapping to markers, marker jumps, silent
// setters, narrow widths and what is painted.

#include "QmTest.h"

#include "panels/VideoScrubber.h"

#include <QSignalSpy>

#include <limits>

using namespace Quillmark;

namespace {

void press(VideoScrubber &s, int x, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(&s, button, Qt::NoModifier, QPoint(x, 11));
}

bool hasTickColour(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 150 && c.red() < 60 && c.blue() > 90 && c.blue() < 160)
                return true;
        }
    }
    return false;
}

QImage render(VideoScrubber &s)
{
    QImage image(s.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    s.render(&image);
    return image;
}

} // namespace

class TestVideoScrubber : public QObject {
    Q_OBJECT

private slots:
    void pressMapsToValue_data();
    void pressMapsToValue();
    void emptyRangeNeverMoves();
    void snapping();
    void markersOutsideTheRangeAreClamped();
    void dragging();
    void markerJumps();
    void settersAreSilentAndClamp();
    void narrowWidthsAreSafe();
    void paintsTicksOnlyWithARange();
};

void TestVideoScrubber::pressMapsToValue_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("value");
    QTest::newRow("middle") << 108 << 50;
    QTest::newRow("left of the track") << 0 << 0;
    QTest::newRow("right of the track") << 300 << 100;
    QTest::newRow("track start") << 8 << 0;
    QTest::newRow("rounds to nearest") << 11 << 2;  // 1.5 frames + 0.5 → 2
}

void TestVideoScrubber::pressMapsToValue()
{
    QFETCH(int, x);
    QFETCH(int, value);
    VideoScrubber s;
    s.resize(216, 22);
    s.setRange(0, 100);
    s.setValue(value == 50 ? 0 : 50);
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    press(s, x);
    QCOMPARE(s.value(), value);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), value);
    QCOMPARE(s.xForValue(50), 108);
    QCOMPARE(s.valueAt(108), 50);
}

void TestVideoScrubber::emptyRangeNeverMoves()
{
    VideoScrubber s;
    s.resize(216, 22);
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    press(s, 150);
    QTest::mouseMove(&s, QPoint(200, 11));
    QCOMPARE(s.value(), 0);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(s.xForValue(0), 8);
}

void TestVideoScrubber::snapping()
{
    VideoScrubber s;
    s.resize(216, 22);  // 2 pixels per frame
    s.setRange(0, 100);
    s.setMarkers({40, 44});
    QCOMPARE(s.xForValue(40), 88);
    QCOMPARE(s.xForValue(44), 96);

    press(s, 92);  // exactly between: whichever tick the set yields first
    QVERIFY(s.value() == 40 || s.value() == 44);
    s.setValue(0);
    press(s, 90);  // 2 px from 40, 6 px from 44
    QCOMPARE(s.value(), 40);
    s.setValue(0);
    press(s, 102);  // 6 px from 44: snaps
    QCOMPARE(s.value(), 44);
    s.setValue(0);
    press(s, 103);  // 7 px from 44: plain position
    QCOMPARE(s.value(), s.valueAt(103));
    QCOMPARE(s.value(), 48);

    QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, QPoint(103, 11));
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    press(s, 150, Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!s.isDragging());
}

void TestVideoScrubber::markersOutsideTheRangeAreClamped()
{
    VideoScrubber s;
    s.resize(216, 22);  // track from x 8 to 208
    s.setRange(0, 100);
    // A frame past the end of the range (a shorter video) and the int extremes
    // all stand at the nearer end of the track.
    QCOMPARE(s.xForValue(102), 208);
    QCOMPARE(s.xForValue(std::numeric_limits<int>::max()), 208);
    QCOMPARE(s.xForValue(std::numeric_limits<int>::min()), 8);

    s.setMarkers({102});
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    press(s, 204);  // within 6 pixels of the tick: snaps, but never past the range
    QCOMPARE(s.value(), 100);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 100);

    s.setMarkers({-5, std::numeric_limits<int>::max()});
    press(s, 10);
    QCOMPARE(s.value(), 0);
    press(s, 207);
    QCOMPARE(s.value(), 100);
}

void TestVideoScrubber::dragging()
{
    VideoScrubber s;
    s.resize(216, 22);
    s.setRange(0, 100);
    s.setMarkers({40});
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    QTest::mouseMove(&s, QPoint(150, 11));  // hover only
    QCOMPARE(spy.count(), 0);

    press(s, 20);
    QVERIFY(s.isDragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(89, 11), s.mapToGlobal(QPointF(89, 11)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&s, &move);
    QCOMPARE(s.value(), 41);  // no snapping while dragging
    QCoreApplication::sendEvent(&s, &move);  // same position: no second signal
    QCOMPARE(spy.count(), 2);
    QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, QPoint(89, 11));
    QVERIFY(!s.isDragging());
}

void TestVideoScrubber::markerJumps()
{
    VideoScrubber s;
    s.setRange(0, 100);
    QVERIFY(!s.jumpToNextMarker());
    s.setMarkers({10, 44, 80, 150});
    s.setValue(44);
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    QVERIFY(s.jumpToNextMarker());
    QCOMPARE(s.value(), 80);
    QVERIFY(!s.jumpToNextMarker());  // 150 lies past the maximum
    QCOMPARE(spy.count(), 1);
    QVERIFY(s.jumpToPreviousMarker());
    QVERIFY(s.jumpToPreviousMarker());
    QCOMPARE(s.value(), 10);
    QVERIFY(!s.jumpToPreviousMarker());
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.last().at(0).toInt(), 10);
}

void TestVideoScrubber::settersAreSilentAndClamp()
{
    VideoScrubber s;
    QSignalSpy spy(&s, &VideoScrubber::valueChanged);
    s.setRange(0, 100);
    s.setValue(250);
    QCOMPARE(s.value(), 100);
    s.setValue(-3);
    QCOMPARE(s.value(), 0);
    s.setValue(60);
    s.setRange(0, 30);
    QCOMPARE(s.value(), 30);
    s.setRange(10, 5);  // maximum raised to the minimum
    QCOMPARE(s.minimum(), 10);
    QCOMPARE(s.maximum(), 10);
    QCOMPARE(s.value(), 10);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(s.sizeHint(), QSize(200, 22));
    QCOMPARE(s.minimumSizeHint(), QSize(60, 22));
}

void TestVideoScrubber::narrowWidthsAreSafe()
{
    for (int width : {0, 1, 16, 17}) {
        VideoScrubber s;
        s.resize(width, 22);
        s.setRange(0, 1000);
        s.setMarkers({0, 500, 1000});
        for (int x : {-50, 0, 8, 16, 40}) {
            const int v = s.valueAt(x);
            QVERIFY(v >= 0 && v <= 1000);
        }
        QVERIFY(s.xForValue(1000) >= 8);
        render(s);
        QVERIFY(s.jumpToNextMarker());
    }
}

void TestVideoScrubber::paintsTicksOnlyWithARange()
{
    VideoScrubber s;
    s.resize(216, 22);
    s.setMarkers({0, 10});
    QVERIFY(!hasTickColour(render(s)));  // 0..0: no ticks
    s.setRange(0, 100);
    QVERIFY(hasTickColour(render(s)));

    // Markers far outside the range, or many more than the track has pixels.
    s.setMarkers({std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), 50});
    QVERIFY(hasTickColour(render(s)));
    QSet<int> dense;
    for (int frame = 0; frame < 200000; frame += 2)
        dense.insert(frame);
    s.setRange(0, 200000);
    s.setMarkers(dense);
    QVERIFY(hasTickColour(render(s)));
}

QM_TEST_MAIN(TestVideoScrubber)
#include "tst_videoscrubber.moc"
