// Package write and read of a large photo set, beside a plain copy of the same
// bytes (with and without flushing the copy to the disk), the memory an opened
// package holds, and reading its images back one by one beside reading the
// image files. QM_BENCH_IMAGES sets the number of images (default 2000, 1920x1080
// JPEG, 20 annotations each); the generated set lives in a temporary folder.

#include "PeakMemory.h"

#include "formats/QpkgHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

using namespace Quillmark;

namespace {

constexpr int imageWidth = 1920;
constexpr int imageHeight = 1080;
constexpr int annotationsPerImage = 20;

int imageCount()
{
    const int fromEnv = qEnvironmentVariableIntValue("QM_BENCH_IMAGES");
    return fromEnv > 0 ? fromEnv : 2000;
}

double mib(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

// Lets the peak resident size start again from the current one.
void resetPeakMemory()
{
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
}

// A photo-like frame: a textured background (noise keeps the JPEG near the
// size of a real photo) and shapes that differ from image to image.
QImage texturedBackground()
{
    QImage image(imageWidth, imageHeight, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < imageHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < imageWidth; ++x) {
            const int noise = int(random.bounded(48));
            line[x] = qRgb((x / 8 + noise) % 256, (y / 5 + noise) % 256, ((x + y) / 12 + noise) % 256);
        }
    }
    return image;
}

void writeImage(const QImage &background, const QString &path, int index)
{
    QImage image = background;
    QPainter painter(&image);
    QRandomGenerator random(quint32(index + 1));
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 200, 220));
        painter.drawEllipse(QRect(int(random.bounded(imageWidth)), int(random.bounded(imageHeight)),
                                  80 + int(random.bounded(300)), 80 + int(random.bounded(300))));
    }
    // The index as a row of black and white bars, so every frame differs.
    for (int bit = 0; bit < 16; ++bit)
        painter.fillRect(40 + bit * 24, 40, 20, 60, (index >> bit) & 1 ? Qt::white : Qt::black);
    painter.end();
    image.save(path, "JPG", 90);
}

struct ImageSet {
    QTemporaryDir root;
    QString imageFolder;
    Dataset dataset;
    qint64 totalBytes = 0;
};

QList<Annotation> annotationsFor(int index)
{
    QList<Annotation> list;
    QRandomGenerator random(quint32(index + 1000));
    for (int i = 0; i < annotationsPerImage; ++i) {
        Annotation a;
        a.className = QStringLiteral("class_%1").arg(i % 7);
        const double x = random.bounded(1800.0);
        const double y = random.bounded(1000.0);
        if (i % 2 == 0) {
            a.kind = BoundingBox;
            a.bbox = QRectF(x, y, 10 + random.bounded(100.0), 10 + random.bounded(70.0));
        } else {
            a.kind = Polygon;
            for (int p = 0; p < 12; ++p)
                a.points.append(QPointF(x + random.bounded(100.0), y + random.bounded(70.0)));
        }
        list.append(a);
    }
    return list;
}

std::unique_ptr<ImageSet> &imageSetSlot()
{
    static std::unique_ptr<ImageSet> slot;
    return slot;
}

ImageSet &imageSet()
{
    static ImageSet *set = [] {
        imageSetSlot() = std::make_unique<ImageSet>();
        ImageSet *s = imageSetSlot().get();
        s->imageFolder = s->root.filePath(QStringLiteral("images"));
        QDir().mkpath(s->imageFolder);
        const int count = imageCount();
        const QImage background = texturedBackground();
        std::atomic<int> next{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                for (int i = next++; i < count; i = next++)
                    writeImage(background, s->imageFolder + QStringLiteral("/img_%1.jpg").arg(i, 5, 10, QLatin1Char('0')), i);
            });
        }
        for (auto &worker : workers)
            worker.join();
        for (int i = 0; i < count; ++i) {
            ImageEntry entry;
            entry.filePath = s->imageFolder + QStringLiteral("/img_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
            entry.width = imageWidth;
            entry.height = imageHeight;
            entry.labels = annotationsFor(i);
            s->totalBytes += QFileInfo(entry.filePath).size();
            s->dataset.addImage(entry);
        }
        return s;
    }();
    return *set;
}

