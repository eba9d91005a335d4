// The film strip: the window of neighbours, thumbnails read off the window's
// thread across rebuilds and slow reads, clicks that rebuild the strip from
// inside its own event filter, and scrolling.

#include "QmTest.h"

#include "panels/FilmStrip.h"
#include "panels/ThumbnailReader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWheelEvent>

using namespace Quillmark;

namespace {

QList<ImageEntry> fakeImages(int count, int firstId = 0)
{
    QList<ImageEntry> images;
    for (int i = 0; i < count; ++i) {
        ImageEntry e;
        e.id = firstId + i;
        e.filePath = QStringLiteral("/nowhere/img%1.png").arg(firstId + i);
        images.append(e);
    }
    return images;
}

QList<int> range(int from, int to)
{
    QList<int> ids;
    for (int i = from; i <= to; ++i)
        ids.append(i);
    return ids;
}

QColor pictureColour(const QLabel *label)
{
    const QPixmap pixmap = label->pixmap();
    if (pixmap.isNull())
        return {};
    return pixmap.toImage().pixelColor(pixmap.width() / 2, pixmap.height() / 2);
}

// Waits until every thumbnail of the strip's window has been read.
void drainLoads(const FilmStrip &strip)
{
    QTRY_COMPARE_WITH_TIMEOUT(strip.thumbnailsLoading(), 0, 30000);
}

QByteArray encodedPicture(const QColor &colour, int width = 120, int height = 90)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Where reads of stored bytes wait, as on a share that is slow to answer.
struct ReadGate {
    QSemaphore open;
    std::atomic<int> waiting{0};
    std::atomic<int> peak{0};
    std::atomic<int> ended{0};
    std::atomic<int> onWindowThread{0};
};

// Stored bytes whose reads wait at a gate (for a while at most, so that a strip
// that reads on the window's thread fails the test rather than hangs it).
class GatedBytes : public StoredImageBytes {
public:
    GatedBytes(std::shared_ptr<ReadGate> gate, QByteArray bytes) : gate(std::move(gate)), bytes(std::move(bytes)) {}
    QByteArray read() const override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++gate->onWindowThread;
        const int now = ++gate->waiting;
        for (int seen = gate->peak; now > seen && !gate->peak.compare_exchange_weak(seen, now);) {
        }
        gate->open.tryAcquire(1, 1000);
        --gate->waiting;
        ++gate->ended;
        return bytes;
    }

private:
    std::shared_ptr<ReadGate> gate;
    QByteArray bytes;
};

QList<ImageEntry> gatedImages(int count, const std::shared_ptr<ReadGate> &gate, const QByteArray &bytes)
{
    QList<ImageEntry> images = fakeImages(count);
    for (ImageEntry &e : images)
        e.storedBytes = std::make_shared<GatedBytes>(gate, bytes);
    return images;
}

} // namespace

class TestFilmStrip : public QObject {
    Q_OBJECT

private slots:
    void windowOfNeighbours_data();
    void windowOfNeighbours();
    void setCurrentMovesHighlightOrRebuilds();
    void thumbnailsLoadFromFilesAndMemory();
    void rebuildStopsTheOldLoadChain();
    void orientationIsApplied();
    void reentrantClickRebuilds();
    void scrollingAndChevrons();
    void emptyDataset();
    void slowReadsLeaveTheWindowFree();
    void replacedDatasetGetsNoStaleThumbnails();
    void destroyedWhileReadsWait();
    void stalledReadsGiveUpTheirPlaces();
};

void TestFilmStrip::windowOfNeighbours_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("near the end") << 120 << 100 << 70 << 119;
    QTest::newRow("near the start") << 120 << 10 << 0 << 49;
    QTest::newRow("centred") << 120 << 60 << 35 << 84;
    QTest::newRow("small project") << 30 << 17 << 0 << 29;
}

void TestFilmStrip::windowOfNeighbours()
{
    QFETCH(int, count);
    QFETCH(int, current);
    QFETCH(int, first);
    QFETCH(int, last);
    FilmStrip strip;
    strip.setCurrent(current);
    strip.setDataset(fakeImages(count));
    QCOMPARE(strip.shownIds(), range(first, last));
    QCOMPARE(strip.windowStart(), first);
    QVERIFY(strip.thumbnailLabel(current)->property("active").toBool());
    QCOMPARE(strip.findChildren<QLabel *>(QStringLiteral("filmThumb")).size(), last - first + 1);
    QCOMPARE(strip.thumbnailLabel(first)->toolTip(), QStringLiteral("img%1.png").arg(first));
}

