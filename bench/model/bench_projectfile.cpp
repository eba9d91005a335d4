// Save and load of a large project file (100,000 images, 10 annotations each),
// each side in a fresh process: our load beside Python's json.load of the
// same file, in rounds run back to back; the medians and their ratio are
// printed. The Google Benchmark runs time the save and the load in this
// process as well.
//
//   bench_projectfile [--images N] [--rounds R] [benchmark flags]
//   bench_projectfile --load <file>     (one fresh load, used by the above)
//   bench_projectfile --write <file> [--images N]   (writes the project file only)

#include "LargeProject.h"
#include "PeakMemory.h"

#include "model/ProjectFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Quillmark;

namespace {

int imageCount = 100000;
int rounds = 3;
QString projectPath;

void BM_Save(benchmark::State &state)
{
    const Project project = QmBench::largeProject(imageCount);
    for (auto _ : state) {
        if (!saveProjectFile(project, projectPath))
            state.SkipWithError("save failed");
    }
    state.counters["MiB"] = double(QFileInfo(projectPath).size()) / (1024.0 * 1024.0);
}

void BM_Load(benchmark::State &state)
{
    for (auto _ : state) {
        Project p;
        if (!loadProjectFile(p, projectPath) || p.dataset.images.size() != imageCount)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(p);
    }
}

// One fresh load: prints its time from open to done and the peak memory.
int loadOnce(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    Project p;
    const bool ok = loadProjectFile(p, path);
    std::printf("seconds %.6f\npeakMiB %.1f\nimages %lld\n", timer.nsecsElapsed() / 1e9, QmBench::peakMemoryMiB(),
                qlonglong(p.dataset.images.size()));
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1); // the time of freeing the dataset is not the load's
}

struct Fresh {
    double seconds = -1;
    double peakMiB = -1;
};

Fresh freshRun(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Fresh run;
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return run;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("seconds "))
            run.seconds = line.mid(8).toDouble();
        else if (line.startsWith("peakMiB "))
            run.peakMiB = line.mid(8).toDouble();
    }
    return run;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1.0 : values.at(values.size() / 2);
}

void compareFresh()
{
    QList<double> ours, python, peak;
    for (int r = 0; r < rounds; ++r) {
        const Fresh mine = freshRun(QCoreApplication::applicationFilePath(), {QStringLiteral("--load"), projectPath});
        const Fresh theirs = freshRun(QStringLiteral(QM_PYTHON), {QStringLiteral(QM_BENCH_DIR "/model/json_fixture.py"),
                                                                   QStringLiteral("load"), projectPath});
        ours.append(mine.seconds);
        peak.append(mine.peakMiB);
        python.append(theirs.seconds);
    }
    const double o = median(ours), p = median(python);
    std::printf("\nProject file of %d images, %.0f MiB; fresh processes, median of %d rounds:\n", imageCount,
                double(QFileInfo(projectPath).size()) / (1024.0 * 1024.0), rounds);
    std::printf("  our load %.3f s (peak %.0f MiB)  Python json.load %.3f s  ours/Python %.2f\n", o, median(peak), p,
                o / p);
}

} // namespace

BENCHMARK(BM_Save)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0)
        return loadOnce(QString::fromLocal8Bit(argv[2]));
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--images") == 0)
            imageCount = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    if (argc >= 3 && std::strcmp(argv[1], "--write") == 0)
        return saveProjectFile(QmBench::largeProject(imageCount), QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    QTemporaryDir dir;
    projectPath = dir.filePath(QStringLiteral("bench.qmk"));
    if (!saveProjectFile(QmBench::largeProject(imageCount), projectPath)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(projectPath));
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareFresh();
    return 0;
}
