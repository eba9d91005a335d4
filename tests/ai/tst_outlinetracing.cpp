#include "ai/OutlineTracing.h"

#include "QmTest.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Quillmark;

using Points = QList<QPointF>;

namespace {

QImage maskOf(int w, int h, const QList<QPoint> &foreground)
{
    QImage mask(w, h, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const QPoint &p : foreground)
        mask.scanLine(p.y())[p.x()] = 255;
    return mask;
}

QList<QPoint> rect(int x, int y, int w, int h)
{
    QList<QPoint> pixels;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            pixels.append(QPoint(i, j));
    return pixels;
}

// A 160 x 160 detector mask with the given cells set to 1.
std::vector<float> cells(const QList<QPoint> &on)
{
    std::vector<float> mask(160 * 160, 0.0f);
    for (const QPoint &p : on)
        mask[size_t(p.y() * 160 + p.x())] = 1.0f;
    return mask;
}

} // namespace

class TestOutlineTracing : public QObject {
    Q_OBJECT

private slots:
    void squareTracedClockwiseAndSimplified()
    {
        const QImage mask = maskOf(32, 32, rect(10, 10, 3, 3));
        // With tolerance 0 every traced point stays.
        QCOMPARE(maskToPolygon(mask, 0.0),
                 (Points{{10, 10}, {11, 10}, {12, 10}, {12, 11}, {12, 12}, {11, 12}, {10, 12}, {10, 11}}));
        // (12, 10) lies exactly 2 from the chord (10, 10)-(10, 11) and stays.
        QCOMPARE(maskToPolygon(mask, 2.0), (Points{{10, 10}, {12, 10}, {10, 11}}));
    }

    void tooSmallRegionsGiveNothing_data()
    {
        QTest::addColumn<QList<QPoint>>("foreground");
        QTest::newRow("empty") << QList<QPoint>{};
        QTest::newRow("single pixel") << QList<QPoint>{{4, 4}};
        QTest::newRow("two pixels") << QList<QPoint>{{4, 4}, {5, 4}};
        QTest::newRow("two diagonal pixels") << QList<QPoint>{{4, 4}, {5, 5}};
        QTest::newRow("pixel at the corner") << QList<QPoint>{{0, 0}};
    }

    void tooSmallRegionsGiveNothing()
    {
        QFETCH(QList<QPoint>, foreground);
        QVERIFY(maskToPolygon(maskOf(10, 10, foreground), 0.0).isEmpty());
    }

    // The apex of a one-pixel-wide Λ joins its two legs: the walk returns to it
    // after the right leg and must go on down the left one.
    void thinLambdaTracedWhole()
    {
        const QImage mask = maskOf(12, 8, {{5, 1}, {4, 2}, {3, 3}, {2, 4}, {6, 2}, {7, 3}, {8, 4}});
        QCOMPARE(maskToPolygon(mask, 0.0),
                 (Points{{5, 1}, {6, 2}, {7, 3}, {8, 4}, {7, 3}, {6, 2},
                         {5, 1}, {4, 2}, {3, 3}, {2, 4}, {3, 3}, {4, 2}}));
    }

