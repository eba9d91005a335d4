// Import and export of a generated dataset of 20,000 images and 200,000
// annotations as a YOLO TensorFlow CSV, a RetinaNet CSV, a YOLOv8 OBB folder
// and a YOLO Pose folder. Beside them, Python reading the same files with the
// work our import does on them (csv.reader grouping rows by image; reading and
// splitting every label file), each timed inside its own process so that
// neither pays for start-up. Run from a Release build:
//   bench_yolofamily --benchmark_min_time=1x
#include "PeakMemory.h"

#include "formats/RetinaNetHandler.h"
#include "formats/Yolo8ObbHandler.h"
#include "formats/YoloPoseHandler.h"
#include "formats/YoloTfHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace Quillmark;

namespace {

constexpr int kImages = 20000;
constexpr int kAnnotationsPerImage = 10;

// Ten annotations per image: boxes, rotated four-point polygons and a keypoint
// set of 17 points, all inside the 640 x 480 picture. The image files do not
// exist, so that imports measure the reading of the dataset files alone.
Dataset generatedDataset(const QString &imageFolder)
{
    Dataset dataset;
    const QStringList classes = {"person", "car", "traffic light", "dog", "a, b"};
    for (int i = 0; i < kImages; ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("%1/img%2.png").arg(imageFolder).arg(i, 6, 10, QLatin1Char('0'));
        entry.width = 640;
        entry.height = 480;
        for (int k = 0; k < kAnnotationsPerImage; ++k) {
            Annotation a;
            a.className = classes.at((i + k) % classes.size());
            const double x = (i * 7 + k * 31) % 500 + 10;
            const double y = (i * 11 + k * 17) % 400 + 10;
            a.bbox = QRectF(x, y, 40.5 + k, 30.25 + k);
            if (k % 5 == 3) {
                a.kind = Polygon;
                a.points = {{x, y + 10}, {x + 30, y}, {x + 40, y + 20}, {x + 10, y + 30}};
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

    Fixture()
    {
        dataset = generatedDataset(dir.filePath("missing-images"));
        YoloTfHandler().exportDataset(path("tf"), dataset, {});
        RetinaNetHandler().exportDataset(path("retinanet"), dataset, {});
        Yolo8ObbHandler().exportDataset(path("obb8"), dataset, {});
        YoloPoseHandler().exportDataset(path("pose"), dataset, {});
    }
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
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
}

template <typename Handler> void exportBenchmark(benchmark::State &state)
{
    Fixture &f = fixture();
    for (auto _ : state) {
        QTemporaryDir out;
        benchmark::DoNotOptimize(Handler().exportDataset(out.path(), f.dataset, {}));
    }
    reportMemory(state);
}

template <typename Handler> double importSeconds(const QString &path, int *images)
{
    QElapsedTimer timer;
    timer.start();
    Dataset dataset;
    Handler().importDataset(path, dataset, {});
    *images = int(dataset.images.size());
    return timer.nsecsElapsed() / 1e9;
}

double pythonSeconds(const char *script, const QString &path)
{
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON), {"-c", QString::fromLatin1(script), path});
    python.waitForFinished(-1);
    return python.readAllStandardOutput().trimmed().toDouble();
}

// csv.reader over the file, rows grouped by image name as our importers do.
const char *kPythonCsv = "import csv, sys, time\n"
                         "t = time.perf_counter()\n"
                         "groups = {}\n"
                         "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                         "    for row in csv.reader(f):\n"
                         "        groups.setdefault(row[0], []).append(row)\n"
                         "print(time.perf_counter() - t)\n";

// Every label file read and split into numbers.
const char *kPythonLabels = "import os, sys, time\n"
                            "t = time.perf_counter()\n"
                            "for root, _, files in os.walk(sys.argv[1]):\n"
                            "    for name in files:\n"
                            "        if name.endswith('.txt'):\n"
                            "            with open(os.path.join(root, name)) as f:\n"
                            "                rows = [[float(v) for v in line.split()] for line in f]\n"
                            "print(time.perf_counter() - t)\n";

template <typename Handler>
void importVersusPython(benchmark::State &state, const char *folder, const char *pythonPath, const char *script)
{
    Fixture &f = fixture();
    double ours = 0;
    int images = 0;
    for (auto _ : state)
        ours = importSeconds<Handler>(f.path(folder), &images);
    const double python = pythonSeconds(script, f.path(pythonPath));
    state.counters["ours_s"] = ours;
    state.counters["python_s"] = python;
    state.counters["ratio_ours_to_python"] = python > 0 ? ours / python : 0;
    state.counters["images_read"] = images;
    reportMemory(state);
    std::printf("%s import %.3f s (%d images), python %.3f s, ratio %.2f\n", folder, ours, images, python,
                python > 0 ? ours / python : 0.0);
}

void BM_TensorFlowExport(benchmark::State &state)
{
    exportBenchmark<YoloTfHandler>(state);
}
void BM_RetinaNetExport(benchmark::State &state)
{
    exportBenchmark<RetinaNetHandler>(state);
}
void BM_Yolo8ObbExport(benchmark::State &state)
{
    exportBenchmark<Yolo8ObbHandler>(state);
}
void BM_YoloPoseExport(benchmark::State &state)
{
    exportBenchmark<YoloPoseHandler>(state);
}

void BM_TensorFlowImportVersusPythonCsv(benchmark::State &state)
{
    importVersusPython<YoloTfHandler>(state, "tf", "tf/_annotations.csv", kPythonCsv);
}
void BM_RetinaNetImportVersusPythonCsv(benchmark::State &state)
{
    importVersusPython<RetinaNetHandler>(state, "retinanet", "retinanet/_annotations.csv", kPythonCsv);
}
void BM_Yolo8ObbImportVersusPythonLines(benchmark::State &state)
{
    importVersusPython<Yolo8ObbHandler>(state, "obb8", "obb8/train/labels", kPythonLabels);
}
void BM_YoloPoseImportVersusPythonLines(benchmark::State &state)
{
    importVersusPython<YoloPoseHandler>(state, "pose", "pose/labels", kPythonLabels);
}

} // namespace

BENCHMARK(BM_TensorFlowExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RetinaNetExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Yolo8ObbExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_YoloPoseExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TensorFlowImportVersusPythonCsv)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RetinaNetImportVersusPythonCsv)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Yolo8ObbImportVersusPythonLines)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_YoloPoseImportVersusPythonLines)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
