// Frame access in 1080p files with groups of 250 pictures (25 fps, 500
// frames), made with ffmpeg when first needed, in three kinds: H.264 with
// B-frames in MP4, MPEG-4 Part 2 with B-frames in AVI as Xvid writes it (its
// packets carry decode times only), and H.264 with B-frames in an MPEG
// transport stream (whose demuxer seeks by its own times). Each figure below
// runs for each kind (the argument: 0 MP4, 1 AVI, 2 TS) unless it says:
// - warm seeks: random positions on one open decoder, as the window asks for
//   them, each beside `ffmpeg -ss T -i f -frames:v 1` run for the same position
//   (which also converts the picture to 32-bit RGB);
// - cold seeks (MP4): a new decoder per position (open, first frame, then the
//   frame), which like the ffmpeg command line starts from nothing, beside it;
// - stepping: frame after frame, as the next-frame key and the slideshow ask,
//   and 30 frames backwards inside a group of pictures, as the previous-frame key;
// - extraction: 300 annotated frames to JPEG files for an export, from the
//   start of the extraction to the last file written, beside
//   `ffmpeg -i f -frames:v 300 -q:v 2 %06d.jpg` (best JPEG quality, as ours at
//   95), taking turns, the best of three runs of each;
// - memory (MP4): resident size while stepping through 5,000 frames of a 1080p file.
// The decoder and ffmpeg take turns position by position, so both meet the
// same load of the machine.
// Every delivered picture is checked against the index its pixels carry.
// QM_BENCH_VIDEO_SEEKS (default 200) and QM_BENCH_VIDEO_STEPS (default 5000)
// set the counts; QM_BENCH_VIDEO_COLD (default 50) the number of cold positions.

#include "PeakMemory.h"

#include "formats/AnnotatedFrameExtractor.h"
#include "model/VideoEntry.h"
#include "video/VideoDecoder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace Quillmark;

namespace {

constexpr int width = 1920;
constexpr int height = 1080;
constexpr int codeCells = 12;
constexpr int gop = 250;

int envCount(const char *name, int fallback)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : fallback;
}

// The index a frame carries: twelve cells across the top quarter, white for a
// set bit (lowest on the left).
int frameCode(const QImage &image)
{
    if (image.isNull())
        return -1;
    const int cell = image.width() / codeCells;
    int code = 0;
    for (int bit = 0; bit < codeCells; ++bit) {
        if (qGray(image.pixel(bit * cell + cell / 2, image.height() / 8)) > 128)
            code |= 1 << bit;
    }
    return code;
}

enum class Kind { Mp4, AviBFrames, TransportStream };

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::AviBFrames: return "avi-bframes";
    case Kind::TransportStream: return "ts";
    case Kind::Mp4: break;
    }
    return "mp4";
}

// A 1080p file of `frames` frames at `fps` of the given kind, each frame's
// index drawn as cells over a moving test picture.
QString makeVideo(const QDir &dir, Kind kind, const QString &baseName, int frames, int fps)
{
    QString filter = QStringLiteral("testsrc2=s=%1x%2:r=%3:d=%4,drawbox=x=0:y=0:w=%1:h=%5:color=black:t=fill")
                         .arg(width)
                         .arg(height)
                         .arg(fps)
                         .arg(double(frames) / fps, 0, 'f', 3)
                         .arg(height / 4);
    const int cell = width / codeCells;
    for (int bit = 0; bit < codeCells; ++bit) {
        filter += QStringLiteral(",drawbox=x=%1:y=0:w=%2:h=%3:color=white:t=fill:enable='eq(mod(floor(n/%4),2),1)'")
                      .arg(bit * cell)
                      .arg(cell)
                      .arg(height / 4)
                      .arg(1 << bit);
    }
    QStringList codec;
    QString suffix;
    switch (kind) {
    case Kind::AviBFrames:
        codec = {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-vtag"), QStringLiteral("xvid"),
                 QStringLiteral("-bf"), QStringLiteral("2"), QStringLiteral("-q:v"), QStringLiteral("4")};
        suffix = QStringLiteral(".avi");
        break;
    case Kind::TransportStream:
    case Kind::Mp4:
        codec = {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
                 QStringLiteral("-keyint_min"), QString::number(gop), QStringLiteral("-sc_threshold"), QStringLiteral("0"),
                 QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")};
        suffix = kind == Kind::Mp4 ? QStringLiteral(".mp4") : QStringLiteral(".ts");
        break;
    }
    const QString path = dir.filePath(baseName + suffix);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                                       QStringLiteral("error"), QStringLiteral("-y"),
                                                       QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                       QStringLiteral("-i"), filter, QStringLiteral("-g"),
                                                       QString::number(gop)} +
                                               codec + QStringList{path});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0)
        return {};
    return path;
}