    void onlyOuterBoundaryOfFirstRegion()
    {
        QList<QPoint> ring = rect(2, 2, 6, 6);
        for (const QPoint &hole : rect(4, 4, 2, 2))
            ring.removeAll(hole);
        const QImage mask = maskOf(20, 12, ring + rect(12, 4, 4, 4));
        const Points outline = maskToPolygon(mask, 0.0);
        QCOMPARE(outline.size(), 20);
        for (const QPointF &p : outline) {
            const bool onOuterEdge = p.x() == 2 || p.x() == 7 || p.y() == 2 || p.y() == 7;
            QVERIFY2(onOuterEdge, qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
        }
    }

    // A serpentine line whose boundary walk is far longer than the picture's
    // perimeter is traced whole, as in a taller picture with room to spare.
    void longBoundaryTracedWhole()
    {
        QList<QPoint> path;
        for (int row = 0; row < 10; row += 2)
            path += rect(0, row, 10, 1);
        path += {{9, 1}, {0, 3}, {9, 5}, {0, 7}};
        const qsizetype whole = maskToPolygon(maskOf(10, 30, path), 0.0).size();
        QVERIFY(whole > 4 * (10 + 10) + 16);
        QCOMPARE(maskToPolygon(maskOf(10, 10, path), 0.0).size(), whole);
    }

    // A comb's outline runs up and down every tooth: far longer than the
    // picture's perimeter. The whole outline encloses the comb: by Pick's
    // theorem a lattice polygon through the B boundary pixels of a region of N
    // pixels encloses N - B / 2 - 1.
    void combOutlineEnclosesTheMask_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("tooth");
        QTest::addColumn<int>("gap");
        QTest::newRow("small, teeth of 2") << QSize(61, 40) << 2 << 2;
        QTest::newRow("odd size") << QSize(333, 101) << 5 << 3;
        QTest::newRow("12 MP") << QSize(4000, 3000) << 20 << 30;
    }

    void combOutlineEnclosesTheMask()
    {
        QFETCH(QSize, size);
        QFETCH(int, tooth);
        QFETCH(int, gap);
        QImage mask(size, QImage::Format_Grayscale8);
        mask.fill(0);
        qint64 pixels = 0;
        const int spine = std::max(2, size.height() / 20);
        for (int y = 1; y < size.height() - 1; ++y) {
            uchar *row = mask.scanLine(y);
            for (int x = 1; x < size.width() - 1; ++x) {
                const bool inTooth = (x - 1) % (tooth + gap) < tooth;
                if (y <= spine || inTooth) {
                    row[x] = 255;
                    ++pixels;
                }
            }
        }
        const Points traced = maskToPolygon(mask, 0.0);
        const double expected = double(pixels) - double(traced.size()) / 2.0 - 1.0;
        QVERIFY(traced.size() > 4 * (size.width() + size.height()) + 16);
        QCOMPARE(enclosedArea(traced), expected);
        // Thinning moves no stretch of outline more than epsilon away, so the
        // area changes by less than epsilon times the outline's length.
        const Points thinned = maskToPolygon(mask, 2.0);
        QVERIFY2(std::abs(enclosedArea(thinned) - expected) < 2.0 * double(traced.size()),
                 qPrintable(QString::number(enclosedArea(thinned)) + " vs " + QString::number(expected)));
    }

    void enclosedAreaOfOutlines_data()
    {
        QTest::addColumn<Points>("outline");
        QTest::addColumn<double>("area");
        QTest::newRow("none") << Points{} << 0.0;
        QTest::newRow("two points") << Points{{0, 0}, {5, 5}} << 0.0;
        QTest::newRow("flat") << Points{{0, 7}, {3, 7}, {9, 7}, {2, 7}} << 0.0;
        QTest::newRow("square, clockwise") << Points{{0, 0}, {4, 0}, {4, 4}, {0, 4}} << 16.0;
        QTest::newRow("square, anticlockwise") << Points{{0, 0}, {0, 4}, {4, 4}, {4, 0}} << 16.0;
        QTest::newRow("triangle") << Points{{1, 1}, {5, 1}, {1, 4}} << 6.0;
    }

    void enclosedAreaOfOutlines()
    {
        QFETCH(Points, outline);
        QFETCH(double, area);
        QCOMPARE(enclosedArea(outline), area);
    }

