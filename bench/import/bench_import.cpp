// Imports of 100,000 images through the main window's commands, as a user runs
// them: a YOLO folder (dataset import: detection, chooser, reader, merge) and a
// package (package import). Each reports the total time from the command to
// the merged project, the longest stall of the GUI thread (how late a 5 ms
// timer fired at worst) and the peak resident memory of the run. Beside each,
// the same reader alone on a worker thread of the same process and the same
// files, so the difference is what the command adds.
//
// The data set is generated once into a folder in the temporary folder and
// reused (QM_BENCH_IMAGES sets the number of images, default 100000). Every
// benchmark reads every file once before it is timed, so all of them run with
// a warm page cache. Run each benchmark in a process of its own for its peak
// memory:
//   QT_QPA_PLATFORM=offscreen ./bench_import --benchmark_filter=BM_YoloFolderCommand

#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "dialogs/Prompts.h"
#include "formats/FormatRegistry.h"
#include "formats/ui/ImportFormatDialog.h"
#include "formats/QpkgHandler.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <fstream>
#include <limits>

using namespace Quillmark;

namespace {

int imageCount()
{
    const int fromEnv = qEnvironmentVariableIntValue("QM_BENCH_IMAGES");
    return fromEnv > 0 ? fromEnv : 100000;
}

QString dataRoot()
{
    return QDir::tempPath() + QStringLiteral("/quillmark-bench-import-%1").arg(imageCount());
}

QByteArray smallJpeg()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(120, 130, 140));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

const QStringList classNames = {"person", "car", "bicycle", "dog", "bus"};

// An Ultralytics layout: data.yaml, images/train, labels/train, three boxes
// per image.
QString yoloFolder()
{
    const QString root = dataRoot() + QStringLiteral("/yolo");
    if (QFile::exists(root + QStringLiteral("/complete")))
        return root;
    QDir(root).removeRecursively();
    QDir().mkpath(root + QStringLiteral("/images/train"));
    QDir().mkpath(root + QStringLiteral("/labels/train"));
    writeFile(root + QStringLiteral("/data.yaml"),
              "path: .\ntrain: images/train\nval: images/train\nnames:\n  0: person\n  1: car\n  2: bicycle\n"
              "  3: dog\n  4: bus\n");
    const QByteArray jpeg = smallJpeg();
    for (int i = 0; i < imageCount(); ++i) {
        const QString stem = QStringLiteral("img_%1").arg(i, 6, 10, QLatin1Char('0'));
        writeFile(root + QStringLiteral("/images/train/") + stem + QStringLiteral(".jpg"), jpeg);
        QByteArray lines;
        for (int a = 0; a < 3; ++a)
            lines += QByteArray::number((i + a) % 5) + " 0.5 0.5 0.25 0.25\n";
        writeFile(root + QStringLiteral("/labels/train/") + stem + QStringLiteral(".txt"), lines);
    }
    writeFile(root + QStringLiteral("/complete"), "");
    return root;
}

// A package whose images are held in it (none lies beside it).
QString packageFile()
{
    const QString path = dataRoot() + QStringLiteral("/package/holiday.qmpkg");
    if (QFile::exists(path))
        return path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    Dataset dataset;
    const QByteArray jpeg = smallJpeg();
    dataset.images.reserve(imageCount());
    for (int i = 0; i < imageCount(); ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("img_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        entry.width = 64;
        entry.height = 48;
        entry.imageData = jpeg;
        for (int a = 0; a < 3; ++a) {
            Annotation box;
            box.className = classNames.at((i + a) % 5);
            box.bbox = QRectF(8 + a, 6, 16, 12);
            entry.labels.append(box);
        }
        dataset.addImage(entry);
    }
    const QString partial = path + QStringLiteral(".partial");
    if (!QpkgHandler::writePackage(partial, dataset, {}, QStringLiteral("object_detection")) ||
        !QFile::rename(partial, path))
        qFatal("cannot write the package");
    return path;
}

void warmPageCache(const QString &path)
{
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    }
    if (QFileInfo(path).isFile()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.read(1 << 20).isEmpty()) {
            }
        }
    }
}

void resetPeakMemory()
{
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
}

// The answers a user gives: the folder or file to import.
class BenchPrompts : public Prompts {
public:
    QString answer;
    QString getExistingDirectory(QWidget *, const QString &, const QString &, QFileDialog::Options) override
    {
        return answer;
    }
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override { return answer; }
};