struct Videos {
    QTemporaryDir dir;
    // 500 frames at 25 fps, per kind.
    QHash<int, QString> seeks;
    QString steps; // QM_BENCH_VIDEO_STEPS frames at 50 fps
};

std::unique_ptr<Videos> &videosSlot()
{
    static std::unique_ptr<Videos> videos;
    return videos;
}

Videos &videoStore()
{
    std::unique_ptr<Videos> &slot = videosSlot();
    if (!slot)
        slot = std::make_unique<Videos>();
    return *slot;
}

// The 500-frame video of a kind, made the first time a benchmark needs it.
QString seekVideo(Kind kind = Kind::Mp4)
{
    Videos &store = videoStore();
    QString &path = store.seeks[int(kind)];
    if (path.isEmpty())
        path = makeVideo(QDir(store.dir.path()), kind, QStringLiteral("seeks"), 500, 25);
    return path;
}

QString stepVideo()
{
    Videos &store = videoStore();
    if (store.steps.isEmpty())
        store.steps = makeVideo(QDir(store.dir.path()), Kind::Mp4, QStringLiteral("steps"),
                                envCount("QM_BENCH_VIDEO_STEPS", 5000), 50);
    return store.steps;
}

Kind kindOf(const benchmark::State &state)
{
    return Kind(state.range(0));
}