    // The start pixel is searched many bytes at a time: it must be found at
    // every place in a row, whatever the row's length, while bytes of exactly
    // 128 and the bytes past the end of each row (set to 255 here) never count.
    void startFoundAtEveryColumn()
    {
        for (int width : {3, 7, 8, 9, 15, 16, 17, 31, 63, 64, 65, 80, 127, 130, 203}) {
            const int height = 6;
            const qsizetype stride = width + 13;
            std::vector<uchar> bytes(size_t(stride * height), 255);
            for (int y = 0; y < height; ++y)
                std::fill_n(bytes.begin() + y * stride, width, uchar(128));
            const QImage plain(bytes.data(), width, height, stride, QImage::Format_Grayscale8);
            QVERIFY(maskToPolygon(plain, 0.0).isEmpty());
            for (int x = 0; x + 3 <= width; ++x) {
                std::vector<uchar> withSquare = bytes;
                for (const QPoint &p : rect(x, 3, 3, 3))
                    withSquare[size_t(p.y() * stride + p.x())] = 129;
                const QImage mask(withSquare.data(), width, height, stride, QImage::Format_Grayscale8);
                const Points expected{{x + 0.0, 3}, {x + 1.0, 3}, {x + 2.0, 3}, {x + 2.0, 4},
                                      {x + 2.0, 5}, {x + 1.0, 5}, {x + 0.0, 5}, {x + 0.0, 4}};
                QVERIFY2(maskToPolygon(mask, 0.0) == expected,
                         qPrintable(QStringLiteral("width %1, x %2").arg(width).arg(x)));
            }
        }
    }

    void masksOfOtherDepthsAreRead()
    {
        const QImage grey = maskOf(32, 32, rect(10, 10, 3, 3));
        const Points expected = maskToPolygon(grey, 0.0);
        QCOMPARE(maskToPolygon(grey.convertToFormat(QImage::Format_Mono), 0.0), expected);
        QCOMPARE(maskToPolygon(grey.convertToFormat(QImage::Format_RGB32), 0.0), expected);
    }

    // A point exactly epsilon from its chord: the open simplification drops it,
    // the closed one keeps it.
    void epsilonBoundary_data()
    {
        QTest::addColumn<Points>("points");
        QTest::addColumn<double>("epsilon");
        QTest::addColumn<Points>("open");
        QTest::addColumn<Points>("closed");

        const Points bump{{0, 0}, {5, 2}, {10, 0}};
        const Points ends{{0, 0}, {10, 0}};
        QTest::newRow("at epsilon") << bump << 2.0 << ends << bump;
        QTest::newRow("within epsilon") << bump << 2.5 << ends << ends;
        QTest::newRow("beyond epsilon") << bump << 1.5 << bump << bump;
        // A closed chain: the chord has no length, distances are from its end.
        const Points loop{{0, 0}, {3, 4}, {0, 0}};
        QTest::newRow("zero chord at epsilon") << loop << 5.0 << Points{{0, 0}, {0, 0}} << loop;
        QTest::newRow("two points") << Points{{0, 0}, {9, 9}} << 1.0 << Points{{0, 0}, {9, 9}}
                                    << Points{{0, 0}, {9, 9}};
        QTest::newRow("collinear") << Points{{0, 0}, {1, 1}, {2, 2}, {3, 3}} << 0.5 << Points{{0, 0}, {3, 3}}
                                   << Points{{0, 0}, {3, 3}};
        // (4, 4) splits the chain; both halves split again, and (7, 0.5) goes.
        const Points zigzag{{0, 0}, {1, 2}, {2, 0}, {4, 4}, {6, 0}, {7, 0.5}, {8, 0}};
        const Points thinned{{0, 0}, {1, 2}, {2, 0}, {4, 4}, {6, 0}, {8, 0}};
        QTest::newRow("both halves") << zigzag << 0.9 << thinned << thinned;
    }

    void epsilonBoundary()
    {
        QFETCH(Points, points);
        QFETCH(double, epsilon);
        QFETCH(Points, open);
        QFETCH(Points, closed);
        QCOMPARE(simplifyPolygon(points, epsilon), open);
        QCOMPARE(simplifyClosedPolygon(points, epsilon), closed);
    }