QString packagePath()
{
    const QString path = imageSet().root.filePath(QStringLiteral("out/set.qmpkg"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

bool writeSet()
{
    return QpkgHandler::exportProject(packagePath(), Project{"bench", "object_detection", imageSet().dataset}, {});
}

void setCounters(benchmark::State &state, qint64 bytes)
{
    state.counters["MB/s"] = benchmark::Counter(double(bytes) / 1e6 * double(state.iterations()),
                                                benchmark::Counter::kIsRate);
    state.counters["media_MiB"] = mib(bytes);
}

void BM_WritePackage(benchmark::State &state)
{
    ImageSet &set = imageSet();
    for (auto _ : state) {
        if (!writeSet()) {
            state.SkipWithError("write failed");
            break;
        }
    }
    setCounters(state, set.totalBytes);
    state.counters["package_MiB"] = mib(QFileInfo(packagePath()).size());
}

void BM_CopyImageFolder(benchmark::State &state)
{
    ImageSet &set = imageSet();
    const QString target = set.root.filePath(QStringLiteral("copy"));
    for (auto _ : state) {
        state.PauseTiming();
        QDir(target).removeRecursively();
        state.ResumeTiming();
        if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), set.imageFolder, target}) != 0) {
            state.SkipWithError("cp failed");
            break;
        }
    }
    QDir(target).removeRecursively();
    setCounters(state, set.totalBytes);
}

// The same copy, flushed to the disk as the package writer does before it
// replaces the target.
void BM_CopyImageFolderSynced(benchmark::State &state)
{
    ImageSet &set = imageSet();
    const QString target = set.root.filePath(QStringLiteral("copy"));
    const QString script = QStringLiteral("cp -r '%1' '%2' && sync '%2'/*").arg(set.imageFolder, target);
    for (auto _ : state) {
        state.PauseTiming();
        QDir(target).removeRecursively();
        state.ResumeTiming();
        if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script}) != 0) {
            state.SkipWithError("cp failed");
            break;
        }
    }
    QDir(target).removeRecursively();
    setCounters(state, set.totalBytes);
}

// Opening a package stored away from its images, then holding the opened
// dataset as the program does: the resident size it keeps after the read,
// beside the package's size. The images stay in the package until needed.
void BM_ReadPackage(benchmark::State &state)
{
    ImageSet &set = imageSet();
    if (!QFileInfo::exists(packagePath()) && !writeSet()) {
        state.SkipWithError("write failed");
        return;
    }
    const qint64 packageBytes = QFileInfo(packagePath()).size();
    double peakGrowth = 0;
    double heldGrowth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double before = QmBench::residentMemoryMiB();
        resetPeakMemory();
        state.ResumeTiming();
        {
            Dataset read;
            QpkgHandler handler;
            if (!handler.importDataset(packagePath(), read, {}) || read.images.size() != set.dataset.images.size()) {
                state.SkipWithError("read failed");
                break;
            }
            benchmark::DoNotOptimize(read);
            state.PauseTiming();
            peakGrowth = std::max(peakGrowth, QmBench::peakMemoryMiB() - before);
            heldGrowth = std::max(heldGrowth, QmBench::residentMemoryMiB() - before);
            state.ResumeTiming();
        }
    }
    setCounters(state, packageBytes);
    state.counters["package_MiB"] = mib(packageBytes);
    state.counters["read_peak_MiB"] = peakGrowth;
    state.counters["held_MiB"] = heldGrowth;
    state.counters["decoded_MiB"] = mib(qint64(set.dataset.images.size()) * imageWidth * imageHeight * 4);
}

// Every image of an opened package read back through its entry, as an
// export or a save does, beside the same bytes read from the image files.
void BM_ReadStoredImages(benchmark::State &state)
{
    ImageSet &set = imageSet();
    if (!QFileInfo::exists(packagePath()) && !writeSet()) {
        state.SkipWithError("write failed");
        return;
    }
    Dataset read;
    if (!QpkgHandler().importDataset(packagePath(), read, {})) {
        state.SkipWithError("read failed");
        return;
    }
    for (auto _ : state) {
        for (const ImageEntry &entry : std::as_const(read.images)) {
            const QByteArray bytes = entry.encodedBytes();
            if (bytes.isEmpty()) {
                state.SkipWithError("no bytes");
                return;
            }
            benchmark::DoNotOptimize(bytes.constData());
        }
    }
    setCounters(state, set.totalBytes);
    state.counters["images"] = double(read.images.size());
}

void BM_ReadImageFiles(benchmark::State &state)
{
    ImageSet &set = imageSet();
    for (auto _ : state) {
        for (const ImageEntry &entry : std::as_const(set.dataset.images)) {
            QFile file(entry.filePath);
            if (!file.open(QIODevice::ReadOnly)) {
                state.SkipWithError("no file");
                return;
            }
            const QByteArray bytes = file.readAll();
            benchmark::DoNotOptimize(bytes.constData());
        }
    }
    setCounters(state, set.totalBytes);
}

} // namespace

BENCHMARK(BM_WritePackage)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_CopyImageFolder)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_CopyImageFolderSynced)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ReadPackage)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ReadStoredImages)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ReadImageFiles)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    imageSetSlot().reset();   // removes the generated images and packages
    return 0;
}
