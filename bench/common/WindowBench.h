#pragma once

// What every benchmark program that builds widgets needs before its
// application object: an offscreen platform unless one was chosen, the heap
// set up as the program itself sets it, and settings kept apart from the
// user's. And the usual run of the registered benchmarks.
#include "model/HeapSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <QtGlobal>

#include <benchmark/benchmark.h>

namespace QmBench {

inline void prepareWindowEnvironment()
{
    Quillmark::configureHeap();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
}

// Runs the event loop until `done()` holds, sleeping between events; false
// when `timeoutMs` passed first. QCoreApplication::processEvents(flags, ms)
// never waits for events, so a loop on it would keep a core busy that the
// program under test could use.
template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake; // a bound on every wait, so that the deadline is noticed
    wake.start(20);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void runRegisteredBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

} // namespace QmBench
