// The video decoder on real files made by ffmpeg, in the containers and codecs
// people bring: MJPEG and MPEG-4 Part 2 (at an odd width) in AVI, H.264 with
// B-frames in MP4 and Matroska, VP9 in WebM, H.265 with open groups of
// pictures, sound that outlasts the picture, a variable frame rate with dropped
// slots, and a portrait clip stored sideways with a display rotation. Every
// delivered picture is checked by the index its pixels carry.

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
    // Upright size, as the decoder reports it.
    int width = 0;
    int height = 0;
    double fps = 0;
    // The code each picture carries; empty when picture i carries i.
    QList<int> codes;
    // Clockwise turn from the stored frame to the upright picture.
    int rotation = 0;
    // Pictures where decoding starts over (key pictures), to aim just before.
    QList<int> keys;

    int codeOf(int picture) const { return codes.isEmpty() ? picture : codes.value(picture, -1); }
    // The code shown by an upright picture.
    int shownCode(const QImage &image) const
    {
        if (rotation == 0)
            return frameCode(image);
        const int storedWidth = rotation % 180 ? image.height() : image.width();
        const int storedHeight = rotation % 180 ? image.width() : image.height();
        return VideoFixture::frameCode(image, storedWidth, storedHeight, [&](const QPointF &p) {
            switch (rotation) {
            case 90: return QPoint(int(storedHeight - 1 - p.y()), int(p.x()));
            case 180: return QPoint(int(storedWidth - 1 - p.x()), int(storedHeight - 1 - p.y()));
            default: return QPoint(int(p.y()), int(storedWidth - 1 - p.x()));
            }
        });
    }
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

QStringList args(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *item : list)
        result << QString::fromLatin1(item);
    return result;
}

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
    void steppingBackwardThroughAGroup();
    void burstsOfRequests_data();
    void burstsOfRequests();
    void openingAnotherFileDropsTheFirst();
    void closeStopsEverything();
    void nonAsciiPaths();
    void refusedFiles_data();
    void refusedFiles();
    void undecodableVideoIsRefused();

private:
    void addFixtureRows();
    bool makeFixture(const QString &name, const QString &file, const QString &framesFolder, const QStringList &codec,
                     Fixture fixture, const QStringList &input = {});
    // Opens and waits for the answer and, on success, frame 0.
    bool openAndWait(Probe &probe, const QString &path);
    // Asks for a frame and waits for exactly one answer; the index it carries.
    int requestAndWait(Probe &probe, int frame);

    QTemporaryDir dir;
    QHash<QString, Fixture> fixtures;
    QStringList fixtureOrder;
};

// Encodes the coded frames of `framesFolder` (at 25 fps unless `input` says
// otherwise) with `codec` into `file` and records the fixture.
bool TestVideoDecoder::makeFixture(const QString &name, const QString &file, const QString &framesFolder,
                                   const QStringList &codec, Fixture fixture, const QStringList &input)
{
    const QDir root(dir.path());
    fixture.path = root.filePath(file);
    QStringList arguments = input.isEmpty() ? args({"-framerate", "25"}) : input;
    arguments << QStringLiteral("-i") << QDir(root.filePath(framesFolder)).filePath(QStringLiteral("f%05d.png"));
    arguments << codec << fixture.path;
    QString log;
    if (!VideoFixture::runFfmpeg(arguments, &log)) {
        qWarning("%s: %s", qPrintable(name), qPrintable(log));
        return false;
    }
    fixtures.insert(name, fixture);
    fixtureOrder << name;
    return true;
}

