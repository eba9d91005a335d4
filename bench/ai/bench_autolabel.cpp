// "Run on All Images" of the auto-label tool over 1,000 photos of 1920 x 1080
// (JPEG files) with the tiny generated detector, through the real window, beside
// the engine alone on the same files in a plain loop on the calling thread.
//
// Reported per run: images per second, and how late a 16 ms timer of the GUI
// thread fires meanwhile (the window's responsiveness). The engine-alone loop
// blocks its thread for a whole image at a time, as a run on the GUI thread
// would: its lateness is the longest single image.
//
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_autolabel

#include "MainWindowTestAccess.h"
#include "WindowBench.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/OnnxInferencer.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <limits>
#include <vector>

using namespace Quillmark;

namespace {

constexpr int imageCount = 1000;
constexpr int tickMs = 16;
constexpr int modelLoadPatienceMs = 60000;

QString modelPath()
{
    return QStringLiteral(QM_BENCH_MODELS_DIR "/det_names.onnx");
}

// 1,000 distinct 1920 x 1080 JPEG photos (gradients and shapes), written once.
const QStringList &photoFiles()
{
    static QTemporaryDir dir;
    static const QStringList files = [] {
        QStringList paths;
        QImage base(1920, 1080, QImage::Format_RGB32);
        for (int y = 0; y < base.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(base.scanLine(y));
            for (int x = 0; x < base.width(); ++x)
                line[x] = qRgb((x / 8 + y / 16) & 255, (y * 255) / 1080, ((x ^ y) >> 2) & 255);
        }
        for (int i = 0; i < imageCount; ++i) {
            QImage photo = base.copy();
            QPainter painter(&photo);
            painter.fillRect(QRect((i * 37) % 1700, (i * 53) % 900, 200, 150), QColor::fromHsv((i * 29) % 360, 200, 220));
            painter.end();
            const QString path = dir.filePath(QStringLiteral("photo_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
            photo.save(path, "JPEG", 90);
            paths.append(path);
        }
        return paths;
    }();
    return files;
}

// Records how late each tick of a 16 ms GUI timer comes.
class TickLateness {
public:
    TickLateness()
    {
        timer.setInterval(tickMs);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            lateness.push_back(std::max<qint64>(0, clock.restart() - tickMs));
        });
        clock.start();
        timer.start();
    }
    void stop() { timer.stop(); }
    double maxMs() const { return lateness.empty() ? 0.0 : double(*std::max_element(lateness.begin(), lateness.end())); }
    double percentileMs(double p) const
    {
        if (lateness.empty())
            return 0.0;
        std::vector<qint64> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        return double(sorted[size_t(p * double(sorted.size() - 1))]);
    }
    size_t ticks() const { return lateness.size(); }

private:
    QTimer timer;
    QElapsedTimer clock;
    std::vector<qint64> lateness;
};

void BM_RunAllThroughWindow(benchmark::State &state)
{
    const QStringList &files = photoFiles();
    for (auto _ : state) {
        state.PauseTiming();
        MainWindow window;
        MainWindowTestAccess access(window);
        access.project().projectType = QStringLiteral("object_detection");
        for (const QString &file : files) {
            ImageEntry entry;
            entry.filePath = file;
            entry.width = 1920;
            entry.height = 1080;
            access.project().dataset.addImage(entry);
        }
        access.refreshUi();
        window.show();
        // The window loads the model on a worker, as it does for the user,
        // and takes the run only once the load has ended.
        emit window.autoLabelDialog()->modelSelected(modelPath());
        QmBench::waitUntil([&] { return !window.isModelLoading(); }, modelLoadPatienceMs);
        if (!window.detectionEngine().isLoaded()) {
            state.SkipWithError("model did not load");
            return;
        }
        QCoreApplication::processEvents();
        state.ResumeTiming();

        QElapsedTimer clock;
        clock.start();
        TickLateness ticks;
        window.onAiRunAll();
        QmBench::waitUntil([&] { return !window.isAiBatchRunning(); }, std::numeric_limits<int>::max());
        ticks.stop();
        const double seconds = double(clock.elapsed()) / 1000.0;

        state.counters["images_per_s"] = double(files.size()) / seconds;
        state.counters["tick_late_max_ms"] = ticks.maxMs();
        state.counters["tick_late_p99_ms"] = ticks.percentileMs(0.99);
        state.counters["ticks"] = double(ticks.ticks());
        int annotations = 0;
        for (const ImageEntry &image : access.project().dataset.images)
            annotations += int(image.labels.size());
        state.counters["annotations"] = annotations;
        access.modified() = false;
    }
}

void BM_EngineAloneOnTheSameFiles(benchmark::State &state)
{
    const QStringList &files = photoFiles();
    OnnxInferencer engine;
    if (!engine.loadModel(modelPath())) {
        state.SkipWithError("model did not load");
        return;
    }
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 longest = 0;
        int annotations = 0;
        for (const QString &file : files) {
            QElapsedTimer one;
            one.start();
            const QImage picture = QImageReader(file).read();
            annotations += int(engine.run(picture, 0.25f, 0.45f).size());
            longest = std::max(longest, one.elapsed());
        }
        const double seconds = double(clock.elapsed()) / 1000.0;
        state.counters["images_per_s"] = double(files.size()) / seconds;
        state.counters["tick_late_max_ms"] = double(longest);
        state.counters["annotations"] = annotations;
    }
}

} // namespace

BENCHMARK(BM_EngineAloneOnTheSameFiles)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RunAllThroughWindow)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    photoFiles(); // written before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
