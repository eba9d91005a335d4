// The video decoder on real files made by ffmpeg, in the containers and codecs
// people bring: MJPEG and MPEG-4 Part 2 (at an odd width) in AVI, H.264 with
// B-frames in MP4 and Matroska, VP9 in WebM, H.265 with open groups of
// pictures, sound that outlasts the picture, a variable frame rate with dropped
// slots, and a portrait clip stored sideways with a display rotation. Every
// delivered picture is checked by the index its pixels carry.

#include "QmTest.h"
#include "VideoFixtures.h"

#include "model/LeftBehindThreads.h"
#include "video/VideoDecodeWorker.h"
#include "video/VideoDecoder.h"
#include "video/VideoSource.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QElapsedTimer>
#include <QSemaphore>
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
    // From the stored frame to the upright picture (a turn, a mirror or both).
    QTransform orientation;
    // Pictures where decoding starts over (key pictures), to aim just before.
    QList<int> keys;
    // The stream FFmpeg's own decoding is asked for, and the folder of the
    // pictures the file was made from (for deep colour, compared with them).
    QString stream = QStringLiteral("0:v:0");
    QString sources{};
    bool deepColour = false;

    int codeOf(int picture) const { return codes.isEmpty() ? picture : codes.value(picture, -1); }
    QSize storedSize() const
    {
        const bool sideways = orientation.m11() == 0;
        return sideways ? QSize(height, width) : QSize(width, height);
    }
    // A stored frame as the decoder shows it.
    QImage upright(const QImage &stored) const { return stored.transformed(orientation); }
    // The code shown by an upright picture.
    int shownCode(const QImage &image) const
    {
        if (orientation.isIdentity())
            return frameCode(image);
        const QSize stored = storedSize();
        const QTransform shown = QImage::trueMatrix(orientation, stored.width(), stored.height());
        return VideoFixture::frameCode(image, stored.width(), stored.height(),
                                       [&](const QPointF &p) { return shown.map(p).toPoint(); });
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
    void picturesMatchSequentialDecode_data();
    void picturesMatchSequentialDecode();
    void steppingForward_data();
    void steppingForward();
    void steppingBackwardThroughAGroup();
    void steppingToTheEndDecodesEachPacketOnce_data();
    void steppingToTheEndDecodesEachPacketOnce();
    void burstsOfRequests_data();
    void burstsOfRequests();
    void openingAnotherFileDropsTheFirst();
    void closeStopsEverything();
    void readThatDoesNotAnswerHoldsNobody();
    void nonAsciiPaths();
    void refusedFiles_data();
    void refusedFiles();
    void undecodableVideoIsRefused();

private:
    void addFixtureRows();
    void addHardFixtures();
    bool addDecodedFixture(const QString &name, Fixture fixture);
    bool makeFixture(const QString &name, const QString &file, const QString &framesFolder, const QStringList &codec,
                     Fixture fixture, const QStringList &input = {});
    // Opens and waits for the answer and, on success, frame 0.
    bool openAndWait(Probe &probe, const QString &path);
    // Asks for a frame and waits for exactly one answer; the index it carries.
    // `settle`: wait a moment more to see that nothing else follows (without,
    // what follows shows at the next request).
    int requestAndWait(Probe &probe, int frame, bool settle = true);

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
                        VideoFixture::mjpegCodec(), {{}, 40, 192, 108, 25.0, {}, {}, {}}));
    // 29.97 fps, groups of 60 with B-frames.
    QVERIFY(makeFixture(QStringLiteral("h264-mp4"), QStringLiteral("clip.mp4"), QStringLiteral("long"),
                        VideoFixture::h264Codec(60), {{}, 300, 240, 136, 30000.0 / 1001.0, {}, {}, {60, 120, 180, 240}},
                        args({"-framerate", "30000/1001"})));
    QVERIFY(makeFixture(QStringLiteral("h264-mkv"), QStringLiteral("clip.mkv"), QStringLiteral("long"),
                        VideoFixture::h264Codec(50), {{}, 300, 240, 136, 25.0, {}, {}, {50, 100, 250}}));
    QVERIFY(makeFixture(QStringLiteral("vp9-webm"), QStringLiteral("clip.webm"), QStringLiteral("small"),
                        args({"-c:v", "libvpx-vp9", "-g", "12", "-deadline", "realtime", "-cpu-used", "8", "-b:v",
                              "400k", "-pix_fmt", "yuv420p"}),
                        {{}, 40, 192, 108, 25.0, {}, {}, {12, 24, 36}}));
    // MPEG-4 Part 2 at an odd width: the case that once wrote past the picture's buffer.
    QVERIFY(makeFixture(QStringLiteral("mpeg4-avi-853"), QStringLiteral("odd.avi"), QStringLiteral("odd"),
                        args({"-c:v", "mpeg4", "-q:v", "3", "-g", "15"}), {{}, 60, 853, 480, 25.0, {}, {}, {15, 30, 45}}));
    // H.265 with the encoder's open groups: the pictures shown just before each
    // key picture are decoded after it and refer to the group before.
    QVERIFY(makeFixture(QStringLiteral("h265-open-gop"), QStringLiteral("open.mp4"), QStringLiteral("long"),
                        args({"-c:v", "libx265", "-x265-params",
                              "keyint=30:min-keyint=30:open-gop=1:bframes=4:scenecut=0:log-level=error", "-tag:v",
                              "hvc1", "-pix_fmt", "yuv420p"}),
                        {{}, 300, 240, 136, 25.0, {}, {}, {30, 60, 90, 270}}));
    // Pictures 2, 6, 10, ... dropped: the time stamps keep the gaps.
    {
        Fixture vfr{{}, 0, 192, 108, 0, {}, {}, {12}};
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
        fixtures.insert(QStringLiteral("portrait-rotated"),
                        {path, 40, 108, 192, 25.0, {}, QTransform().rotate(270), {12, 24}});
        fixtureOrder << QStringLiteral("portrait-rotated");
    }
    // Sound that outlasts the picture: 40 pictures, 3 s of sound.
    {
        QString log;
        const QString path = root.filePath(QStringLiteral("longaudio.mp4"));
        QVERIFY2(VideoFixture::encodeWithLongerAudio(QDir(root.filePath(QStringLiteral("small"))), path, &log),
                 qPrintable(log));
        fixtures.insert(QStringLiteral("audio-longer"), {path, 40, 192, 108, 25.0, {}, {}, {12, 24, 36}});
        fixtureOrder << QStringLiteral("audio-longer");
    }
    // One frame.
    {
        QString log;
        const QString one = root.filePath(QStringLiteral("one.mp4"));
        QVERIFY2(VideoFixture::encodeOneFrame(QDir(root.filePath(QStringLiteral("small"))).filePath(QStringLiteral("f00007.png")),
                                              one, &log),
                 qPrintable(log));
        fixtures.insert(QStringLiteral("one-frame"), {one, 1, 192, 108, 25.0, {7}, {}, {}});
        fixtureOrder << QStringLiteral("one-frame");
    }
    addHardFixtures();
}