void TestFilmStrip::setCurrentMovesHighlightOrRebuilds()
{
    FilmStrip strip;
    strip.resize(800, 86);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.setDataset(fakeImages(120));
    QCOMPARE(strip.shownIds(), range(0, 49));
    QLabel *label10 = strip.thumbnailLabel(10);

    strip.setCurrent(10);
    strip.setCurrent(20);  // inside: the same labels, the highlight moves
    QCOMPARE(strip.thumbnailLabel(10), label10);
    QVERIFY(!label10->property("active").toBool());
    QVERIFY(strip.thumbnailLabel(20)->property("active").toBool());
    QCOMPARE(strip.thumbnailLabel(0)->property("active").toBool(), false);
    // The current thumbnail was scrolled into view.
    // Where the layout puts a thumbnail: margin 8, then 82 px labels 6 px apart.
    auto inView = [&strip](int id) {
        const int left = 8 + int(strip.shownIds().indexOf(id)) * (82 + 6);
        const int value = strip.scrollArea()->horizontalScrollBar()->value();
        return left >= value && left + 82 <= value + strip.scrollArea()->viewport()->width();
    };
    QVERIFY(inView(20));

    strip.setCurrent(100);  // outside: rebuilt around it, its new label in view at once
    QCOMPARE(strip.shownIds(), range(70, 119));
    QVERIFY(strip.thumbnailLabel(100)->property("active").toBool());
    QVERIFY(inView(100));

    QLabel *label100 = strip.thumbnailLabel(100);
    strip.setCurrent(100);  // already current: nothing happens
    QCOMPARE(strip.thumbnailLabel(100), label100);
    strip.setDataset(fakeImages(120));  // rebuild keeps the current id
    QCOMPARE(strip.shownIds(), range(70, 119));
    label100 = strip.thumbnailLabel(100);
    strip.setCurrent(100);
    QCOMPARE(strip.thumbnailLabel(100), label100);

    strip.setCurrent(5000);  // unknown id: the old window stays
    QCOMPARE(strip.shownIds(), range(70, 119));
}

void TestFilmStrip::thumbnailsLoadFromFilesAndMemory()
{
    QTemporaryDir dir;
    QList<ImageEntry> images;
    const QList<QColor> colours = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(colours.at(i));
        ImageEntry e;
        e.id = i;
        e.filePath = dir.filePath(QStringLiteral("c%1.png").arg(i));
        QVERIFY(image.save(e.filePath));
        images.append(e);
    }
    ImageEntry broken;
    broken.id = 3;
    broken.filePath = dir.filePath(QStringLiteral("broken.jpg"));
    QFile file(broken.filePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    images.append(broken);

    ImageEntry decoded;  // pixels in memory, decoded
    decoded.id = 4;
    decoded.image = QImage(50, 200, QImage::Format_RGB32);
    decoded.image.fill(Qt::yellow);
    images.append(decoded);

    ImageEntry encoded;  // pixels in memory, still encoded
    encoded.id = 5;
    QImage cyan(120, 60, QImage::Format_RGB32);
    cyan.fill(Qt::cyan);
    QBuffer buffer(&encoded.imageData);
    buffer.open(QIODevice::WriteOnly);
    cyan.save(&buffer, "PNG");
    images.append(encoded);

    ImageEntry last;  // after the broken one, loading goes on
    last = images.at(0);
    last.id = 6;
    images.append(last);

    FilmStrip strip;
    strip.setDataset(images);
    QVERIFY(strip.thumbnailLabel(0)->pixmap().isNull());  // nothing decoded yet
    drainLoads(strip);
    for (int i = 0; i < 3; ++i) {
        const QPixmap pixmap = strip.thumbnailLabel(i)->pixmap();
        QCOMPARE(pixmap.size(), QSize(72, 54));
        QCOMPARE(pictureColour(strip.thumbnailLabel(i)), colours.at(i));
    }
    QVERIFY(strip.thumbnailLabel(3)->pixmap().isNull());
    QCOMPARE(strip.thumbnailLabel(3)->toolTip(), QStringLiteral("broken.jpg"));
    QCOMPARE(strip.thumbnailLabel(4)->pixmap().size(), QSize(13, 54));
    QCOMPARE(pictureColour(strip.thumbnailLabel(4)), QColor(Qt::yellow));
    QCOMPARE(strip.thumbnailLabel(5)->pixmap().size(), QSize(72, 36));
    QCOMPARE(pictureColour(strip.thumbnailLabel(5)), QColor(Qt::cyan));
    QCOMPARE(pictureColour(strip.thumbnailLabel(6)), QColor(Qt::red));
}

