// Import and export of a generated dataset of 20,000 images and 200,000
// annotations as a COCO file and as a YOLO folder, and our COCO import beside
// Python's json.load of the same file, each in fresh processes. Run from a
// Release build:
//   bench_formats --benchmark_min_time=1x
//   bench_formats --import-coco <file>   (one fresh import, used by the above)
#include "FreshProcess.h"
#include "PeakMemory.h"

#include "formats/CocoHandler.h"
#include "formats/YoloHandler.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Quillmark;

namespace {

constexpr int kImages = 20000;
constexpr int kAnnotationsPerImage = 10;

// Ten annotations per image: boxes, polygons and a keypoint set, all inside
// the 640 x 480 picture.
Dataset generatedDataset(const QString &imageFolder)
{
    Dataset dataset;
    const QStringList classes = {"person", "car", "bicycle", "dog", "cat"};
    for (int i = 0; i < kImages; ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("%1/img%2.png").arg(imageFolder).arg(i, 6, 10, QLatin1Char('0'));
        entry.width = 640;
        entry.height = 480;
        for (int k = 0; k < kAnnotationsPerImage; ++k) {
            Annotation a;
            a.className = classes.at((i + k) % classes.size());
            const double x = (i * 7 + k * 31) % 500;
            const double y = (i * 11 + k * 17) % 400;
            a.bbox = QRectF(x, y, 40.5 + k, 30.25 + k);
            if (k % 5 == 3) {
                a.kind = Polygon;
                a.points = {{x, y}, {x + 40, y}, {x + 40, y + 30}, {x + 20, y + 35}, {x, y + 30}, {x - 2, y + 10}};
            } else if (k % 5 == 4) {
                a.kind = Keypoint;
                for (int j = 0; j < 17; ++j)
                    a.points.append(QPointF(x + j, y + j * 0.5));
                a.keypointVis = QList<int>(17, 2);
            }
            entry.labels.append(a);
        }
        dataset.addImage(entry);
    }
    return dataset;
}

struct Fixture {
    QTemporaryDir dir;
    Dataset dataset;
    QString cocoPath;
    QString yoloFolder;

    Fixture()
    {
        const QString images = dir.filePath("images");
        QDir().mkpath(images);
        dataset = generatedDataset(images);
        // Small real images, so that the YOLO import reads real headers.
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(Qt::gray);
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "PNG");
        }
        cocoPath = dir.filePath("coco/annotations.json");
        yoloFolder = dir.filePath("yolo");
        CocoHandler().exportDataset(cocoPath, dataset, {});
        YoloHandler().exportDataset(yoloFolder, dataset, {});
        QDir().mkpath(yoloFolder + "/images");
        for (const ImageEntry &entry : dataset.images) {
            QFile file(yoloFolder + "/images/" + QFileInfo(entry.filePath).fileName());
            if (file.open(QIODevice::WriteOnly))
                file.write(png);
        }
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void reportMemory(benchmark::State &state)
{
    state.counters["peak_MiB"] = QmBench::peakMemoryMiB();
    state.counters["images"] = kImages;
    state.counters["annotations"] = kImages * kAnnotationsPerImage;
}

void BM_CocoExport(benchmark::State &state)
{
    Fixture &f = fixture();
    QTemporaryDir out;
    for (auto _ : state)
        benchmark::DoNotOptimize(CocoHandler().exportDataset(out.filePath("annotations.json"), f.dataset, {}));
    state.counters["file_MiB"] = QFileInfo(f.cocoPath).size() / (1024.0 * 1024.0);
    reportMemory(state);
}

void BM_CocoImport(benchmark::State &state)
{
    Fixture &f = fixture();
    for (auto _ : state) {
        Dataset dataset;
        benchmark::DoNotOptimize(CocoHandler().importDataset(f.cocoPath, dataset, {}));
    }
    reportMemory(state);
}

// One import in this fresh process: its time from open to done.
int importOnce(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    Dataset dataset;
    const bool ok = CocoHandler().importDataset(path, dataset, {});
    std::printf("seconds %.6f\n", timer.nsecsElapsed() / 1e9);
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1); // freeing the dataset is not part of the import
}

// Our import and Python's json.load of the same file, each in a fresh
// process, back to back in every round; the medians and their ratio.
void BM_CocoImportVersusPythonJson(benchmark::State &state)
{
    Fixture &f = fixture();
    const QString python = QStringLiteral("import json, sys, time\nt = time.perf_counter()\n"
                                          "json.load(open(sys.argv[1], 'rb'))\n"
                                          "print('seconds %.6f' % (time.perf_counter() - t))");
    QList<double> ours, theirs;
    for (auto _ : state) {
        for (int round = 0; round < 5; ++round) {
            ours.append(QmBench::freshSeconds(QCoreApplication::applicationFilePath(), {"--import-coco", f.cocoPath}));
            theirs.append(QmBench::freshSeconds(QStringLiteral(QM_PYTHON), {"-c", python, f.cocoPath}));
        }
    }
    const double o = QmBench::median(ours), p = QmBench::median(theirs);
    state.counters["ours_s"] = o;
    state.counters["python_json_load_s"] = p;
    state.counters["ratio_ours_to_python"] = p > 0 ? o / p : 0;
    std::printf("COCO import %.3f s, Python json.load %.3f s (fresh processes, median of 5): ours/Python %.2f\n", o, p,
                p > 0 ? o / p : 0.0);
}

void BM_YoloExport(benchmark::State &state)
{
    Fixture &f = fixture();
    QTemporaryDir out;
    for (auto _ : state)
        benchmark::DoNotOptimize(YoloHandler().exportDataset(out.path(), f.dataset, {}));
    reportMemory(state);
}

void BM_YoloImport(benchmark::State &state)
{
    Fixture &f = fixture();
    for (auto _ : state) {
        Dataset dataset;
        benchmark::DoNotOptimize(YoloHandler().importDataset(f.yoloFolder, dataset, {}));
    }
    reportMemory(state);
}

} // namespace

BENCHMARK(BM_CocoExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CocoImport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CocoImportVersusPythonJson)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_YoloExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_YoloImport)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--import-coco") == 0)
        return importOnce(QString::fromLocal8Bit(argv[2]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
