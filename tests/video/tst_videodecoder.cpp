// The video decoder on real files made by ffmpeg: MJPEG in AVI (every frame a
// key frame) and H.264 in MP4 at 29.97 frames per second with groups of 60
// pictures and B-frames. Every delivered picture is checked by the index its
// pixels carry.

#include "QmTest.h"
#include "VideoFixtures.h"

#include "video/VideoDecoder.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Quillmark;
using VideoFixture::frameCode;

namespace {

struct Fixture {
    QString path;
    int frames = 0;
    int width = 0;
    int height = 0;
    double fps = 0;
};

// A decoder with a record of everything it reports.
struct Probe {
    VideoDecoder decoder;
    QSignalSpy opened{&decoder, &VideoDecoder::opened};
    QSignalSpy frames{&decoder, &VideoDecoder::frameReady};
    QSignalSpy failed{&decoder, &VideoDecoder::frameFailed};

    int frameIndex(qsizetype i) const { return frames.at(i).at(0).toInt(); }
    QImage frameImage(qsizetype i) const { return frames.at(i).at(1).value<QImage>(); }
};

} // namespace

class TestVideoDecoder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void metadata_data();
    void metadata();
    void seeksDeliverTheRequestedFrame_data();
    void seeksDeliverTheRequestedFrame();
    void steppingForward_data();
    void steppingForward();
    void burstsOfRequests_data();
    void burstsOfRequests();
    void openingAnotherFileDropsTheFirst();
    void closeStopsEverything();
    void nonAsciiPaths();
    void refusedFiles_data();
    void refusedFiles();
    void framesPastTheLastPictureFail();
    void undecodableVideoTimesOut();

private:
    void addFixtureRows();
    // Opens and waits for the answer and, on success, frame 0.
    bool openAndWait(Probe &probe, const QString &path);
    // Asks for a frame and waits for exactly one answer; the index it carries.
    int requestAndWait(Probe &probe, int frame);

    QTemporaryDir dir;
    QHash<QString, Fixture> fixtures;
};

void TestVideoDecoder::initTestCase()
{
    QVERIFY2(!VideoFixture::ffmpeg().isEmpty(), "Debian's ffmpeg is needed to make the test videos");
    QVERIFY(dir.isValid());
    const QDir root(dir.path());
    QString log;

    // MJPEG in AVI, 40 frames at 25 fps, 192 x 108.
    QVERIFY(root.mkpath(QStringLiteral("small")));
    const QDir small(root.filePath(QStringLiteral("small")));
    QVERIFY(VideoFixture::writeFrames(small, 40, 192, 108));
    const QString avi = root.filePath(QStringLiteral("clip.avi"));
    QVERIFY2(VideoFixture::encode(small, QStringLiteral("25"), VideoFixture::mjpegCodec(), avi, &log), qPrintable(log));
    fixtures.insert(QStringLiteral("mjpeg-avi"), {avi, 40, 192, 108, 25.0});

    // H.264 in MP4, 300 frames at 30000/1001 fps, 240 x 136.
    QVERIFY(root.mkpath(QStringLiteral("long")));
    const QDir longFrames(root.filePath(QStringLiteral("long")));
    QVERIFY(VideoFixture::writeFrames(longFrames, 300, 240, 136));
    const QString mp4 = root.filePath(QStringLiteral("clip.mp4"));
    QVERIFY2(VideoFixture::encode(longFrames, QStringLiteral("30000/1001"), VideoFixture::h264Codec(60), mp4, &log),
             qPrintable(log));
    fixtures.insert(QStringLiteral("h264-mp4"), {mp4, 300, 240, 136, 30000.0 / 1001.0});

    // One frame.
    const QString one = root.filePath(QStringLiteral("one.mp4"));
    QVERIFY2(VideoFixture::encodeOneFrame(small.filePath(QStringLiteral("f00007.png")), one, &log), qPrintable(log));
    fixtures.insert(QStringLiteral("one-frame"), {one, 1, 192, 108, 25.0});
}