void TestFilmStrip::rebuildStopsTheOldLoadChain()
{
    QTemporaryDir dir;
    auto makeSet = [&dir](const QColor &colour, int firstId, const QString &prefix) {
        QList<ImageEntry> images;
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(colour);
        for (int i = 0; i < 60; ++i) {
            ImageEntry e;
            e.id = firstId + i;
            e.filePath = dir.filePath(QStringLiteral("%1%2.png").arg(prefix).arg(i));
            image.save(e.filePath);
            images.append(e);
        }
        return images;
    };
    const QList<ImageEntry> reds = makeSet(Qt::red, 0, QStringLiteral("r"));
    const QList<ImageEntry> blues = makeSet(Qt::blue, 1000, QStringLiteral("b"));

    FilmStrip strip;
    strip.setDataset(reds);
    // A few red thumbnails load.
    QTRY_VERIFY_WITH_TIMEOUT(strip.thumbnailsLoading() < 45, 30000);
    strip.setDataset(blues);
    drainLoads(strip);
    const QList<int> ids = strip.shownIds();
    QCOMPARE(ids.size(), 50);
    for (int id : ids)
        QCOMPARE(pictureColour(strip.thumbnailLabel(id)), QColor(Qt::blue));
}

void TestFilmStrip::orientationIsApplied()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rotated.jpg"));
    QImage image(80, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageWriter writer(path, "jpeg");
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    QVERIFY(writer.write(image));
    QImageReader probe(path);
    probe.setAutoTransform(true);
    if (probe.read().size() != QSize(40, 80))
        QSKIP("this JPEG writer stores no orientation tag");

    ImageEntry e;
    e.id = 0;
    e.filePath = path;
    FilmStrip strip;
    strip.setDataset({e});
    drainLoads(strip);
    const QSize size = strip.thumbnailLabel(0)->pixmap().size();
    QCOMPARE(size, QSize(27, 54));  // upright: taller than wide
}

void TestFilmStrip::reentrantClickRebuilds()
{
    FilmStrip strip;
    strip.resize(900, 86);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.setDataset(fakeImages(200));
    QSignalSpy clicked(&strip, &FilmStrip::imageSelected);
    // As the main window does: a click selects the image and moves the strip,
    // here far enough to rebuild the window from inside the click.
    connect(&strip, &FilmStrip::imageSelected, &strip, [&strip](int id) { strip.setCurrent(id + 100); });

    QLabel *label = strip.thumbnailLabel(3);
    QTest::mouseClick(label, Qt::RightButton);
    QCOMPARE(clicked.count(), 0);
    QTest::mousePress(label, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).toInt(), 3);
    QCOMPARE(strip.currentId(), 103);
    QCOMPARE(strip.shownIds(), range(78, 127));
    QVERIFY(label->isHidden());  // the old label is hidden at once, deleted later

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(strip.findChildren<QLabel *>(QStringLiteral("filmThumb")).size(), 50);
}

void TestFilmStrip::scrollingAndChevrons()
{
    FilmStrip strip;
    strip.resize(600, 86);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.setDataset(fakeImages(100));
    QScrollBar *bar = strip.scrollArea()->horizontalScrollBar();
    QVERIFY(bar->maximum() > 1000);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!strip.leftChevron()->isEnabled());
    QVERIFY(strip.rightChevron()->isEnabled());

    strip.rightChevron()->click();
    QCOMPARE(bar->value(), strip.scrollArea()->viewport()->width());
    QVERIFY(strip.leftChevron()->isEnabled());

    const int before = bar->value();
    QWheelEvent notch(QPointF(50, 40), strip.mapToGlobal(QPointF(50, 40)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&strip, &notch);
    QVERIFY(notch.isAccepted());
    QCOMPARE(bar->value(), before - 120);

    strip.leftChevron()->click();
    QCOMPARE(bar->value(), 0);
    QVERIFY(!strip.leftChevron()->isEnabled());

    bar->setValue(bar->maximum());
    QVERIFY(!strip.rightChevron()->isEnabled());

    strip.setDark(true);
    QVERIFY(!strip.leftChevron()->icon().isNull());
}