// Runs the event loop until the decoder answers `act` (a frame or a failure),
// or `timeoutMs` passes. The delivered index, -1 for none.
int awaitFrame(VideoDecoder &decoder, const std::function<void()> &act, QImage *image, int timeoutMs = 10000)
{
    QEventLoop loop;
    int index = -1;
    const auto ready =
        QObject::connect(&decoder, &VideoDecoder::frameReady, &loop, [&](int frame, const QImage &picture) {
            index = frame;
            *image = picture;
            loop.quit();
        });
    const auto failed = QObject::connect(&decoder, &VideoDecoder::frameFailed, &loop, [&loop] { loop.quit(); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    act();
    loop.exec();
    QObject::disconnect(ready);
    QObject::disconnect(failed);
    return index;
}

bool openDecoder(VideoDecoder &decoder, const QString &path, QImage *first)
{
    // Frame 0 follows the answer by itself, at once: both are awaited together.
    bool ok = false;
    bool answered = false;
    int frame = -1;
    QEventLoop loop;
    const auto opened = QObject::connect(&decoder, &VideoDecoder::opened, &loop, [&](bool success) {
        ok = success;
        answered = true;
        if (!ok)
            loop.quit();
    });
    const auto ready = QObject::connect(&decoder, &VideoDecoder::frameReady, &loop, [&](int index, const QImage &picture) {
        frame = index;
        *first = picture;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    decoder.open(path);
    loop.exec();
    QObject::disconnect(opened);
    QObject::disconnect(ready);
    return answered && ok && frame == 0;
}

QList<int> randomPositions(int count, int frames)
{
    QRandomGenerator random(2024);
    QList<int> positions;
    for (int i = 0; i < count; ++i)
        positions.append(int(random.bounded(frames)));
    return positions;
}

// Fetches a frame: the picture and the index it was delivered with (-1 for none).
using FrameFetch = std::function<int(int target, QImage *picture)>;

struct Contender {
    Contender(std::string name, FrameFetch fetch) : name(std::move(name)), fetch(std::move(fetch)) {}

    std::string name;
    FrameFetch fetch;
    std::vector<double> ms;
    int wrong = 0;
};

// Fetches the frame of each target with every contender in turn, so that all
// of them meet the same load of the machine, timing every fetch and checking
// the picture against the target.
void measureFetches(benchmark::State &state, const QList<int> &targets, std::vector<Contender> contenders)
{
    for (auto _ : state) {
        QElapsedTimer all;
        all.start();
        for (int target : targets) {
            for (Contender &contender : contenders) {
                QElapsedTimer clock;
                clock.start();
                QImage picture;
                const int got = contender.fetch(target, &picture);
                contender.ms.push_back(double(clock.nsecsElapsed()) / 1e6);
                if (got != target || frameCode(picture) != target)
                    ++contender.wrong;
            }
        }
        state.SetIterationTime(double(all.nsecsElapsed()) / 1e9);
    }
    state.counters["frames"] = double(targets.size());
    for (Contender &contender : contenders) {
        std::sort(contender.ms.begin(), contender.ms.end());
        const bool none = contender.ms.empty();
        state.counters[contender.name + "_median_ms"] = none ? 0.0 : contender.ms.at(contender.ms.size() / 2);
        state.counters[contender.name + "_worst_ms"] = none ? 0.0 : contender.ms.back();
        state.counters[contender.name + "_wrong"] = contender.wrong;
    }
}

// Asks an open decoder for the target.
FrameFetch warmFetch(VideoDecoder &decoder)
{
    return [&decoder](int target, QImage *picture) {
        return awaitFrame(
            decoder, [&] { decoder.seekToFrame(target); }, picture);
    };
}

// A new decoder for the target: open, frame 0, then the frame.
FrameFetch coldFetch(const QString &path)
{
    return [path](int target, QImage *picture) {
        VideoDecoder decoder;
        if (!openDecoder(decoder, path, picture))
            return -1;
        return target == 0 ? 0
                           : awaitFrame(
                                 decoder, [&] { decoder.seekToFrame(target); }, picture);
    };
}

// ffmpeg started for the target, seeking with -ss before -i (to the key frame,
// then decoding on to the exact frame) and writing the picture as BGRA.
FrameFetch ffmpegFetch(const QString &path)
{
    return [path](int target, QImage *picture) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                      QStringLiteral("-ss"), QString::number(target / 25.0, 'f', 6), QStringLiteral("-i"), path,
                      QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                      QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("bgra"),
                      QStringLiteral("-")});
        ffmpeg.waitForFinished(-1);
        const QByteArray pixels = ffmpeg.readAllStandardOutput();
        if (pixels.size() != qsizetype(width) * height * 4)
            return -1;
        *picture =
            QImage(reinterpret_cast<const uchar *>(pixels.constData()), width, height, QImage::Format_ARGB32).copy();
        return target;
    };
}

// Random positions on one open decoder, as the window asks for them, beside the
// ffmpeg command line for each.
void BM_WarmSeekBesideFfmpeg(benchmark::State &state)
{
    state.SetLabel(kindName(kindOf(state)));
    const QString path = seekVideo(kindOf(state));
    VideoDecoder decoder;
    QImage image;
    if (path.isEmpty() || !openDecoder(decoder, path, &image)) {
        state.SkipWithError("could not make or open the video");
        return;
    }
    std::vector<Contender> contenders;
    contenders.emplace_back("decoder", warmFetch(decoder));
    contenders.emplace_back("ffmpeg", ffmpegFetch(path));
    measureFetches(state, randomPositions(envCount("QM_BENCH_VIDEO_SEEKS", 200), decoder.frameCount()),
                   std::move(contenders));
}

// Both start from nothing for every position.
void BM_ColdSeekBesideFfmpeg(benchmark::State &state)
{
    const QString path = seekVideo();
    if (path.isEmpty()) {
        state.SkipWithError("could not make the video");
        return;
    }
    std::vector<Contender> contenders;
    contenders.emplace_back("decoder", coldFetch(path));
    contenders.emplace_back("ffmpeg", ffmpegFetch(path));
    measureFetches(state, randomPositions(envCount("QM_BENCH_VIDEO_COLD", 50), 500), std::move(contenders));
}

void BM_StepForward(benchmark::State &state)
{
    // From the middle of the second group of pictures to the end of the file:
    // a seek to each frame would decode up to 125 frames.
    state.SetLabel(kindName(kindOf(state)));
    const QString path = seekVideo(kindOf(state));
    VideoDecoder decoder;
    QImage image;
    if (path.isEmpty() || !openDecoder(decoder, path, &image) ||
        awaitFrame(
            decoder, [&] { decoder.seekToFrame(375); }, &image) != 375) {
        state.SkipWithError("could not make or open the video");
        return;
    }
    QList<int> targets;
    for (int target = 376; target < 500; ++target)
        targets.append(target);
    std::vector<Contender> contenders;
    contenders.emplace_back("decoder", warmFetch(decoder));
    measureFetches(state, targets, std::move(contenders));
}

void BM_StepBackwardInGroup(benchmark::State &state)
{
    // From frame 430 of the second group (250 .. 499) back to 400.
    state.SetLabel(kindName(kindOf(state)));
    const QString path = seekVideo(kindOf(state));
    VideoDecoder decoder;
    QImage image;
    if (path.isEmpty() || !openDecoder(decoder, path, &image) ||
        awaitFrame(
            decoder, [&] { decoder.seekToFrame(430); }, &image) != 430) {
        state.SkipWithError("could not make or open the video");
        return;
    }
    QList<int> targets;
    for (int target = 429; target >= 400; --target)
        targets.append(target);
    std::vector<Contender> contenders;
    contenders.emplace_back("decoder", warmFetch(decoder));
    measureFetches(state, targets, std::move(contenders));
}

// Milliseconds for the extractor to write frames 0 .. count - 1 into `folder`,
// -1 when not all of them were written with the right pictures.
double extractWithDecoder(const QString &path, int count, const QString &folder)
{
    VideoEntry video;
    video.id = 1;
    video.filePath = path;
    video.frameCount = 500;
    for (int frame = 0; frame < count; ++frame)
        video.frameLabels.insert(frame, {Annotation()});
    QDir().mkpath(folder);
    QElapsedTimer clock;
    clock.start();
    AnnotatedFrameExtractor extractor({video}, folder);
    QEventLoop loop;
    QObject::connect(&extractor, &AnnotatedFrameExtractor::finished, &loop, &QEventLoop::quit);
    extractor.start();
    loop.exec();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (extractor.frames().size() != count)
        return -1;
    for (int frame : {0, count / 2, count - 1}) {
        const QImage picture(QDir(folder).filePath(AnnotatedFrameExtractor::frameFileName(QStringLiteral("seeks"), frame)));
        if (frameCode(picture) != frame)
            return -1;
    }
    return ms;
}

double extractWithFfmpeg(const QString &path, int count, const QString &folder)
{
    QDir().mkpath(folder);
    QElapsedTimer clock;
    clock.start();
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-y"), QStringLiteral("-i"), path, QStringLiteral("-frames:v"), QString::number(count),
                  QStringLiteral("-q:v"), QStringLiteral("2"), QDir(folder).filePath(QStringLiteral("%06d.jpg"))});
    ffmpeg.waitForFinished(-1);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    return ffmpeg.exitCode() == 0 && QDir(folder).entryList(QDir::Files).size() == count ? ms : -1;
}