bool TestVideoDecoder::openAndWait(Probe &probe, const QString &path)
{
    probe.opened.clear();
    probe.frames.clear();
    probe.decoder.open(path);
    if (!probe.opened.wait(10000) || !probe.opened.at(0).at(0).toBool())
        return false;
    return !probe.frames.isEmpty() || probe.frames.wait(QmTest::patienceMs);
}

int TestVideoDecoder::requestAndWait(Probe &probe, int frame)
{
    probe.frames.clear();
    probe.decoder.seekToFrame(frame);
    if (!probe.frames.wait(QmTest::patienceMs))
        return -1;
    // Nothing more may follow for the same request.
    QTest::qWait(40);
    if (probe.frames.size() != 1)
        return -2;
    return probe.frameIndex(0);
}

void TestVideoDecoder::addFixtureRows()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("mjpeg-avi") << QStringLiteral("mjpeg-avi");
    QTest::newRow("h264-mp4") << QStringLiteral("h264-mp4");
    QTest::newRow("one-frame") << QStringLiteral("one-frame");
}

void TestVideoDecoder::metadata_data()
{
    addFixtureRows();
}

void TestVideoDecoder::metadata()
{
    QFETCH(QString, fixture);
    const Fixture f = fixtures.value(fixture);
    Probe probe;
    probe.decoder.open(f.path);
    // Never answered from inside open(): a wait started afterwards sees it.
    QCOMPARE(probe.opened.size(), 0);
    QVERIFY(probe.opened.wait(10000));
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.opened.at(0).at(0).toBool(), true);
    QCOMPARE(probe.opened.at(0).at(1).toString(), QString());
    QVERIFY(probe.decoder.isOpen());
    QCOMPARE(probe.decoder.path(), f.path);
    QCOMPARE(probe.decoder.frameCount(), f.frames);
    QCOMPARE(probe.decoder.width(), f.width);
    QCOMPARE(probe.decoder.height(), f.height);
    QVERIFY(qAbs(probe.decoder.fps() - f.fps) < 0.01);

    // Frame 0 follows by itself.
    QVERIFY(probe.frames.wait(QmTest::patienceMs));
    QCOMPARE(probe.frameIndex(0), 0);
    const QImage first = probe.frameImage(0);
    QCOMPARE(first.size(), QSize(f.width, f.height));
    QCOMPARE(frameCode(first), fixture == QLatin1String("one-frame") ? 7 : 0);
}

void TestVideoDecoder::seeksDeliverTheRequestedFrame_data()
{
    addFixtureRows();
}

void TestVideoDecoder::seeksDeliverTheRequestedFrame()
{
    QFETCH(QString, fixture);
    const Fixture f = fixtures.value(fixture);
    Probe probe;
    QVERIFY(openAndWait(probe, f.path));
    const int last = f.frames - 1;
    // Forward and back, the last frame (after which an H.264 decoder has seen the
    // end of the stream), and indices that are clamped.
    const QList<QPair<int, int>> requests = {
        {1, 1}, {7, 7}, {last, last}, {3, 3}, {0, 0}, {last - 1, last - 1}, {500, last}, {-3, 0}, {7, 7}, {last, last},
    };
    for (const auto &[asked, expected] : requests) {
        const int want = std::clamp(expected, 0, last);
        const int got = requestAndWait(probe, asked);
        QVERIFY2(got == want, qPrintable(QStringLiteral("asked %1, got index %2").arg(asked).arg(got)));
        // Only the one-frame clip shows a picture other than its index.
        const int code = frameCode(probe.frameImage(0));
        QCOMPARE(code, fixture == QLatin1String("one-frame") ? 7 : want);
        QCOMPARE(probe.decoder.currentFrame(), want);
        QVERIFY(!probe.decoder.isAwaitingFrame());
    }
    QCOMPARE(probe.failed.size(), 0);
}