void TestVideoDecoder::initTestCase()
{
    QVERIFY2(!VideoFixture::ffmpeg().isEmpty(), "Debian's ffmpeg is needed to make the test videos");
    QVERIFY(dir.isValid());
    const QDir root(dir.path());
    const auto frames = [&](const QString &folder, int count, int width, int height) {
        return root.mkpath(folder) && VideoFixture::writeFrames(QDir(root.filePath(folder)), count, width, height);
    };
    QVERIFY(frames(QStringLiteral("small"), 40, 192, 108));
    QVERIFY(frames(QStringLiteral("long"), 300, 240, 136));
    QVERIFY(frames(QStringLiteral("odd"), 60, 853, 480));
    QVERIFY(frames(QStringLiteral("vfr"), 60, 192, 108));

    QVERIFY(makeFixture(QStringLiteral("mjpeg-avi"), QStringLiteral("clip.avi"), QStringLiteral("small"),
                        VideoFixture::mjpegCodec(), {{}, 40, 192, 108, 25.0, {}, 0, {}}));
    // 29.97 fps, groups of 60 with B-frames.
    QVERIFY(makeFixture(QStringLiteral("h264-mp4"), QStringLiteral("clip.mp4"), QStringLiteral("long"),
                        VideoFixture::h264Codec(60), {{}, 300, 240, 136, 30000.0 / 1001.0, {}, 0, {60, 120, 180, 240}},
                        args({"-framerate", "30000/1001"})));
    QVERIFY(makeFixture(QStringLiteral("h264-mkv"), QStringLiteral("clip.mkv"), QStringLiteral("long"),
                        VideoFixture::h264Codec(50), {{}, 300, 240, 136, 25.0, {}, 0, {50, 100, 250}}));
    QVERIFY(makeFixture(QStringLiteral("vp9-webm"), QStringLiteral("clip.webm"), QStringLiteral("small"),
                        args({"-c:v", "libvpx-vp9", "-g", "12", "-deadline", "realtime", "-cpu-used", "8", "-b:v",
                              "400k", "-pix_fmt", "yuv420p"}),
                        {{}, 40, 192, 108, 25.0, {}, 0, {12, 24, 36}}));
    // MPEG-4 Part 2 at an odd width: the case that once wrote past the picture's buffer.
    QVERIFY(makeFixture(QStringLiteral("mpeg4-avi-853"), QStringLiteral("odd.avi"), QStringLiteral("odd"),
                        args({"-c:v", "mpeg4", "-q:v", "3", "-g", "15"}), {{}, 60, 853, 480, 25.0, {}, 0, {15, 30, 45}}));
    // H.265 with the encoder's open groups: the pictures shown just before each
    // key picture are decoded after it and refer to the group before.
    QVERIFY(makeFixture(QStringLiteral("h265-open-gop"), QStringLiteral("open.mp4"), QStringLiteral("long"),
                        args({"-c:v", "libx265", "-x265-params",
                              "keyint=30:min-keyint=30:open-gop=1:bframes=4:scenecut=0:log-level=error", "-tag:v",
                              "hvc1", "-pix_fmt", "yuv420p"}),
                        {{}, 300, 240, 136, 25.0, {}, 0, {30, 60, 90, 270}}));
    // Pictures 2, 6, 10, ... dropped: the time stamps keep the gaps.
    {
        Fixture vfr{{}, 0, 192, 108, 0, {}, 0, {12}};
        for (int n = 0; n < 60; ++n) {
            if (n % 4 != 2)
                vfr.codes << n;
        }
        vfr.frames = int(vfr.codes.size());
        vfr.fps = -1; // whatever the stream says
        QVERIFY(makeFixture(QStringLiteral("vfr-dropped"), QStringLiteral("vfr.mkv"), QStringLiteral("vfr"),
                            args({"-vf", "select='not(eq(mod(n\\,4)\\,2))'", "-fps_mode", "vfr", "-c:v", "libx264",
                                  "-g", "12", "-bf", "2", "-pix_fmt", "yuv420p"}),
                            vfr));
    }
    // A portrait clip stored sideways (192 x 108) with a display matrix that
    // turns it a quarter counter-clockwise, as ffmpeg itself shows it.
    {
        QVERIFY(makeFixture(QStringLiteral("portrait-stored"), QStringLiteral("stored.mp4"), QStringLiteral("small"),
                            VideoFixture::h264Codec(12), {}));
        fixtures.remove(QStringLiteral("portrait-stored"));
        fixtureOrder.removeLast();
        const QString path = root.filePath(QStringLiteral("portrait.mp4"));
        QString log;
        QVERIFY2(VideoFixture::runFfmpeg({QStringLiteral("-i"), root.filePath(QStringLiteral("stored.mp4")),
                                          QStringLiteral("-c"), QStringLiteral("copy"),
                                          QStringLiteral("-metadata:s:v:0"), QStringLiteral("rotate=90"), path},
                                         &log),
                 qPrintable(log));
        fixtures.insert(QStringLiteral("portrait-rotated"), {path, 40, 108, 192, 25.0, {}, 270, {12, 24}});
        fixtureOrder << QStringLiteral("portrait-rotated");
    }
    // Sound that outlasts the picture: 40 pictures, 3 s of sound.
    {
        QString log;
        const QString path = root.filePath(QStringLiteral("longaudio.mp4"));
        QVERIFY2(VideoFixture::encodeWithLongerAudio(QDir(root.filePath(QStringLiteral("small"))), path, &log),
                 qPrintable(log));
        fixtures.insert(QStringLiteral("audio-longer"), {path, 40, 192, 108, 25.0, {}, 0, {12, 24, 36}});
        fixtureOrder << QStringLiteral("audio-longer");
    }
    // One frame.
    {
        QString log;
        const QString one = root.filePath(QStringLiteral("one.mp4"));
        QVERIFY2(VideoFixture::encodeOneFrame(QDir(root.filePath(QStringLiteral("small"))).filePath(QStringLiteral("f00007.png")),
                                              one, &log),
                 qPrintable(log));
        fixtures.insert(QStringLiteral("one-frame"), {one, 1, 192, 108, 25.0, {7}, 0, {}});
        fixtureOrder << QStringLiteral("one-frame");
    }
}

