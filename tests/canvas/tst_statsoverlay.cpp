#include "QmTest.h"

#include "canvas/StatsOverlay.h"
#include "chrome/Theme.h"

#include <QWidget>

using namespace Quillmark;

namespace {

QMap<QString, int> countsOf(int classes)
{
    QMap<QString, int> counts;
    for (int i = 0; i < classes; ++i)
        counts.insert(QStringLiteral("class%1").arg(i, 2, 10, QLatin1Char('0')), (i * 37) % 11 + i);
    return counts;
}

bool isGreenish(QRgb px)
{
    return qGreen(px) > qRed(px) + 60 && qGreen(px) > 100;
}

} // namespace

class TestStatsOverlay : public QObject {
    Q_OBJECT
private slots:
    void visibleOnlyWithImagesOrVideos();
    void texts_data();
    void texts();
    void keepsTheFiveLargestClasses();
    void heightFollowsRowsAndVideos_data();
    void heightFollowsRowsAndVideos();
    void sitsInTheParentsTopRightCorner();
    void widensForLongSummaries();
    void countsFitTheirColumn_data();
    void countsFitTheirColumn();
    void barsAreDrawnToScale();
};

void TestStatsOverlay::visibleOnlyWithImagesOrVideos()
{
    QWidget parent;
    parent.resize(800, 600);
    auto *overlay = new StatsOverlay(&parent);
    parent.show();
    QVERIFY(!overlay->isVisible());
    QVERIFY(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    overlay->setStats(0, 0, 42, {}, {}, 0, 0, 0);
    QVERIFY(!overlay->isVisible());
    overlay->setStats(0, 0, 3, {}, {}, 1, 2, 90);
    QVERIFY(overlay->isVisible());
    overlay->setStats(5, 1, 3, {}, {}, 0, 0, 0);
    QVERIFY(overlay->isVisible());
    overlay->setStats(0, 0, 0, {}, {}, 0, 0, 0);
    QVERIFY(!overlay->isVisible());
}

void TestStatsOverlay::texts_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("labeled");
    QTest::addColumn<int>("videos");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("video");
    QTest::newRow("3 of 7 labelled") << 7 << 3 << 0 << 42 << "7 images  ·  42% labeled  ·  12 ann" << "";
    QTest::newRow("only videos") << 0 << 0 << 2 << 0 << "12 ann" << "2 videos  ·  4 / 300 frames";
    QTest::newRow("one video") << 10 << 10 << 1 << 100 << "10 images  ·  100% labeled  ·  12 ann"
                               << "1 video  ·  4 / 300 frames";
}

void TestStatsOverlay::texts()
{
    QFETCH(int, images);
    QFETCH(int, labeled);
    QFETCH(int, videos);
    QFETCH(int, percent);
    QFETCH(QString, summary);
    QFETCH(QString, video);
    StatsOverlay overlay;
    overlay.setStats(images, labeled, 12, {}, {}, videos, 4, 300);
    QCOMPARE(overlay.labeledPercent(), percent);
    QCOMPARE(overlay.summaryText(), summary);
    QCOMPARE(overlay.videoText(), video);
}

void TestStatsOverlay::keepsTheFiveLargestClasses()
{
    StatsOverlay overlay;
    const QMap<QString, int> counts{{"ant", 3}, {"bee", 50}, {"cat", 7}, {"dog", 50}, {"eel", 1},
                                    {"fox", 9}, {"gnu", 2},  {"hen", 9}, {"owl", 0}, {"yak", 12}};
    overlay.setStats(4, 4, 143, counts, {}, 0, 0, 0);
    const QList<QPair<QString, int>> expected{{"bee", 50}, {"dog", 50}, {"yak", 12}, {"fox", 9}, {"hen", 9}};
    QCOMPARE(overlay.shownClasses(), expected);
}

void TestStatsOverlay::heightFollowsRowsAndVideos_data()
{
    QTest::addColumn<int>("classes");
    QTest::addColumn<int>("videos");
    QTest::addColumn<int>("height");
    QTest::newRow("nothing") << 0 << 0 << 61;
    QTest::newRow("no classes, videos") << 0 << 2 << 76;
    QTest::newRow("two classes") << 2 << 0 << 11 + 2 * 18 + 77 - 15;
    QTest::newRow("ten classes, videos") << 10 << 1 << 178;
    QTest::newRow("ten classes") << 10 << 0 << 163;
}

void TestStatsOverlay::heightFollowsRowsAndVideos()
{
    QFETCH(int, classes);
    QFETCH(int, videos);
    QFETCH(int, height);
    StatsOverlay overlay;
    overlay.setStats(3, 1, 5, countsOf(classes), {}, videos, 0, 10);
    QCOMPARE(overlay.height(), height);
    QCOMPARE(overlay.width(), 234);
}

void TestStatsOverlay::sitsInTheParentsTopRightCorner()
{
    QWidget parent;
    parent.resize(800, 600);
    auto *overlay = new StatsOverlay(&parent);
    overlay->setStats(1, 0, 0, {}, {}, 0, 0, 0);
    QCOMPARE(overlay->pos(), QPoint(556, 10));
    parent.resize(1000, 600);
    overlay->reposition();
    QCOMPARE(overlay->pos(), QPoint(756, 10));
}

