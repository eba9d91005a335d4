#pragma once

// What every benchmark program that builds widgets needs before its
// application object: an offscreen platform unless one was chosen, the media
// back-end the program itself runs on, and settings kept apart from the
// user's. And the usual run of the registered benchmarks.
#include <QStandardPaths>
#include <QtGlobal>

#include <benchmark/benchmark.h>

namespace QmBench {

inline void prepareWindowEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
}

inline void runRegisteredBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

} // namespace QmBench