bool TestVideoDecoder::openAndWait(Probe &probe, const QString &path)
{
    probe.opened.clear();
    probe.frames.clear();
    probe.decoder.open(path);
    if (!probe.opened.wait(QmTest::patienceMs) || !probe.opened.at(0).at(0).toBool())
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
    for (const QString &name : std::as_const(fixtureOrder))
        QTest::newRow(qPrintable(name)) << name;
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
    QVERIFY(probe.opened.wait(QmTest::patienceMs));
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.opened.at(0).at(0).toBool(), true);
    QCOMPARE(probe.opened.at(0).at(1).toString(), QString());
    QVERIFY(probe.decoder.isOpen());
    QCOMPARE(probe.decoder.path(), f.path);
    QCOMPARE(probe.decoder.frameCount(), f.frames);
    QCOMPARE(probe.decoder.width(), f.width);
    QCOMPARE(probe.decoder.height(), f.height);
    if (f.fps > 0)
        QVERIFY(qAbs(probe.decoder.fps() - f.fps) < 0.01);
    QVERIFY(probe.decoder.fps() > 0);

    // Frame 0 follows by itself.
    if (probe.frames.isEmpty())
        QVERIFY(probe.frames.wait(QmTest::patienceMs));
    QCOMPARE(probe.frameIndex(0), 0);
    const QImage first = probe.frameImage(0);
    QCOMPARE(first.size(), QSize(f.width, f.height));
    QCOMPARE(f.shownCode(first), f.codeOf(0));
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
    // Forward and back, the last frame (after which the codec has seen the end
    // of the stream), indices that are clamped, and the pictures just before and
    // at each key picture, reached from both sides.
    QList<QPair<int, int>> requests = {
        {1, 1}, {7, 7}, {last, last}, {3, 3}, {0, 0}, {last - 1, last - 1}, {500, last}, {-3, 0}, {7, 7}, {last, last},
    };
    for (const int key : f.keys) {
        requests << qMakePair(key - 1, key - 1) << qMakePair(key, key) << qMakePair(key - 2, key - 2)
                 << qMakePair(key + 1, key + 1) << qMakePair(key - 1, key - 1);
    }
    for (const auto &[asked, expected] : requests) {
        const int want = std::clamp(expected, 0, last);
        const int got = requestAndWait(probe, asked);
        QVERIFY2(got == want, qPrintable(QStringLiteral("asked %1, got index %2").arg(asked).arg(got)));
        const QImage image = probe.frameImage(0);
        QCOMPARE(image.size(), QSize(f.width, f.height));
        QCOMPARE(f.shownCode(image), f.codeOf(want));
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
    QTest::newRow("h265 across open groups") << QStringLiteral("h265-open-gop") << 20 << 70;
    QTest::newRow("vfr whole clip") << QStringLiteral("vfr-dropped") << 0 << 44;
    QTest::newRow("audio longer, to the last picture") << QStringLiteral("audio-longer") << 30 << 39;
    QTest::newRow("odd width whole clip") << QStringLiteral("mpeg4-avi-853") << 0 << 59;
}

void TestVideoDecoder::steppingForward()
{
    QFETCH(QString, fixture);
    QFETCH(int, from);
    QFETCH(int, to);
    Probe probe;
    const Fixture f = fixtures.value(fixture);
    QVERIFY(openAndWait(probe, f.path));
    QCOMPARE(requestAndWait(probe, from), from);
    for (int frame = from + 1; frame <= to; ++frame) {
        QCOMPARE(requestAndWait(probe, frame), frame);
        QCOMPARE(f.shownCode(probe.frameImage(0)), f.codeOf(frame));
    }
    // Stepping back after the end still works.
    QCOMPARE(requestAndWait(probe, from), from);
    QCOMPARE(f.shownCode(probe.frameImage(0)), f.codeOf(from));
    QCOMPARE(probe.failed.size(), 0);
}