void BM_ExtractBesideFfmpeg(benchmark::State &state)
{
    state.SetLabel(kindName(kindOf(state)));
    const QString path = seekVideo(kindOf(state));
    if (path.isEmpty()) {
        state.SkipWithError("could not make the video");
        return;
    }
    constexpr int count = 300;
    double ours = 1e18;
    double theirs = 1e18;
    for (auto _ : state) {
        for (int run = 0; run < 3; ++run) {
            QTemporaryDir out;
            const double a = extractWithDecoder(path, count, out.filePath(QStringLiteral("ours")));
            const double b = extractWithFfmpeg(path, count, out.filePath(QStringLiteral("ffmpeg")));
            if (a < 0 || b < 0) {
                state.SkipWithError("an extraction missed frames");
                return;
            }
            ours = std::min(ours, a);
            theirs = std::min(theirs, b);
        }
        state.SetIterationTime(ours / 1e3);
    }
    state.counters["decoder_ms"] = ours;
    state.counters["ffmpeg_ms"] = theirs;
    state.counters["ratio"] = ours / theirs;
}

void BM_StepMemory(benchmark::State &state)
{
    const QString path = stepVideo();
    VideoDecoder decoder;
    QImage image;
    if (path.isEmpty() || !openDecoder(decoder, path, &image)) {
        state.SkipWithError("could not make or open the video");
        return;
    }
    const int frames = decoder.frameCount();
    double warmRss = 0;
    double peakRss = 0;
    double endRss = 0;
    int wrong = 0;
    int failed = 0;
    for (auto _ : state) {
        QElapsedTimer all;
        all.start();
        for (int target = 1; target < frames; ++target) {
            const int got = awaitFrame(
                decoder, [&] { decoder.seekToFrame(target); }, &image);
            if (got < 0)
                ++failed;
            else if (got != target || frameCode(image) != (target & ((1 << codeCells) - 1)))
                ++wrong;
            // Resident size once the player's buffers are warm, then as it goes.
            if (target % 250 == 0) {
                const double rss = QmBench::residentMemoryMiB();
                if (warmRss == 0)
                    warmRss = rss;
                peakRss = std::max(peakRss, rss);
            }
        }
        endRss = QmBench::residentMemoryMiB();
        state.SetIterationTime(double(all.nsecsElapsed()) / 1e9);
    }
    state.counters["frames"] = frames;
    state.counters["rss_at_250_MiB"] = warmRss;
    state.counters["rss_peak_MiB"] = peakRss;
    state.counters["rss_end_MiB"] = endRss;
    state.counters["growth_MiB"] = endRss - warmRss;
    state.counters["wrong_frames"] = wrong;
    state.counters["failed_frames"] = failed;
}

} // namespace

BENCHMARK(BM_WarmSeekBesideFfmpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_ColdSeekBesideFfmpeg)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_StepForward)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_StepBackwardInGroup)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_ExtractBesideFfmpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_StepMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    videosSlot().reset(); // removes the generated videos
    return 0;
}