    // Splitting one point off at a time nests as deep as the outline is long; on a
    // thread with a 64 KiB stack that overflows unless the split is iterative.
    void deepSplitsNeedNoCallStack()
    {
        Points line;
        for (int i = 0; i < 20000; ++i)
            line.append(QPointF(i, 0));
        qsizetype closedCount = 0;
        qsizetype openCount = 0;
        QThread *worker = QThread::create([&] {
            closedCount = simplifyClosedPolygon(line, 0.0).size();
            openCount = simplifyPolygon(line, 0.0).size();
        });
        worker->setStackSize(64 * 1024);
        worker->start();
        QVERIFY(worker->wait(60000));
        delete worker;
        QCOMPARE(closedCount, line.size());
        QCOMPARE(openCount, 2);
    }

    void bigDiscTracesItsRim()
    {
        QImage mask(4000, 3000, QImage::Format_Grayscale8);
        mask.fill(0);
        const int cx = 2000, cy = 1500, r = 1400;
        for (int y = cy - r; y <= cy + r; ++y) {
            uchar *row = mask.scanLine(y);
            for (int x = cx - r; x <= cx + r; ++x)
                row[x] = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r ? 255 : 0;
        }
        const Points outline = maskToPolygon(mask, 2.0);
        QVERIFY(outline.size() > 20);
        QVERIFY(outline.size() < 1000);
        for (const QPointF &p : outline)
            QVERIFY(std::abs(std::hypot(p.x() - cx, p.y() - cy) - r) < 1.5);
    }

    void rowRuns_data()
    {
        QTest::addColumn<QList<QPoint>>("on");
        QTest::addColumn<QRect>("crop");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QPoint>("pad");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<Points>("expected");

        QTest::newRow("single cell") << QList<QPoint>{{20, 10}} << QRect(0, 10, 160, 1) << 1.0f << QPoint(0, 0)
                                     << QSize(1000, 1000) << Points{{80, 42}, {84, 42}};
        // Mask rows 60-79, columns 40-99 of a 1280 x 720 picture letterboxed to 640.
        QTest::newRow("rectangle through letterbox")
            << rect(40, 60, 60, 20) << QRect(35, 55, 70, 30) << 0.5f << QPoint(0, 140) << QSize(1280, 720)
            << Points{{320, 204}, {320, 356}, {800, 356}, {800, 204}};
        QTest::newRow("crop limits the run")
            << rect(40, 60, 60, 20) << QRect(50, 60, 10, 1) << 1.0f << QPoint(0, 0) << QSize(1000, 1000)
            << Points{{200, 242}, {240, 242}};
        QTest::newRow("clamped to the picture")
            << rect(40, 60, 60, 20) << QRect(0, 60, 160, 1) << 1.0f << QPoint(0, 0) << QSize(300, 200)
            << Points{{160, 200}, {300, 200}};
        QTest::newRow("cells beyond the mask are not read")
            << rect(150, 158, 10, 2) << QRect(150, 158, 20, 10) << 1.0f << QPoint(0, 0) << QSize(1000, 1000)
            << Points{{600, 634}, {600, 638}, {640, 638}, {640, 634}};
        QTest::newRow("nothing set") << QList<QPoint>{} << QRect(0, 0, 160, 160) << 1.0f << QPoint(0, 0)
                                     << QSize(1000, 1000) << Points{};
        QTest::newRow("empty crop") << rect(0, 0, 160, 160) << QRect(10, 10, 0, 5) << 1.0f << QPoint(0, 0)
                                    << QSize(1000, 1000) << Points{};
    }

    void rowRuns()
    {
        QFETCH(QList<QPoint>, on);
        QFETCH(QRect, crop);
        QFETCH(float, scale);
        QFETCH(QPoint, pad);
        QFETCH(QSize, picture);
        QFETCH(Points, expected);
        const std::vector<float> mask = cells(on);
        QCOMPARE(maskRowsToPolygon(mask, 160, crop.x(), crop.y(), crop.x() + crop.width(), crop.y() + crop.height(),
                                   scale, pad.x(), pad.y(), picture.width(), picture.height()),
                 expected);
    }
};

QM_TEST_MAIN(TestOutlineTracing)
#include "tst_outlinetracing.moc"
