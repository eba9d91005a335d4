// Dataset export through the main window, as a user starts it: 100,000 small
// PNG files with 10 boxes each, to YOLO with a train / valid / test split and
// image copies. Measured: wall time beside `cp -r` of the same image folder
// (both from the page cache, the files having just been written), peak memory
// of the program and of cp, and the lateness of a 10 ms timer on the GUI thread
// while the export runs (the window must stay responsive: under 50 ms), beside
// the same timer on an idle event loop, and the longest stretch the GUI thread
// works without returning to its event loop. The same pictures exported to
// COCO without a split (one annotation file, every picture copied beside it),
// through the window and as the job alone, are timed beside `cp -r` too.
//
// Every run writes into a folder of its own, and all of them are removed only
// when the program ends: on ext4 without a journal, creating files right after
// many were deleted costs several times more (the inode allocator passes over
// inodes freed in the last minutes), so a clean-up between runs would bill one
// side for the other's deletions.
//
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_export [--benchmark_filter=...]
// QM_BENCH_IMAGES overrides the image count (default 100000).

#include "MainWindowTestAccess.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "formats/ui/ExportDialog.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <benchmark/benchmark.h>

using namespace Quillmark;

namespace {

int imageCount()
{
    const int n = qEnvironmentVariableIntValue("QM_BENCH_IMAGES");
    return n > 0 ? n : 100000;
}

// The source images, written once for all benchmarks.
struct SourceImages {
    QTemporaryDir root;
    QString folder;
    QStringList paths;

    SourceImages()
    {
        folder = root.filePath(QStringLiteral("images"));
        QDir().mkpath(folder);
        const int n = imageCount();
        paths.reserve(n);
        QImage picture(32, 24, QImage::Format_RGB32);
        for (int i = 0; i < n; ++i) {
            picture.fill(QColor::fromRgb((i * 37) % 256, (i * 11) % 256, (i * 5) % 256));
            const QString path = folder + QStringLiteral("/img_%1.png").arg(i, 6, 10, QLatin1Char('0'));
            picture.save(path);
            paths.append(path);
        }
    }
};

SourceImages &sources()
{
    static SourceImages images;
    return images;
}

// A new folder for one run's output, removed at the end of the program.
QString freshOutputFolder()
{
    static QTemporaryDir root;
    static int run = 0;
    return root.filePath(QStringLiteral("run%1").arg(run++));
}

// The project's images: each the source file at its known size with 10 boxes.
void fillDataset(Dataset &dataset)
{
    const QStringList classes = {"car", "person", "bike", "bus", "truck"};
    for (const QString &name : classes)
        dataset.addClass(name, QColor());
    const QStringList &paths = sources().paths;
    dataset.images.reserve(paths.size());
    for (int i = 0; i < paths.size(); ++i) {
        ImageEntry entry;
        entry.filePath = paths.at(i);
        entry.width = 32;
        entry.height = 24;
        for (int a = 0; a < 10; ++a) {
            Annotation annotation;
            annotation.className = classes.at((i + a) % classes.size());
            annotation.bbox = QRectF(a, a % 4, 8, 6);
            entry.labels.append(annotation);
        }
        dataset.addImage(entry);
    }
}

void fillProject(MainWindow &window)
{
    MainWindowTestAccess access(window);
    fillDataset(access.project().dataset);
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
}

// Answers the export dialog as a user does: the format's card, the output
// folder, the split box, Export.
void chooseExport(const QString &format, const QString &output, bool split)
{
    QTimer::singleShot(0, [format, output, split] {
        auto *dialog = qobject_cast<ExportDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        for (QToolButton *card : dialog->findChildren<QToolButton *>(QStringLiteral("exportFormatCard"))) {
            if (card->toolTip() == format)
                card->click();
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("exportPath"))->setText(output);
        for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
            if (box->text() == QLatin1String("Split into train / valid / test"))
                box->setChecked(split);
        }
        dialog->findChild<QPushButton *>(QStringLiteral("exportBtn"))->click();
    });
}

// Watches the GUI thread: how late a 10 ms timer comes (scheduling by a busy
// machine included), and the longest stretch the thread works between two
// waits for events (what the program's own GUI-thread code costs).
class GuiPulse {
public:
    GuiPulse()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] { late = std::max(late, double(sinceTick.restart() - 10)); });
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
        awake = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [this] { busy.start(); });
        blocking = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (busy.isValid())
                longestBusy = std::max(longestBusy, busy.nsecsElapsed() / 1e6);
        });
        sinceTick.start();
        timer.start();
    }
    ~GuiPulse()
    {
        QObject::disconnect(awake);
        QObject::disconnect(blocking);
    }
    double late = 0;
    double longestBusy = 0;

private:
    QTimer timer;
    QElapsedTimer sinceTick;
    QElapsedTimer busy;
    QMetaObject::Connection awake;
    QMetaObject::Connection blocking;
};

