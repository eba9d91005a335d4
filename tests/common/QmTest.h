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
    // Test mode alone puts the settings of every test program in one folder under
    // the home folder, where programs running side by side (ctest -j) would read
    // and clear each other's keys. Each test process gets a home folder of its
    // own, removed when the process ends.
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