void TestFilmStrip::emptyDataset()
{
    FilmStrip strip;
    strip.resize(600, 86);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.setDataset(fakeImages(80));
    strip.setDataset({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(strip.shownIds().isEmpty());
    QVERIFY(strip.findChildren<QLabel *>(QStringLiteral("filmThumb")).isEmpty());
    QVERIFY(!strip.leftChevron()->isEnabled());
    QVERIFY(!strip.rightChevron()->isEnabled());
}

void TestFilmStrip::slowReadsLeaveTheWindowFree()
{
    // Pictures whose reads wait (a slow share, a large file): the strip is
    // built and moved while they wait, with only a few reads at once, none of
    // them on the window's thread; the thumbnails come once the reads end.
    auto gate = std::make_shared<ReadGate>();
    FilmStrip strip;
    strip.setDataset(gatedImages(120, gate, encodedPicture(Qt::red)));
    QTRY_COMPARE(gate->waiting.load(), 2);
    strip.setCurrent(10);
    QVERIFY(strip.thumbnailLabel(10)->property("active").toBool());
    strip.setCurrent(100); // another window: the reads of the old one are dropped
    QCOMPARE(strip.shownIds(), range(70, 119));
    QVERIFY(strip.thumbnailLabel(100)->pixmap().isNull());
    QTest::qWait(100);
    QCOMPARE(gate->peak.load(), 2);
    QCOMPARE(gate->onWindowThread.load(), 0);

    gate->open.release(1000);
    drainLoads(strip);
    for (int id : strip.shownIds())
        QCOMPARE(pictureColour(strip.thumbnailLabel(id)), QColor(Qt::red));
    // The two reads of the first window, then the fifty of this one.
    QTRY_COMPARE(gate->ended.load(), 52);
    QCOMPARE(gate->onWindowThread.load(), 0);
}

void TestFilmStrip::replacedDatasetGetsNoStaleThumbnails()
{
    // The same ids in a replaced dataset: the reads of the old pictures, when
    // they end, leave the new labels alone. The first two new pictures do not
    // read, so their labels must stay empty.
    auto gate = std::make_shared<ReadGate>();
    FilmStrip strip;
    strip.setDataset(gatedImages(60, gate, encodedPicture(Qt::red)));
    QTRY_COMPARE(gate->waiting.load(), 2);

    QList<ImageEntry> blues = fakeImages(60);
    for (int i = 0; i < blues.size(); ++i)
        blues[i].imageData = i < 2 ? QByteArray("not a picture") : encodedPicture(Qt::blue);
    strip.setDataset(blues);
    gate->open.release(1000);
    drainLoads(strip);
    QTRY_COMPARE(gate->ended.load(), 2);
    QTest::qWait(200); // time for a stale answer to land, were it taken
    QVERIFY(strip.thumbnailLabel(0)->pixmap().isNull());
    QVERIFY(strip.thumbnailLabel(1)->pixmap().isNull());
    for (int id : range(2, 49))
        QCOMPARE(pictureColour(strip.thumbnailLabel(id)), QColor(Qt::blue));
}

void TestFilmStrip::destroyedWhileReadsWait()
{
    // The strip goes (the window closes) while two reads wait: it does not wait
    // for them, and their answers, when they come, go nowhere.
    auto gate = std::make_shared<ReadGate>();
    auto *strip = new FilmStrip;
    strip->setDataset(gatedImages(60, gate, encodedPicture(Qt::red)));
    QTRY_COMPARE(gate->waiting.load(), 2);
    QElapsedTimer clock;
    clock.start();
    delete strip;
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

    gate->open.release(2);
    QTRY_COMPARE(gate->ended.load(), 2);
    QTest::qWait(100);
    QCOMPARE(gate->ended.load(), 2); // nothing else was read
}

void TestFilmStrip::stalledReadsGiveUpTheirPlaces()
{
    // Two reads that hang hold their places only for a while: the next
    // thumbnail is read all the same.
    auto gate = std::make_shared<ReadGate>();
    ThumbnailReader reader(QSize(FilmStrip::thumbWidth, FilmStrip::thumbHeight), nullptr, 300);
    QList<int> read;
    connect(&reader, &ThumbnailReader::thumbnailRead, &reader, [&read](int key, const QImage &thumbnail) {
        if (!thumbnail.isNull())
            read.append(key);
    });
    for (int key = 0; key < 2; ++key) {
        ThumbnailReader::Source source;
        source.stored = std::make_shared<GatedBytes>(gate, encodedPicture(Qt::red));
        reader.request(key, source);
    }
    ThumbnailReader::Source quick;
    quick.encoded = encodedPicture(Qt::green, 7, 5);
    reader.request(2, quick);
    QTRY_COMPARE(read, QList<int>{2});
    QCOMPARE(gate->waiting.load(), 2);
    QCOMPARE(reader.outstanding(), 2);

    gate->open.release(2);
    QTRY_COMPARE(read.size(), 3);
    QCOMPARE(reader.outstanding(), 0);
}

QM_TEST_MAIN(TestFilmStrip)
#include "tst_filmstrip.moc"