void TestVideoDecoder::steppingForward_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("mjpeg-avi whole clip") << QStringLiteral("mjpeg-avi") << 0 << 39;
    // Across the start of the second group of pictures, and up to the end.
    QTest::newRow("h264-mp4 across a key frame") << QStringLiteral("h264-mp4") << 50 << 75;
    QTest::newRow("h264-mp4 to the end") << QStringLiteral("h264-mp4") << 285 << 299;
}

void TestVideoDecoder::steppingForward()
{
    QFETCH(QString, fixture);
    QFETCH(int, from);
    QFETCH(int, to);
    Probe probe;
    QVERIFY(openAndWait(probe, fixtures.value(fixture).path));
    QCOMPARE(requestAndWait(probe, from), from);
    for (int frame = from + 1; frame <= to; ++frame) {
        QCOMPARE(requestAndWait(probe, frame), frame);
        QCOMPARE(frameCode(probe.frameImage(0)), frame);
    }
    // Stepping back after the end still works.
    QCOMPARE(requestAndWait(probe, from), from);
    QCOMPARE(frameCode(probe.frameImage(0)), from);
}

void TestVideoDecoder::burstsOfRequests_data()
{
    QTest::addColumn<int>("gapMs");
    // All at once: only the last is answered. One every 16 ms, as a dragged
    // scrubber asks: frames of earlier requests arrive late, and none may carry
    // the index of a later one.
    QTest::newRow("at once") << 0;
    QTest::newRow("every 16 ms") << 16;
}

void TestVideoDecoder::burstsOfRequests()
{
    QFETCH(int, gapMs);
    Probe probe;
    const Fixture f = fixtures.value(QStringLiteral("h264-mp4"));
    QVERIFY(openAndWait(probe, f.path));
    QRandomGenerator random(41);
    probe.frames.clear();
    int target = 0;
    for (int i = 0; i < 20; ++i) {
        target = i == 7 ? f.frames - 1 : int(random.bounded(f.frames));
        probe.decoder.seekToFrame(target);
        if (gapMs > 0)
            QTest::qWait(gapMs);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!probe.decoder.isAwaitingFrame(), QmTest::patienceMs);
    QTest::qWait(300);
    QVERIFY(!probe.frames.isEmpty());
    if (gapMs == 0)
        QCOMPARE(probe.frames.size(), 1);
    for (qsizetype i = 0; i < probe.frames.size(); ++i)
        QCOMPARE(frameCode(probe.frameImage(i)), probe.frameIndex(i));
    QCOMPARE(probe.frameIndex(probe.frames.size() - 1), target);
    QCOMPARE(probe.decoder.currentFrame(), target);
}

void TestVideoDecoder::openingAnotherFileDropsTheFirst()
{
    const Fixture a = fixtures.value(QStringLiteral("h264-mp4"));
    const Fixture b = fixtures.value(QStringLiteral("mjpeg-avi"));
    Probe probe;
    probe.decoder.open(a.path);
    probe.decoder.open(b.path);
    QVERIFY(probe.opened.wait(10000));
    QVERIFY(probe.frames.wait(QmTest::patienceMs));
    QTest::qWait(300);
    QCOMPARE(probe.opened.size(), 1);
    QVERIFY(probe.opened.at(0).at(0).toBool());
    QCOMPARE(probe.decoder.path(), b.path);
    QCOMPARE(probe.decoder.frameCount(), b.frames);
    // Every frame that arrived is one of the second file.
    for (qsizetype i = 0; i < probe.frames.size(); ++i)
        QCOMPARE(probe.frameImage(i).size(), QSize(b.width, b.height));

    // Also when the first open has already failed (its answer is still queued).
    Probe second;
    second.decoder.open(dir.filePath(QStringLiteral("missing.mp4")));
    second.decoder.open(b.path);
    QVERIFY(second.opened.wait(10000));
    QTest::qWait(200);
    QCOMPARE(second.opened.size(), 1);
    QVERIFY(second.opened.at(0).at(0).toBool());
}