// How late a 5 ms timer on the GUI thread fires at worst while it runs.
class StallMeter {
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { worst = std::max(worst, sinceTick.restart() - 5); });
        sinceTick.start();
        timer.start();
    }
    qint64 worstMs() const { return worst; }

private:
    QTimer timer;
    QElapsedTimer sinceTick;
    qint64 worst = 0;
};

// Accepts the format chooser with the format it preselected.
void acceptChooserWhenOpen(bool *handled)
{
    auto *poll = new QTimer;
    poll->setInterval(2);
    QObject::connect(poll, &QTimer::timeout, [poll, handled] {
        auto *chooser = qobject_cast<ImportFormatDialog *>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        poll->stop();
        poll->deleteLater();
        *handled = true;
        chooser->accept();
    });
    poll->start();
}

// Runs the event loop until `done`, asked only between events of this level
// (never from inside the chooser's own loop), without spinning a core.
void waitUntil(const std::function<bool()> &done)
{
    QmBench::waitUntil(done, std::numeric_limits<int>::max());
}

struct CommandRun {
    double seconds = 0;
    qint64 stallMs = 0;
    int images = 0;
};

CommandRun runCommand(const QString &answer, bool dataset)
{
    BenchPrompts prompts;
    prompts.answer = answer;
    Prompts::setOverride(&prompts);
    CommandRun run;
    {
        MainWindow window;
        window.show();
        QCoreApplication::processEvents();
        StallMeter meter;
        bool chooserHandled = !dataset;
        if (dataset)
            acceptChooserWhenOpen(&chooserHandled);
        QElapsedTimer clock;
        clock.start();
        if (dataset)
            window.onImportDataset();
        else
            window.onImportQuillPackage();
        waitUntil([&] {
            return chooserHandled && !window.isJobRunning() && !window.currentProject().dataset.images.isEmpty();
        });
        run.seconds = double(clock.nsecsElapsed()) / 1e9;
        // The events the merge left (repaints, the image load) still run on
        // the GUI thread: they count towards the stall.
        QElapsedTimer settle;
        settle.start();
        waitUntil([&] { return settle.elapsed() >= 300; });
        run.stallMs = meter.worstMs();
        run.images = int(window.currentProject().dataset.images.size());
    }
    Prompts::setOverride(nullptr);
    return run;
}

void reportCommand(benchmark::State &state, const QString &answer, bool dataset)
{
    warmPageCache(answer);
    CommandRun last;
    qint64 worstStall = 0;
    for (auto _ : state) {
        resetPeakMemory();
        last = runCommand(answer, dataset);
        state.SetIterationTime(last.seconds);
        worstStall = std::max(worstStall, last.stallMs);
    }
    if (last.images != imageCount())
        state.SkipWithError("the import did not bring every image in");
    state.counters["images"] = last.images;
    state.counters["stall_ms"] = double(worstStall);
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

// The reader alone on a worker, as the command runs it, without the window.
void reportReader(benchmark::State &state, const QString &format, const QString &path)
{
    warmPageCache(path);
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    int images = 0;
    for (auto _ : state) {
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        Dataset dataset;
        bool ok = false;
        QThread *worker = QThread::create([&] { ok = handler->importDataset(path, dataset, {}); });
        worker->start();
        worker->wait();
        delete worker;
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        images = ok ? int(dataset.images.size()) : 0;
    }
    state.counters["images"] = images;
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

void BM_YoloFolderCommand(benchmark::State &state)
{
    reportCommand(state, yoloFolder(), true);
}
BENCHMARK(BM_YoloFolderCommand)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_YoloFolderReaderAlone(benchmark::State &state)
{
    reportReader(state, QStringLiteral("YOLO"), yoloFolder());
}
BENCHMARK(BM_YoloFolderReaderAlone)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PackageCommand(benchmark::State &state)
{
    reportCommand(state, packageFile(), false);
}
BENCHMARK(BM_PackageCommand)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PackageReaderAlone(benchmark::State &state)
{
    reportReader(state, QStringLiteral("QuillPackage"), packageFile());
}
BENCHMARK(BM_PackageReaderAlone)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    QmBench::runRegisteredBenchmarks(argc, argv);
    return 0;
}
