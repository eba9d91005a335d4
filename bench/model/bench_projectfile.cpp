// Save and load of a large project file (100,000 images, 10 annotations each),
// then Python's json.load / json.dump on the same file for comparison.
//
//   bench_projectfile [--images N] [benchmark flags]

#include "PeakMemory.h"

#include "model/ProjectFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

using namespace Quillmark;

namespace {

int imageCount = 100000;
QString projectPath;
// Seconds of the last save and load, for the comparison with Python.
double saveSeconds = 0;
double loadSeconds = 0;

Annotation makeBox(int i)
{
    Annotation a;
    a.className = QStringLiteral("class_%1").arg(i % 12);
    a.bbox = QRectF(10.5 + i % 300, 20.25 + i % 200, 64 + i % 50, 48 + i % 40);
    a.confidence = (i % 3 == 0) ? 0.9f : 1.0f;
    return a;
}

Annotation makePolygon(int i)
{
    Annotation a = makeBox(i);
    a.kind = Polygon;
    for (int k = 0; k < 12; ++k)
        a.points.append(QPointF(100.125 + k * 7.5 + i % 17, 200.5 + (k % 4) * 9.75));
    return a;
}

Annotation makeKeypoints(int i)
{
    Annotation a = makeBox(i);
    a.kind = Keypoint;
    a.className = QStringLiteral("person");
    for (int k = 0; k < 17; ++k) {
        a.points.append(QPointF(300 + k * 3.5, 400 + k * 2.25));
        a.keypointVis.append(k % 5 == 0 ? 1 : 2);
    }
    return a;
}

Project makeProject(int images)
{
    Project p;
    p.name = QStringLiteral("Benchmark");
    p.projectType = QStringLiteral("segmentation");
    for (int i = 0; i < images; ++i) {
        ImageEntry e;
        e.filePath = QStringLiteral("/data/set/images/img_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        e.width = 1920;
        e.height = 1080;
        for (int k = 0; k < 10; ++k) {
            if (k < 4)
                e.labels.append(makeBox(i + k));
            else if (k < 9)
                e.labels.append(makePolygon(i + k));
            else if (i % 10 == 0)
                e.labels.append(makeKeypoints(i + k));
            else
                e.labels.append(makeBox(i + k));
        }
        p.dataset.addImage(e);
    }
    p.dataset.syncClassesFromAnnotations();
    return p;
}

void BM_Save(benchmark::State &state)
{
    const Project project = makeProject(imageCount);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (!saveProjectFile(project, projectPath))
            state.SkipWithError("save failed");
        saveSeconds = timer.nsecsElapsed() / 1e9;
    }
    state.counters["MiB"] = double(QFileInfo(projectPath).size()) / (1024.0 * 1024.0);
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

void BM_Load(benchmark::State &state)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        Project p;
        if (!loadProjectFile(p, projectPath) || p.dataset.images.size() != imageCount)
            state.SkipWithError("load failed");
        loadSeconds = timer.nsecsElapsed() / 1e9;
        benchmark::DoNotOptimize(p);
    }
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

void compareWithPython(const QString &tempDir)
{
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON),
                 {QStringLiteral(QM_BENCH_DIR "/model/json_reference.py"), projectPath,
                  tempDir + QStringLiteral("/python_dump.json")});
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        std::fprintf(stderr, "python reference failed: %s\n", python.readAllStandardError().constData());
        return;
    }
    QMap<QString, double> theirs;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            theirs[QString::fromLatin1(parts[0])] = parts[1].toDouble();
    }
    std::printf("\nPython json.load %.3f s, json.dump(indent=4, sort_keys=True) %.3f s\n", theirs["load"],
                theirs["dump"]);
    std::printf("ours / python: load %.2f, save %.2f\n", loadSeconds / theirs["load"], saveSeconds / theirs["dump"]);
}

} // namespace

BENCHMARK(BM_Save)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--images") == 0)
            imageCount = std::atoi(argv[i + 1]);
    }
    QTemporaryDir dir;
    projectPath = dir.filePath(QStringLiteral("bench.qmk"));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareWithPython(dir.path());
    return 0;
}