// Backwards one picture at a time through a whole group of pictures and into
// the group before: every step shows its own picture.
void TestVideoDecoder::steppingBackwardThroughAGroup()
{
    for (const QString &name : {QStringLiteral("h264-mp4"), QStringLiteral("h265-open-gop")}) {
        const Fixture f = fixtures.value(name);
        Probe probe;
        QVERIFY(openAndWait(probe, f.path));
        const int from = f.keys.at(1) + 10;
        for (int frame = from; frame >= f.keys.at(0) - 5; --frame) {
            QCOMPARE(requestAndWait(probe, frame), frame);
            QVERIFY2(f.shownCode(probe.frameImage(0)) == f.codeOf(frame), qPrintable(name + QString::number(frame)));
        }
    }
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
    QVERIFY(probe.opened.wait(QmTest::patienceMs));
    QVERIFY(!probe.frames.isEmpty() || probe.frames.wait(QmTest::patienceMs));
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
    QVERIFY(second.opened.wait(QmTest::patienceMs));
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

    // The front of a real file: the container cannot be read to its index.
    const QString truncated = root.filePath(QStringLiteral("truncated.mp4"));
    const QByteArray whole = VideoFixture::readAll(fixtures.value(QStringLiteral("h264-mp4")).path);
    QVERIFY(VideoFixture::writeFile(truncated, whole.left(whole.size() / 2)));
    QTest::newRow("truncated mp4") << truncated << invalid;

    // A bare MPEG-1 sequence header, 25 bytes, with no size and no frame rate,
    // and one with a size but nothing to show.
    const QByteArray header = QByteArray::fromHex("000001b3000000f0ffffe0180000010000000000000000000000");
    const QString mpeg1 = root.filePath(QStringLiteral("damaged.mpg"));
    QVERIFY(VideoFixture::writeFile(mpeg1, header.left(25)));
    QTest::newRow("25-byte mpeg-1 header") << mpeg1 << QString();
    const QString sized = root.filePath(QStringLiteral("sized.m1v"));
    QVERIFY(VideoFixture::writeFile(sized, QByteArray::fromHex("000001b3010010130000e018000001b8000800000000010000")));
    QTest::newRow("mpeg-1 header with a size") << sized << QString();
    // A playlist named like a video is not followed to the files it names.
    const QString playlist = root.filePath(QStringLiteral("list.mp4"));
    QVERIFY(VideoFixture::writeFile(playlist, "#EXTM3U\n#EXTINF:1,\n" + QFile::encodeName(fixtures.value(QStringLiteral("h264-mp4")).path) + "\n"));
    QTest::newRow("playlist") << playlist << invalid;
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
    QVERIFY(probe.opened.wait(QmTest::patienceMs));
    QTest::qWait(100);
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.opened.at(0).at(0).toBool(), false);
    // An empty expectation: refused with any of the decoder's texts.
    if (error.isEmpty())
        QVERIFY(QStringList({QStringLiteral("Invalid media / unsupported format"), QStringLiteral("Could not read video metadata"),
                             QStringLiteral("No video frame could be decoded")})
                    .contains(probe.opened.at(0).at(1).toString()));
    else
        QCOMPARE(probe.opened.at(0).at(1).toString(), error);
    QVERIFY(!probe.decoder.isOpen());
    QCOMPARE(probe.decoder.frameCount(), 0);
    // The path stays for the caller's message.
    QCOMPARE(probe.decoder.path(), path);
    probe.decoder.seekToFrame(3);
    QTest::qWait(200);
    QCOMPARE(probe.frames.size(), 0);
}

void TestVideoDecoder::undecodableVideoIsRefused()
{
    // An MP4 whose container is sound but whose pictures are zeros: the index
    // is there, yet no picture decodes. Refused at once, with no waiting out.
    const QByteArray bytes =
        VideoFixture::withZeroedPictures(VideoFixture::readAll(fixtures.value(QStringLiteral("h264-mp4")).path));
    QVERIFY(!bytes.isEmpty());
    const QString path = dir.filePath(QStringLiteral("zeroed.mp4"));
    QVERIFY(VideoFixture::writeFile(path, bytes));

    Probe probe;
    QElapsedTimer clock;
    clock.start();
    probe.decoder.open(path);
    QVERIFY(probe.opened.wait(QmTest::patienceMs));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(probe.opened.at(0).at(0).toBool(), false);
    // Whether the stream's description survives the zeros depends on what
    // FFmpeg can still make of the first packets.
    const QString error = probe.opened.at(0).at(1).toString();
    QVERIFY2(error == QLatin1String("No video frame could be decoded") ||
                 error == QLatin1String("Could not read video metadata"),
             qPrintable(error));
    QVERIFY(!probe.decoder.isOpen());
    QTest::qWait(200);
    QCOMPARE(probe.opened.size(), 1);
    QCOMPARE(probe.frames.size(), 0);
}

QM_TEST_MAIN(TestVideoDecoder)
#include "tst_videodecoder.moc"
