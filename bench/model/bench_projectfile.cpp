// Save and load of a large project file (100,000 images, 10 annotations each),
// each side in a fresh process: our load beside Python's json.load of the
// same file, in rounds run back to back; the medians and their ratio are
// printed. The Google Benchmark runs time the save and the load in this
// process as well.
//
//   bench_projectfile [--images N] [--rounds R] [benchmark flags]
//   bench_projectfile --load <file>     (one fresh load, used by the above)
//   bench_projectfile --write <file> [--images N]   (writes the project file only)

#include "Arguments.h"
#include "FreshProcess.h"
#include "LargeProject.h"
#include "PeakMemory.h"

#include "model/ProjectFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
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
    // The peak counts the pages of the mapped file that were read, which the
    // system takes back at will; the memory the dataset holds is apart.
    std::printf("seconds %.6f\npeakMiB %.1f\nanonMiB %.1f\nimages %lld\n", timer.nsecsElapsed() / 1e9,
                QmBench::peakMemoryMiB(), QmBench::statusMemoryMiB("RssAnon:"), qlonglong(p.dataset.images.size()));
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1); // the time of freeing the dataset is not the load's
}

void compareFresh()
{
    QList<double> ours, python, peak, anon;
    for (int r = 0; r < rounds; ++r) {
        const QMap<QByteArray, double> mine =
            QmBench::runFresh(QCoreApplication::applicationFilePath(), {QStringLiteral("--load"), projectPath});
        ours.append(mine.value("seconds", -1.0));
        peak.append(mine.value("peakMiB", -1.0));
        anon.append(mine.value("anonMiB", -1.0));
        python.append(
            QmBench::freshSeconds(QStringLiteral(QM_PYTHON), {QStringLiteral(QM_BENCH_DIR "/model/json_fixture.py"),
                                                              QStringLiteral("load"), projectPath}));
    }
    const double o = QmBench::median(ours), p = QmBench::median(python);
    std::printf("\nProject file of %d images, %.0f MiB; fresh processes, median of %d rounds:\n", imageCount,
                double(QFileInfo(projectPath).size()) / (1024.0 * 1024.0), rounds);
    std::printf(
        "  our load %.3f s (peak %.0f MiB, of it %.0f MiB the dataset)  Python json.load %.3f s  ours/Python %.2f\n", o,
        QmBench::median(peak), QmBench::median(anon), p, o / p);
}

} // namespace

BENCHMARK(BM_Save)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0)
        return loadOnce(QString::fromLocal8Bit(argv[2]));
    imageCount = QmBench::intArgument(argc, argv, "--images", imageCount);
    rounds = std::max(1, QmBench::intArgument(argc, argv, "--rounds", rounds));
    if (argc >= 3 && std::strcmp(argv[1], "--write") == 0)
        return QmBench::writeLargeProject(imageCount, QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    QTemporaryDir dir;
    projectPath = dir.filePath(QStringLiteral("bench.qmk"));
    if (!QmBench::writeLargeProject(imageCount, projectPath))
        return 1;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareFresh();
    return 0;
}