void BM_ExportYoloSplitThroughWindow(benchmark::State &state)
{
    sources();
    MainWindow window;
    fillProject(window);
    const double before = QmBench::peakMemoryMiB();
    double worstLateness = 0;
    double longestBusy = 0;
    int progressUpdates = 0;
    QObject::connect(window.progressBarWidget(), &QProgressBar::valueChanged,
                     [&progressUpdates] { ++progressUpdates; });
    for (auto _ : state) {
        const QString output = freshOutputFolder();
        QElapsedTimer clock;
        clock.start();
        chooseExport(QStringLiteral("YOLO"), output, true);
        window.onExportDataset();
        auto pulse = std::make_unique<GuiPulse>();
        QEventLoop untilDone;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!window.isJobRunning())
                untilDone.quit();
        });
        check.start(20);
        untilDone.exec();
        worstLateness = std::max(worstLateness, pulse->late);
        longestBusy = std::max(longestBusy, pulse->longestBusy);
        pulse.reset();
        state.SetIterationTime(clock.elapsed() / 1000.0);
        if (!QFileInfo::exists(output + QStringLiteral("/data.yaml")))
            state.SkipWithError("the export wrote no data.yaml");
    }
    state.counters["images"] = imageCount();
    state.counters["rssBeforeMiB"] = before;
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
    state.counters["maxTimerLateMs"] = worstLateness;
    state.counters["maxGuiBusyMs"] = longestBusy;
    state.counters["barUpdates"] = double(progressUpdates) / state.iterations();
}
BENCHMARK(BM_ExportYoloSplitThroughWindow)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// The export job alone on a worker thread's work, without the window: what the
// job itself costs of the time through the window.
void timeExportJob(benchmark::State &state, const QString &format, bool split)
{
    sources();
    Dataset dataset;
    fillDataset(dataset);
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    ExportConfig config;
    config.format = format;
    config.split = split;
    for (auto _ : state) {
        config.outputPath = freshOutputFolder();
        QElapsedTimer clock;
        clock.start();
        QString error;
        QString result;
        const bool ok = runExportJob(handler, config, dataset, int(dataset.images.size()), false, {}, &error, &result);
        state.SetIterationTime(clock.elapsed() / 1000.0);
        if (!ok)
            state.SkipWithError(qPrintable(error));
    }
    state.counters["images"] = imageCount();
}

void BM_ExportJobYoloSplit(benchmark::State &state)
{
    timeExportJob(state, QStringLiteral("YOLO"), true);
}
BENCHMARK(BM_ExportJobYoloSplit)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// A COCO export through the window, as a user starts it: the one annotation
// file with every picture copied beside it, timed from the dialog's Export to
// the result in the status bar (the files all written). Run with
// QM_BENCH_IMAGES=20000 beside BM_CopyImagesWithCp of the same pictures.
void BM_ExportCocoThroughWindow(benchmark::State &state)
{
    sources();
    MainWindow window;
    fillProject(window);
    for (auto _ : state) {
        const QString output = freshOutputFolder();
        QElapsedTimer clock;
        clock.start();
        chooseExport(QStringLiteral("COCO"), output, false);
        window.onExportDataset();
        QEventLoop untilDone;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!window.isJobRunning())
                untilDone.quit();
        });
        check.start(5);
        untilDone.exec();
        state.SetIterationTime(clock.elapsed() / 1000.0);
        const QString last = QStringLiteral("/img_%1.png").arg(imageCount() - 1, 6, 10, QLatin1Char('0'));
        if (!QFileInfo::exists(output + QStringLiteral("/annotations.json")) || !QFileInfo::exists(output + last))
            state.SkipWithError("the export is incomplete");
    }
    state.counters["images"] = imageCount();
}
BENCHMARK(BM_ExportCocoThroughWindow)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The COCO export job alone.
void BM_ExportJobCoco(benchmark::State &state)
{
    timeExportJob(state, QStringLiteral("COCO"), false);
}
BENCHMARK(BM_ExportJobCoco)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The control for the timer lateness: the same 10 ms timer on an idle event
// loop of the same process for five seconds. On a machine shared with other
// work, lateness the export did not cause shows here too.
void BM_IdleEventLoopLateness(benchmark::State &state)
{
    double worstLateness = 0;
    double longestBusy = 0;
    for (auto _ : state) {
        GuiPulse pulse;
        QEventLoop idle;
        QTimer::singleShot(5000, &idle, &QEventLoop::quit);
        idle.exec();
        worstLateness = std::max(worstLateness, pulse.late);
        longestBusy = std::max(longestBusy, pulse.longestBusy);
    }
    state.counters["maxTimerLateMs"] = worstLateness;
    state.counters["maxGuiBusyMs"] = longestBusy;
}
BENCHMARK(BM_IdleEventLoopLateness)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same image files copied by cp: the floor for any export that copies them.
void BM_CopyImagesWithCp(benchmark::State &state)
{
    const QString folder = sources().folder;
    double cpPeakMiB = 0;
    for (auto _ : state) {
        const QString output = freshOutputFolder();
        QElapsedTimer clock;
        clock.start();
        // GNU time reports cp's own peak memory ("%M", KiB) on its last line.
        QProcess cp;
        cp.start(QStringLiteral("/usr/bin/time"), {QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("cp"),
                                                   QStringLiteral("-r"), folder, output});
        const bool ok = cp.waitForFinished(-1) && cp.exitCode() == 0;
        state.SetIterationTime(clock.elapsed() / 1000.0);
        if (!ok)
            state.SkipWithError("cp failed");
        const QList<QByteArray> lines = cp.readAllStandardError().trimmed().split('\n');
        cpPeakMiB = std::max(cpPeakMiB, lines.last().toDouble() / 1024.0);
    }
    state.counters["images"] = imageCount();
    state.counters["cpPeakMiB"] = cpPeakMiB;
}
BENCHMARK(BM_CopyImagesWithCp)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    QmBench::runRegisteredBenchmarks(argc, argv);
    return 0;
}