void TestStatsOverlay::countsFitTheirColumn_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("theme");
    QTest::newRow("4 digits") << 4999 << int(Theme::Light);
    QTest::newRow("5 digits") << 64999 << int(Theme::Light);
    QTest::newRow("5 digits, dark") << 50261 << int(Theme::Dark);
    QTest::newRow("6 digits") << 888888 << int(Theme::Light);
    QTest::newRow("7 digits") << 8888888 << int(Theme::Dark);
}

void TestStatsOverlay::countsFitTheirColumn()
{
    // Under the window's style sheet, as in the program: every digit of the
    // largest count is drawn, inside the box and clear of the bar track.
    QFETCH(int, count);
    QFETCH(int, theme);
    QWidget parent;
    parent.setStyleSheet(buildAppStyleSheet(Theme::Mode(theme)));
    parent.resize(1000, 700);
    auto *overlay = new StatsOverlay(&parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    overlay->setStats(10, 5, count + 3, {{QStringLiteral("big"), count}, {QStringLiteral("small"), 3}},
                      {{QStringLiteral("big"), Qt::red}, {QStringLiteral("small"), Qt::blue}}, 0, 0, 0);
    QVERIFY(overlay->isVisible());
    const QString digits = QString::number(count);
    const int advance = QFontMetrics(overlay->rowFont()).horizontalAdvance(digits);
    const int firstRow = 50 + 15;
    const QRectF column = overlay->countColumn(firstRow);
    QVERIFY2(column.width() >= advance, qPrintable(QStringLiteral("%1 < %2").arg(column.width()).arg(advance)));
    QVERIFY(column.right() <= overlay->width() - 12);
    // The bar track keeps a usable length left of the column.
    QVERIFY(column.left() >= 104 + 60);

    // On the picture: the leftmost lit pixel of the first row's count lies
    // where the whole number begins, not at a clipped column edge.
    QImage shot(overlay->size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    overlay->render(&shot);
    int leftmost = shot.width();
    for (int y = firstRow; y < firstRow + 15 && y < shot.height(); ++y) {
        for (int x = int(column.left()) - 20; x < shot.width(); ++x) {
            if (x >= 0 && qRed(shot.pixel(x, y)) > 110 && qBlue(shot.pixel(x, y)) > 110) {
                leftmost = std::min(leftmost, x);
                break;
            }
        }
    }
    const int expectedStart = int(column.right()) - advance;
    QVERIFY2(std::abs(leftmost - expectedStart) <= 3,
             qPrintable(QStringLiteral("text starts at %1, expected %2").arg(leftmost).arg(expectedStart)));
}

void TestStatsOverlay::widensForLongSummaries()
{
    QWidget parent;
    parent.resize(900, 600);
    auto *overlay = new StatsOverlay(&parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QFont summaryFont = overlay->font();
    summaryFont.setPointSizeF(8.5);
    summaryFont.setWeight(QFont::DemiBold);
    const QFontMetrics metrics(summaryFont);

    // Short figures keep the usual width; large ones widen the box so that both
    // lines end 12 pixels inside it, and it stays in the corner.
    overlay->setStats(3, 1, 5, {}, {}, 0, 0, 0);
    QCOMPARE(overlay->width(), 234);
    overlay->setStats(123456, 120000, 98765432, {}, {}, 12345, 654321, 9876543);
    const int longest = std::max(metrics.horizontalAdvance(overlay->summaryText()),
                                 metrics.horizontalAdvance(overlay->videoText()));
    QVERIFY(longest + 24 > 234);
    QCOMPARE(overlay->width(), longest + 24);
    QCOMPARE(overlay->pos(), QPoint(900 - overlay->width() - 10, 10));

    // A wider font (a style sheet sets the family) widens it again.
    const QFont usual = overlay->font();
    QFont wider = usual;
    wider.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    overlay->setFont(wider);
    QVERIFY(overlay->width() > longest + 24);
    overlay->setFont(usual);
    overlay->setStats(3, 1, 5, {}, {}, 0, 0, 0);
    QCOMPARE(overlay->width(), 234);
}

void TestStatsOverlay::barsAreDrawnToScale()
{
    QWidget parent;
    parent.resize(800, 600);
    auto *overlay = new StatsOverlay(&parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    const QColor green(0, 220, 0);
    overlay->setStats(7, 3, 1001, {{"big", 1000}, {"small", 1}}, {{"big", green}, {"small", green}}, 0, 0, 0);
    const QImage img = overlay->grab().toImage();
    const int w = overlay->width(); // 234 unless the summary needs more in this font

    // 42% of the track, 24 pixels narrower than the box: 88 pixels from x 12 at the usual width.
    const int fill = std::max(5, (w - 24) * 42 / 100);
    QVERIFY(isGreenish(img.pixel(12 + fill - 2, 30)));
    QVERIFY(!isGreenish(img.pixel(12 + fill + 2, 30)));
    // Class rows start at y 65; bars at x 104, 4 pixels high, track 148 pixels narrower than the box.
    QVERIFY(isGreenish(img.pixel(104 + (w - 148) - 2, 65 + 7)));
    QVERIFY(isGreenish(img.pixel(104 + 2, 83 + 7)));  // count 1 still gets 4 pixels
    QVERIFY(!isGreenish(img.pixel(104 + 6, 83 + 7)));
}

QM_TEST_MAIN(TestStatsOverlay)
#include "tst_statsoverlay.moc"