// Runs ffmpeg with these arguments; false (and its messages as a warning) when it fails.
static bool ffmpegMakes(const QStringList &arguments)
{
    QString log;
    if (VideoFixture::runFfmpeg(arguments, &log))
        return true;
    qWarning("%s", qPrintable(log));
    return false;
}

// Records a fixture whose count, codes and key pictures are what FFmpeg's own
// sequential decoding of it gives out.
bool TestVideoDecoder::addDecodedFixture(const QString &name, Fixture fixture)
{
    const VideoFixture::SequentialDecode truth =
        VideoFixture::sequentialDecode(fixture.path, fixture.stream, fixture.storedSize());
    if (!truth.ok) {
        qWarning("%s: ffmpeg could not decode it", qPrintable(name));
        return false;
    }
    fixture.frames = int(truth.codes.size());
    fixture.codes = truth.codes;
    // A few key pictures spread over the clip are enough to aim around.
    const qsizetype count = truth.keyPictures.size();
    for (qsizetype i = 0; i < std::min<qsizetype>(count, 4); ++i)
        fixture.keys << truth.keyPictures.at(count <= 4 ? i : i * (count - 1) / 3);
    fixtures.insert(name, fixture);
    fixtureOrder << name;
    return true;
}

// The files the decoder once refused or numbered wrongly: B-frames in AVI
// (MPEG-4 Part 2 as Xvid writes it, packed with N-VOP placeholders, and
// H.264), transport and program streams (one under an .mp4 name, one cut
// out of a capture mid-group), a copy cut that starts mid-group, a fast-start
// MP4 broken off, times that are shared, all zero, set back or restarting
// (two transport streams joined), a still before the real video track, a
// mirrored and a turned-and-mirrored display matrix, 10-bit colour, and an
// odd number of rows in 4:2:0 (which FFmpeg converts by its general path,
// not the fast one). Each is numbered by FFmpeg's own sequential decoding of it.
void TestVideoDecoder::addHardFixtures()
{
    const QDir root(dir.path());
    const QString small = QDir(root.filePath(QStringLiteral("small"))).filePath(QStringLiteral("f%05d.png"));
    const QString longer = QDir(root.filePath(QStringLiteral("long"))).filePath(QStringLiteral("f%05d.png"));
    const QStringList fromSmall = args({"-framerate", "25", "-i"}) << small;
    const QStringList fromLong = args({"-framerate", "25", "-i"}) << longer;
    const QStringList h264 = args({"-c:v", "libx264", "-bf", "2", "-g", "12", "-pix_fmt", "yuv420p"});
    const auto path = [&](const char *file) { return root.filePath(QString::fromLatin1(file)); };
    const Fixture smallClip{{}, 0, 192, 108, 25.0, {}, {}, {}};
    const auto at = [](Fixture f, const QString &file) {
        f.path = file;
        return f;
    };

    QVERIFY(ffmpegMakes(fromSmall + args({"-c:v", "mpeg4", "-bf", "2", "-vtag", "xvid", "-q:v", "3", "-g", "12"})
                        << path("xvid.avi")));
    QVERIFY(addDecodedFixture(QStringLiteral("xvid-avi-bframes"), at(smallClip, path("xvid.avi"))));
    QVERIFY(ffmpegMakes(fromSmall + args({"-c:v", "libxvid", "-bf", "2", "-g", "12", "-q:v", "3"})
                        << path("packed.avi")));
    QVERIFY(addDecodedFixture(QStringLiteral("xvid-avi-packed-nvops"), at(smallClip, path("packed.avi"))));
    QVERIFY(ffmpegMakes(fromSmall + h264 << path("h264.avi")));
    QVERIFY(addDecodedFixture(QStringLiteral("h264-avi-bframes"), at(smallClip, path("h264.avi"))));
    {
        const QDir oddRows(root.filePath(QStringLiteral("oddrows")));
        QVERIFY(root.mkpath(QStringLiteral("oddrows")) && VideoFixture::writeFrames(oddRows, 40, 317, 241));
        QVERIFY(ffmpegMakes(args({"-framerate", "25", "-i"}) << oddRows.filePath(QStringLiteral("f%05d.png"))
                            << args({"-c:v", "mpeg4", "-bf", "2", "-vtag", "xvid", "-q:v", "3", "-g", "12"})
                            << path("oddrows.avi")));
        QVERIFY(addDecodedFixture(QStringLiteral("xvid-avi-317x241"),
                                  {path("oddrows.avi"), 0, 317, 241, 25.0, {}, {}, {}}));
    }
    QVERIFY(ffmpegMakes(fromSmall + h264 + args({"-f", "mpegts"}) << path("transport.mp4")));
    QVERIFY(addDecodedFixture(QStringLiteral("h264-ts-named-mp4"), at(smallClip, path("transport.mp4"))));
    {
        // A capture that starts in the middle of a group: the stream's
        // first 60 transport packets are missing.
        const QByteArray whole = VideoFixture::readAll(path("transport.mp4"));
        QVERIFY(VideoFixture::writeFile(path("capture.ts"), whole.mid(188 * 60)));
        QVERIFY(addDecodedFixture(QStringLiteral("ts-capture-mid-gop"), at(smallClip, path("capture.ts"))));
    }
    QVERIFY(ffmpegMakes(fromSmall + args({"-c:v", "mpeg2video", "-bf", "2", "-g", "12", "-q:v", "3", "-f", "vob"})
                        << path("program.mpg")));
    QVERIFY(addDecodedFixture(QStringLiteral("mpeg2-ps-open-gops"), at(smallClip, path("program.mpg"))));
    {
        QVERIFY(ffmpegMakes(fromLong + args({"-frames:v", "100", "-c:v", "libx264", "-bf", "2", "-g", "25",
                                             "-sc_threshold", "0", "-pix_fmt", "yuv420p"})
                            << path("whole.mkv")));
        QVERIFY(ffmpegMakes(QStringList{QStringLiteral("-i"), path("whole.mkv")} +
                            args({"-ss", "0.5", "-c", "copy", "-copyinkf"}) << path("cut.mp4")));
        QVERIFY(addDecodedFixture(QStringLiteral("copy-cut-mid-gop"), {path("cut.mp4"), 0, 240, 136, 25.0, {}, {}, {}}));
    }
    {
        QVERIFY(ffmpegMakes(fromLong + args({"-c:v", "libx264", "-bf", "2", "-g", "50", "-pix_fmt", "yuv420p",
                                             "-movflags", "+faststart"})
                            << path("faststart.mp4")));
        const QByteArray whole = VideoFixture::readAll(path("faststart.mp4"));
        QVERIFY(VideoFixture::writeFile(path("broken-off.mp4"), whole.left(whole.size() * 7 / 10)));
        QVERIFY(addDecodedFixture(QStringLiteral("faststart-mp4-broken-off"),
                                  {path("broken-off.mp4"), 0, 240, 136, 25.0, {}, {}, {}}));
    }
    {
        QVERIFY(ffmpegMakes(fromSmall + args({"-c:v", "libx264", "-bf", "2", "-g", "8", "-pix_fmt", "yuv420p"})
                            << path("timed.mkv")));
        const QStringList copy{QStringLiteral("-i"), path("timed.mkv"), QStringLiteral("-c"), QStringLiteral("copy")};
        QVERIFY(ffmpegMakes(copy + args({"-bsf:v", "setts=pts=if(eq(mod(N\\,2)\\,1)\\,PREV_OUTPTS\\,PTS)"
                                                  ":dts=if(eq(mod(N\\,2)\\,1)\\,PREV_OUTDTS\\,DTS)"})
                            << path("shared.mkv")));
        // Damaged times give no frame rate to hold the decoder to.
        Fixture untimed = smallClip;
        untimed.fps = -1;
        QVERIFY(addDecodedFixture(QStringLiteral("times-shared-mkv"), at(untimed, path("shared.mkv"))));
        QVERIFY(ffmpegMakes(copy + args({"-bsf:v", "setts=ts=0"}) << path("zero.mkv")));
        QVERIFY(addDecodedFixture(QStringLiteral("times-zero-mkv"), at(untimed, path("zero.mkv"))));
    }
    {
        QVERIFY(ffmpegMakes(fromSmall + h264 << path("timed.flv")));
        QVERIFY(VideoFixture::writeFile(path("setback.flv"),
                                        VideoFixture::withTimesSetBack(VideoFixture::readAll(path("timed.flv")), 20, 600)));
        Fixture setBack = at(smallClip, path("setback.flv"));
        setBack.fps = -1;
        QVERIFY(addDecodedFixture(QStringLiteral("times-set-back-flv"), setBack));
    }
    {
        const QByteArray part = VideoFixture::readAll(path("transport.mp4"));
        QVERIFY(VideoFixture::writeFile(path("joined.ts"), part + part));
        QVERIFY(addDecodedFixture(QStringLiteral("ts-joined-restarting-times"), at(smallClip, path("joined.ts"))));
    }
    {
        QVERIFY(ffmpegMakes(QStringList{QStringLiteral("-i"),
                                        QDir(root.filePath(QStringLiteral("small"))).filePath(QStringLiteral("f00007.png"))} +
                            fromSmall + args({"-map", "0:v", "-map", "1:v", "-c:v:0", "mjpeg", "-c:v:1", "libx264",
                                              "-bf:v:1", "2", "-g:v:1", "12", "-pix_fmt:v:1", "yuv420p"})
                            << path("still-first.mkv")));
        Fixture still = at(smallClip, path("still-first.mkv"));
        still.stream = QStringLiteral("0:v:1");
        QVERIFY(addDecodedFixture(QStringLiteral("still-first-track-mkv"), still));
    }
    {
        QVERIFY(ffmpegMakes(fromSmall + h264 << path("upright.mp4")));
        const QByteArray upright = VideoFixture::readAll(path("upright.mp4"));
        QVERIFY(VideoFixture::writeFile(path("mirrored.mp4"), VideoFixture::withDisplayMatrix(upright, -1, 0, 0, 1, 192, 108)));
        Fixture mirrored = at(smallClip, path("mirrored.mp4"));
        mirrored.orientation = QTransform(-1, 0, 0, 1, 0, 0);
        QVERIFY(addDecodedFixture(QStringLiteral("mirrored-mp4"), mirrored));
        // Transposed: a quarter turn and a mirror, so shown 108 x 192.
        QVERIFY(VideoFixture::writeFile(path("transposed.mp4"), VideoFixture::withDisplayMatrix(upright, 0, 1, 1, 0, 192, 108)));
        Fixture transposed{path("transposed.mp4"), 0, 108, 192, 25.0, {}, QTransform(0, 1, 1, 0, 0, 0), {}};
        QVERIFY(addDecodedFixture(QStringLiteral("turned-and-mirrored-mp4"), transposed));
    }
    {
        QVERIFY(ffmpegMakes(fromLong + args({"-frames:v", "30", "-c:v", "libx264", "-pix_fmt", "yuv420p10le", "-bf",
                                             "2", "-g", "10"})
                            << path("deep.mp4")));
        Fixture deep{path("deep.mp4"), 0, 240, 136, 25.0, {}, {}, {}};
        deep.deepColour = true;
        deep.sources = root.filePath(QStringLiteral("long"));
        QVERIFY(addDecodedFixture(QStringLiteral("ten-bit-mp4"), deep));
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

int TestVideoDecoder::requestAndWait(Probe &probe, int frame, bool settle)
{
    // An answer that came after the one the request before waited for.
    if (probe.frames.size() > 1)
        return -3;
    probe.frames.clear();
    probe.decoder.seekToFrame(frame);
    if (!probe.frames.wait(QmTest::patienceMs))
        return -1;
    // Nothing more may follow for the same request.
    if (settle)
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
        // That nothing follows an answer is watched after the clamped
        // requests; a late answer to any other shows in the next request.
        const int got = requestAndWait(probe, asked, asked != expected);
        QVERIFY2(got == want, qPrintable(QStringLiteral("asked %1, got index %2").arg(asked).arg(got)));
        const QImage image = probe.frameImage(0);
        QCOMPARE(image.size(), QSize(f.width, f.height));
        QCOMPARE(f.shownCode(image), f.codeOf(want));
        QCOMPARE(probe.decoder.currentFrame(), want);
        QVERIFY(!probe.decoder.isAwaitingFrame());
    }
    QCOMPARE(probe.failed.size(), 0);
}

void TestVideoDecoder::picturesMatchSequentialDecode_data()
{
    addFixtureRows();
}

// The count, and the pixels of the first and last picture, of random ones,
// of steps back from the end and of seeks around key pictures, against what
// FFmpeg's own sequential decoding of the file gives out: the same picture
// (8-bit colour to the bit, deeper colour as close to the source pictures as
// FFmpeg's own conversion), shown as the display matrix says.
void TestVideoDecoder::picturesMatchSequentialDecode()
{
    QFETCH(QString, fixture);
    const Fixture f = fixtures.value(fixture);
    Probe probe;
    QVERIFY(openAndWait(probe, f.path));
    const int last = probe.decoder.frameCount() - 1;
    QList<int> requests{0, last};
    QRandomGenerator random(uint(qHash(fixture)));
    for (int i = 0; i < 3; ++i)
        requests << int(random.bounded(last + 1));
    for (int back = 1; back <= 3; ++back)
        requests << last - back;
    for (const int key : f.keys)
        requests << key - 1 << key << key + 1 << key - 2;
    requests.erase(std::remove_if(requests.begin(), requests.end(), [last](int r) { return r < 0 || r > last; }),
                   requests.end());

    const VideoFixture::SequentialDecode truth = VideoFixture::sequentialDecode(f.path, f.stream, f.storedSize(), requests);
    QVERIFY(truth.ok);
    QCOMPARE(probe.decoder.frameCount(), int(truth.codes.size()));
    for (const int frame : std::as_const(requests)) {
        // Whatever came late for the request before would show here.
        QCOMPARE(requestAndWait(probe, frame, false), frame);
        const QImage image = probe.frameImage(0);
        const QString where = QStringLiteral("picture %1").arg(frame);
        QVERIFY2(f.shownCode(image) == truth.codes.at(frame), qPrintable(where));
        const QImage expected = f.upright(truth.pictures.value(frame));
        QCOMPARE(image.size(), expected.size());
        if (!f.deepColour) {
            QVERIFY2(image.convertToFormat(QImage::Format_RGB32) == expected.convertToFormat(QImage::Format_RGB32),
                     qPrintable(where + QStringLiteral(": %1 dB").arg(VideoFixture::psnr(image, expected))));
            continue;
        }
        const QImage source(QDir(f.sources).filePath(QStringLiteral("f%1.png").arg(truth.codes.at(frame), 5, 10, QLatin1Char('0'))));
        const double ours = VideoFixture::psnr(image, source);
        const double theirs = VideoFixture::psnr(expected, source);
        QVERIFY2(ours >= theirs - 0.5, qPrintable(where + QStringLiteral(": %1 dB, FFmpeg %2 dB").arg(ours).arg(theirs)));
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
    // -1: to the last picture.
    QTest::newRow("packed Xvid whole clip") << QStringLiteral("xvid-avi-packed-nvops") << 0 << -1;
    QTest::newRow("H.264 in AVI whole clip") << QStringLiteral("h264-avi-bframes") << 0 << 39;
    QTest::newRow("MPEG-2 program stream whole clip") << QStringLiteral("mpeg2-ps-open-gops") << 0 << 39;
    QTest::newRow("joined transport streams across the join") << QStringLiteral("ts-joined-restarting-times") << 30 << 50;
    QTest::newRow("times set back, across the step") << QStringLiteral("times-set-back-flv") << 10 << 39;
    QTest::newRow("broken-off file to its end") << QStringLiteral("faststart-mp4-broken-off") << 150 << -1;
}

void TestVideoDecoder::steppingForward()
{
    QFETCH(QString, fixture);
    QFETCH(int, from);
    QFETCH(int, to);
    Probe probe;
    const Fixture f = fixtures.value(fixture);
    QVERIFY(openAndWait(probe, f.path));
    if (to < 0)
        to = probe.decoder.frameCount() - 1;
    QCOMPARE(requestAndWait(probe, from, false), from);
    for (int frame = from + 1; frame <= to; ++frame) {
        QCOMPARE(requestAndWait(probe, frame, false), frame);
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
    for (const QString &name : {QStringLiteral("h264-mp4"), QStringLiteral("h265-open-gop"),
                                QStringLiteral("xvid-avi-bframes"), QStringLiteral("mpeg2-ps-open-gops"),
                                QStringLiteral("times-zero-mkv")}) {
        const Fixture f = fixtures.value(name);
        Probe probe;
        QVERIFY(openAndWait(probe, f.path));
        const int from = f.keys.at(1) + 10;
        for (int frame = from; frame >= f.keys.at(0) - 5; --frame) {
            QCOMPARE(requestAndWait(probe, frame, false), frame);
            QVERIFY2(f.shownCode(probe.frameImage(0)) == f.codeOf(frame), qPrintable(name + QString::number(frame)));
        }
        QTest::qWait(40);
        QCOMPARE(probe.frames.size(), 1);
    }
}

void TestVideoDecoder::steppingToTheEndDecodesEachPacketOnce_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("H.264 in MP4, groups of 60") << QStringLiteral("h264-mp4");
    QTest::newRow("Xvid in AVI") << QStringLiteral("xvid-avi-bframes");
    QTest::newRow("H.264 in a transport stream") << QStringLiteral("h264-ts-named-mp4");
}

// What the codec still holds when the file ends is kept like any other
// picture: stepping through the last pictures decodes the packets from the
// start of the last group once, not the group again at every step.
void TestVideoDecoder::steppingToTheEndDecodesEachPacketOnce()
{
    QFETCH(QString, fixture);
    const Fixture f = fixtures.value(fixture);
    VideoSource source;
    QVERIFY(source.open(f.path));
    const int last = source.frameCount() - 1;
    // From the last key picture that leaves a few steps to take.
    int from = 0;
    for (const int key : f.keys)
        from = key <= last - 6 ? key : from;
    QCOMPARE(f.shownCode(source.picture(from)), f.codeOf(from));
    const qint64 before = source.decodedPackets();
    for (int frame = from + 1; frame <= last; ++frame)
        QVERIFY2(f.shownCode(source.picture(frame)) == f.codeOf(frame), qPrintable(QString::number(frame)));
    // Every packet after the key packet at most once more (plus the few the
    // codec held before the first picture came out).
    const qint64 decoded = source.decodedPackets() - before;
    QVERIFY2(decoded <= last - from + 8, qPrintable(QStringLiteral("%1 packets for %2 steps").arg(decoded).arg(last - from)));
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

namespace {
// Holds the decoder's worker before a frame as a read of a network share
// that went away would, until the test lets it go.
QSemaphore decodeHeld;
QSemaphore decodeLetGo;
void holdDecode()
{
    decodeHeld.release();
    decodeLetGo.tryAcquire(1, 30000);
}
} // namespace

// A decode stuck in a read holds neither the window's thread nor the end of
// the decoder: opening another file and taking the decoder away return at
// once, and the stuck decode, when it comes back, answers nobody.
void TestVideoDecoder::readThatDoesNotAnswerHoldsNobody()
{
    const Fixture f = fixtures.value(QStringLiteral("h264-mp4"));
    auto probe = std::make_unique<Probe>();
    QVERIFY(openAndWait(*probe, f.path));
    VideoDecodeWorker::setBeforeDecodeHook(&holdDecode);
    probe->frames.clear();
    probe->decoder.seekToFrame(40);
    QTRY_VERIFY_WITH_TIMEOUT(decodeHeld.available() > 0, QmTest::patienceMs);

    QElapsedTimer clock;
    clock.start();
    probe->decoder.open(f.path);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    clock.restart();
    probe.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(LeftBehindThreads::any());

    VideoDecodeWorker::setBeforeDecodeHook(nullptr);
    decodeLetGo.release();
    QTest::qWait(300); // the stuck decode ends and would answer here
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
