// Folder scan of the new-project wizard on a tree the size of a large project:
// 100 folders of 1,000 files each, four in five of them images.

#include "PeakMemory.h"

#include "dialogs/ImageFolderScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int folderCount = 100;
constexpr int filesPerFolder = 1000;

bool makeTree(const QString &root)
{
    const char *suffixes[] = {".jpg", ".PNG", ".webp", ".tiff", ".txt"};
    for (int folder = 0; folder < folderCount; ++folder) {
        const QString dir = QStringLiteral("%1/set%2/part").arg(root).arg(folder);
        if (!QDir().mkpath(dir))
            return false;
        for (int i = 0; i < filesPerFolder; ++i) {
            QFile file(QStringLiteral("%1/img%2%3").arg(dir).arg(i).arg(suffixes[i % 5]));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

void BM_ScanImageFolder(benchmark::State &state)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !makeTree(dir.path())) {
        state.SkipWithError("cannot build the folder tree");
        return;
    }
    qsizetype found = 0;
    for (auto _ : state) {
        const QStringList paths = Quillmark::scanImageFolder(dir.path());
        found = paths.size();
        benchmark::DoNotOptimize(paths);
    }
    state.counters["images"] = double(found);
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}
BENCHMARK(BM_ScanImageFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
