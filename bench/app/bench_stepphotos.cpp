// Stepping through large photos at key-repeat speed, as a user holding D does:
// forty 6000 x 4000 JPEG files, one D press every 33 ms. Each run is a fresh
// process (no warm caches of a previous run in it); it reports the threads
// the process ran at most beside the ones it had before the first press, its
// peak resident memory, and the time from the last press until the last
// photo is on the canvas (what the user waits for).
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_stepphotos
// The photos are written once into the temporary folder and kept.

#include "FreshProcess.h"
#include "MainWindowTestAccess.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace Quillmark;

namespace {

constexpr int photoCount = 40;
constexpr int photoWidth = 6000;
constexpr int photoHeight = 4000;
constexpr int keyRepeatMs = 33;

QString photoFolder()
{
    return QDir::temp().filePath(QStringLiteral("quillmark_bench_photos_%1x%2").arg(photoWidth).arg(photoHeight));
}

QString photoPath(int i)
{
    return QDir(photoFolder()).filePath(QStringLiteral("photo_%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
}

// Photos with texture, so that they compress as camera pictures do (several
// MB each), each one a little different.
bool ensurePhotos()
{
    QDir().mkpath(photoFolder());
    for (int i = 0; i < photoCount; ++i) {
        if (QFileInfo(photoPath(i)).size() > 0)
            continue;
        QImage image(photoWidth, photoHeight, QImage::Format_RGB32);
        for (int y = 0; y < photoHeight; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < photoWidth; ++x)
                line[x] = qRgb((x / 7 + y / 13 + i * 9) & 255, ((x * y) >> 9) & 255, ((x ^ (y + i)) >> 2) & 255);
        }
        if (!image.save(photoPath(i), "JPEG", 90))
            return false;
    }
    return true;
}

int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    }
    return 0;
}

// One run in this process: prints "threadsBefore", "threadsPeak", "peakMiB",
// "residentBeforeMiB" and "seconds" lines.
int runChild(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    MainWindow window;
    MainWindowTestAccess access(window);
    for (int i = 0; i < photoCount; ++i) {
        ImageEntry entry;
        entry.filePath = photoPath(i);
        entry.width = photoWidth;
        entry.height = photoHeight;
        access.project().dataset.addImage(entry);
    }
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("car"), QColor());
    access.projectPath() = QDir(photoFolder()).filePath(QStringLiteral("photos.qmk"));
    access.refreshUi();
    window.resize(1440, 860);
    window.show();
    LabelCanvas *canvas = window.labelCanvas();
    if (!QTest::qWaitForWindowActive(&window) ||
        !QmBench::waitUntil([canvas] { return canvas->displayedEntryId() == 0; }, 60000))
        return 1;
    canvas->setFocus();
    // Whatever else was started settles first (the first decode's thread ends).
    QmBench::waitUntil([] { return false; }, 500);

    // The sampler itself is one more thread; it is not counted.
    const int threadsBefore = threadCount();
    const double residentBefore = QmBench::residentMemoryMiB();
    std::atomic<bool> sampling{true};
    std::atomic<int> threadsPeak{threadsBefore};
    std::thread sampler([&] {
        while (sampling) {
            const int now = threadCount() - 1;
            if (now > threadsPeak)
                threadsPeak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    const int lastId = photoCount - 1;
    for (int press = 1; press <= lastId; ++press) {
        QTest::keyClick(canvas, Qt::Key_D);
        QmBench::waitUntil([] { return false; }, keyRepeatMs);
    }
    QElapsedTimer sinceLastPress;
    sinceLastPress.start();
    const bool shown = QmBench::waitUntil([canvas, lastId] { return canvas->displayedEntryId() == lastId; }, 120000);
    const double seconds = sinceLastPress.nsecsElapsed() / 1e9;
    // Decodes still under way end too: their memory counts.
    QmBench::waitUntil([threadsBefore] { return threadCount() - 1 <= threadsBefore; }, 60000);
    sampling = false;
    sampler.join();
    if (!shown)
        return 2;
    std::printf("threadsBefore %d\nthreadsPeak %d\nresidentBeforeMiB %.1f\npeakMiB %.1f\nseconds %.3f\n",
                threadsBefore, threadsPeak.load(), residentBefore, QmBench::peakMemoryMiB(), seconds);
    return 0;
}

QString program;

void BM_StepThroughLargePhotos(benchmark::State &state)
{
    if (!ensurePhotos()) {
        state.SkipWithError("could not write the photos");
        return;
    }
    QList<double> extraThreads;
    QList<double> peaks;
    QList<double> waits;
    for (auto _ : state) {
        const QMap<QByteArray, double> run = QmBench::runFresh(program, {QStringLiteral("--child")});
        if (run.isEmpty()) {
            state.SkipWithError("the run failed");
            return;
        }
        extraThreads.append(run.value("threadsPeak") - run.value("threadsBefore"));
        peaks.append(run.value("peakMiB"));
        waits.append(run.value("seconds"));
        state.SetIterationTime(run.value("seconds"));
    }
    state.counters["extraThreadsMedian"] = QmBench::median(extraThreads);
    state.counters["extraThreadsMax"] = *std::max_element(extraThreads.cbegin(), extraThreads.cend());
    state.counters["peakMiBMedian"] = QmBench::median(peaks);
    state.counters["peakMiBMax"] = *std::max_element(peaks.cbegin(), peaks.cend());
    state.counters["lastShownSecondsMedian"] = QmBench::median(waits);
}
BENCHMARK(BM_StepThroughLargePhotos)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--child") == 0)
            return runChild(argc, argv);
    }
    QCoreApplication app(argc, argv);
    program = QCoreApplication::applicationFilePath();
    QmBench::runRegisteredBenchmarks(argc, argv);
    return 0;
}