void TestVideoDecoder::closeStopsEverything()
{
    const Fixture f = fixtures.value(QStringLiteral("h264-mp4"));
    Probe probe;
    QVERIFY(openAndWait(probe, f.path));
    // A request under way when the decoder closes is never answered.
    probe.frames.clear();
    probe.decoder.seekToFrame(150);
    probe.decoder.close();
    probe.decoder.seekToFrame(10);
    QTest::qWait(500);
    QCOMPARE(probe.frames.size(), 0);
    QCOMPARE(probe.failed.size(), 0);
    QVERIFY(!probe.decoder.isOpen());
    QCOMPARE(probe.decoder.frameCount(), 0);
    QCOMPARE(probe.decoder.path(), QString());

    // Closed while still opening: no answer at all.
    probe.opened.clear();
    probe.decoder.open(f.path);
    probe.decoder.close();
    QTest::qWait(500);
    QCOMPARE(probe.opened.size(), 0);
    QCOMPARE(probe.frames.size(), 0);
}

// Videos in folders such as ~/Masaüstü or with names such as çekim.mp4 open
// like any other, and nothing of the way they are opened stays behind.
void TestVideoDecoder::nonAsciiPaths()
{
    const QString tempFolder = dir.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tempFolder));
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tempFolder));
    const Fixture f = fixtures.value(QStringLiteral("mjpeg-avi"));
    const QString folder = dir.filePath(QStringLiteral("Masaüstü"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &name : {QStringLiteral("çekim.avi"), QStringLiteral("İşaret #2.AVI")}) {
        const QString path = QDir(folder).filePath(name);
        QVERIFY(QFile::copy(f.path, path));
        Probe probe;
        QVERIFY2(openAndWait(probe, path), qPrintable(name));
        QCOMPARE(probe.decoder.path(), path);
        QCOMPARE(probe.decoder.frameCount(), f.frames);
        QCOMPARE(requestAndWait(probe, 23), 23);
        QCOMPARE(VideoFixture::frameCode(probe.frames.at(0).at(1).value<QImage>()), 23);
        probe.decoder.close();
        QCOMPARE(QDir(tempFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), QStringList());
    }
    qputenv("TMPDIR", oldTemp);
}

void TestVideoDecoder::refusedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    const QDir root(dir.path());
    const QString invalid = QStringLiteral("Invalid media / unsupported format");

    const QString audio = root.filePath(QStringLiteral("audio.mp4"));
    QString log;
    const QStringList arguments{QStringLiteral("-f"),
                                QStringLiteral("lavfi"),
                                QStringLiteral("-i"),
                                QStringLiteral("sine=frequency=440:duration=2"),
                                QStringLiteral("-c:a"),
                                QStringLiteral("aac"),
                                audio};
    QVERIFY2(VideoFixture::runFfmpeg(arguments, &log), qPrintable(log));
    QTest::newRow("audio only") << audio << QStringLiteral("Could not read video metadata");

    const QString garbage = root.filePath(QStringLiteral("garbage.mp4"));
    QVERIFY(VideoFixture::writeFile(garbage, VideoFixture::noise(64 * 1024, 3)));
    QTest::newRow("random bytes") << garbage << invalid;

    const QString empty = root.filePath(QStringLiteral("empty.mp4"));
    QVERIFY(VideoFixture::writeFile(empty, QByteArray()));
    QTest::newRow("empty file") << empty << invalid;

    // The back-end reports no length for Matroska: refused, not opened without frames.
    const QString matroska = root.filePath(QStringLiteral("clip.mkv"));
    QString mkvLog;
    QVERIFY2(VideoFixture::encode(QDir(root.filePath(QStringLiteral("small"))), QStringLiteral("25"),
                                  VideoFixture::h264Codec(12), matroska, &mkvLog),
             qPrintable(mkvLog));
    QTest::newRow("matroska") << matroska << QStringLiteral("Could not read video metadata");
    QTest::newRow("missing file") << root.filePath(QStringLiteral("missing.mp4")) << invalid;
    QTest::newRow("folder") << dir.path() << invalid;

    // A pipe would block the reading thread for good.
    const QString pipe = root.filePath(QStringLiteral("pipe.mp4"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QTest::newRow("pipe") << pipe << invalid;
}

void TestVideoDecoder::refusedFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    Probe probe;
    QElapsedTimer clock;
    clock.start();
    probe.decoder.open(path);
    // A refused file never holds the window up: open() hands over to the
    // back-end or fails at once (a pipe it tried to read would never return).
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(probe.opened.size(), 0);
    QVERIFY(probe.opened.wait(10000));
    QTest::qWait(100);
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.opened.at(0).at(0).toBool(), false);
    QCOMPARE(probe.opened.at(0).at(1).toString(), error);
    QVERIFY(!probe.decoder.isOpen());
    QCOMPARE(probe.decoder.frameCount(), 0);
    // The path stays for the caller's message.
    QCOMPARE(probe.decoder.path(), path);
    probe.decoder.seekToFrame(3);
    QTest::qWait(200);
    QCOMPARE(probe.frames.size(), 0);
}

