#pragma once

// Shared test entry point: every test runs headless (offscreen platform unless the
// caller chose one) with QStandardPaths in test mode, so settings written by the
// code under test never touch the user's own.

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace QmTest {

inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Test-mode settings live under the home folder; tests run in parallel, so
    // each test program gets a home folder of its own for the length of its run.
    static QTemporaryDir home;
    if (home.isValid()) {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    }
    QStandardPaths::setTestModeEnabled(true);
}

} // namespace QmTest

#define QM_TEST_MAIN(TestObject) \
    QTEST_MAIN_WRAPPER(TestObject, QmTest::prepareEnvironment(); QTEST_MAIN_SETUP())
