// Import and export of a generated dataset of 20,000 images and 200,000
// annotations as a COCO file and as a YOLO folder, beside Python's json.load
// of the same COCO file. Run from a Release build:
//   bench_formats --benchmark_min_time=1x
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

#include <cstdio>

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

// Python's json.load of the same file, timed inside Python, and our import
// time as a multiple of it.
void BM_CocoImportVersusPythonJson(benchmark::State &state)
{
    Fixture &f = fixture();
    double ours = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        Dataset dataset;
        CocoHandler().importDataset(f.cocoPath, dataset, {});
        ours = timer.nsecsElapsed() / 1e9;
    }
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON),
                 {"-c", "import json, sys, time\nt = time.perf_counter()\njson.load(open(sys.argv[1]))\n"
                        "print(time.perf_counter() - t)",
                  f.cocoPath});
    python.waitForFinished(-1);
    const double pythonSeconds = python.readAllStandardOutput().trimmed().toDouble();
    state.counters["ours_s"] = ours;
    state.counters["python_json_load_s"] = pythonSeconds;
    state.counters["ratio_ours_to_python"] = pythonSeconds > 0 ? ours / pythonSeconds : 0;
    std::printf("COCO import %.3f s, python json.load %.3f s, ratio %.2f\n", ours, pythonSeconds,
                pythonSeconds > 0 ? ours / pythonSeconds : 0.0);
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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