void TestVideoDecoder::framesPastTheLastPictureFail()
{
    // Audio that outlasts the picture: the length the media reports counts
    // frames that do not exist.
    const QDir root(dir.path());
    const QString path = root.filePath(QStringLiteral("longaudio.mp4"));
    QString log;
    QVERIFY2(VideoFixture::encodeWithLongerAudio(QDir(root.filePath(QStringLiteral("small"))), path, &log),
             qPrintable(log));
    Probe probe;
    QVERIFY(openAndWait(probe, path));
    QCOMPARE(probe.decoder.frameCount(), 75);

    probe.frames.clear();
    // A long frame time-out, so that only the end of the stream can end the
    // wait early; a loaded machine may take seconds to report that end.
    constexpr int longTimeoutMs = 30000;
    probe.decoder.setFrameTimeout(longTimeoutMs);
    QElapsedTimer clock;
    clock.start();
    probe.decoder.seekToFrame(60);
    QVERIFY(probe.failed.wait(longTimeoutMs + 1000));
    // The end of the stream cuts the wait short.
    QVERIFY2(clock.elapsed() < longTimeoutMs / 2, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(probe.failed.at(0).at(0).toInt(), 60);
    QCOMPARE(probe.frames.size(), 0);
    QVERIFY(!probe.decoder.isAwaitingFrame());

    // The real frames are still there.
    QCOMPARE(requestAndWait(probe, 39), 39);
    QCOMPARE(frameCode(probe.frameImage(0)), 39);
    QCOMPARE(requestAndWait(probe, 12), 12);
    QCOMPARE(frameCode(probe.frameImage(0)), 12);
}

void TestVideoDecoder::undecodableVideoTimesOut()
{
    // An MP4 whose container is sound but whose pictures are zeros: the media
    // loads, yet no frame ever decodes.
    const QByteArray bytes =
        VideoFixture::withZeroedPictures(VideoFixture::readAll(fixtures.value(QStringLiteral("h264-mp4")).path));
    QVERIFY(!bytes.isEmpty());
    const QString path = dir.filePath(QStringLiteral("zeroed.mp4"));
    QVERIFY(VideoFixture::writeFile(path, bytes));

    Probe probe;
    probe.decoder.setOpenTimeout(1500);
    QElapsedTimer clock;
    clock.start();
    probe.decoder.open(path);
    QVERIFY(probe.opened.wait(30000));
    // The time-out set ends the wait, well before the default one however late
    // a loaded machine runs the timer.
    QVERIFY2(clock.elapsed() < VideoDecoder::defaultOpenTimeoutMs,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(probe.opened.at(0).at(0).toBool(), false);
    QCOMPARE(probe.opened.at(0).at(1).toString(), QStringLiteral("No video frame could be decoded"));
    QVERIFY(!probe.decoder.isOpen());
    QTest::qWait(200);
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.frames.size(), 0);
}

QM_TEST_MAIN(TestVideoDecoder)
#include "tst_videodecoder.moc"
