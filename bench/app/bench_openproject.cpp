// Opening a project of 100,000 images (10 annotations each, 1.3 GB) in the
// main window, from the command until the title shows the project and the
// window answers input again; beside it the parse of the file alone. Each
// reading runs in a fresh process; the medians of the rounds are printed, and
// how much of the open came after the parse.
//
//   bench_openproject [--images N] [--rounds R] [benchmark flags]
//   bench_openproject --open <file> | --load <file>   (one fresh run, used by the above)
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_openproject

#include "Arguments.h"
#include "FreshProcess.h"
#include "LargeProject.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "dialogs/Prompts.h"
#include "model/ProjectFile.h"

#include <QApplication>
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

// Answers the open dialog with the project file.
class OpeningPrompts : public Prompts {
public:
    explicit OpeningPrompts(const QString &path) : path(path) {}
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override { return path; }

private:
    QString path;
};

// Receives the event posted as the user's input.
class InputProbe : public QObject {
public:
    bool answered = false;
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        answered = true;
        return true;
    }
};

struct OpenTimes {
    double title = -1;  // the title names the opened project
    double usable = -1; // and then input is answered
};

// Opens the project in a shown window and waits, in the event loop, for the
// title and then for an input posted as soon as the title showed.
OpenTimes openInWindow(const QString &path)
{
    MainWindow window;
    window.show();
    QCoreApplication::processEvents();
    OpeningPrompts prompts(path);
    Prompts::setOverride(&prompts);

    OpenTimes times;
    InputProbe probe;
    QElapsedTimer timer;
    QObject::connect(&window, &QWidget::windowTitleChanged, &window, [&](const QString &title) {
        if (times.title >= 0 || !title.contains(QFileInfo(path).fileName()))
            return;
        times.title = timer.nsecsElapsed() / 1e9;
        QCoreApplication::postEvent(&probe, new QEvent(QEvent::User));
    });
    timer.start();
    window.onOpenProject();
    while (!probe.answered)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    times.usable = timer.nsecsElapsed() / 1e9;
    Prompts::setOverride(nullptr);
    return times;
}

void BM_OpenInWindow(benchmark::State &state)
{
    OpenTimes times;
    for (auto _ : state)
        times = openInWindow(projectPath);
    state.counters["title_s"] = times.title;
    state.counters["usable_s"] = times.usable;
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

QMap<QByteArray, double> freshRun(const char *mode)
{
    return QmBench::runFresh(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode), projectPath});
}

void compareFresh()
{
    QList<double> parse, title, usable, peak;
    for (int r = 0; r < rounds; ++r) {
        parse.append(freshRun("--load").value("seconds", -1));
        const QMap<QByteArray, double> open = freshRun("--open");
        title.append(open.value("title", -1));
        usable.append(open.value("usable", -1));
        peak.append(open.value("peakMiB", -1));
    }
    const double p = QmBench::median(parse), u = QmBench::median(usable);
    std::printf("\nOpening %d images (%.0f MiB) in fresh processes, median of %d rounds:\n", imageCount,
                double(QFileInfo(projectPath).size()) / (1024.0 * 1024.0), rounds);
    std::printf("  parse alone %.3f s; in the window: title %.3f s, usable %.3f s (peak %.0f MiB)\n", p,
                QmBench::median(title), u, QmBench::median(peak));
    std::printf("  after the parse / the parse: %.2f\n", (u - p) / p);
}

int runOnce(const char *mode, const QString &path)
{
    if (std::strcmp(mode, "--load") == 0) {
        QElapsedTimer timer;
        timer.start();
        Project p;
        const bool ok = loadProjectFile(p, path);
        std::printf("seconds %.6f\n", timer.nsecsElapsed() / 1e9);
        std::fflush(stdout);
        std::_Exit(ok ? 0 : 1);
    }
    const OpenTimes times = openInWindow(path);
    std::printf("title %.6f\nusable %.6f\npeakMiB %.1f\n", times.title, times.usable, QmBench::peakMemoryMiB());
    std::fflush(stdout);
    std::_Exit(times.usable > 0 ? 0 : 1);
}

} // namespace

BENCHMARK(BM_OpenInWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    if (argc == 3 && (std::strcmp(argv[1], "--open") == 0 || std::strcmp(argv[1], "--load") == 0))
        return runOnce(argv[1], QString::fromLocal8Bit(argv[2]));
    imageCount = QmBench::intArgument(argc, argv, "--images", imageCount);
    rounds = std::max(1, QmBench::intArgument(argc, argv, "--rounds", rounds));
    QTemporaryDir dir;
    projectPath = dir.filePath(QStringLiteral("open.qmk"));
    if (!QmBench::writeLargeProject(imageCount, projectPath))
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareFresh();
    return 0;
}
