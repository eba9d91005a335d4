#pragma once

// Shared test entry point: every test runs headless (offscreen platform unless the
// caller chose one) with QStandardPaths in test mode, so settings written by the
// code under test never touch the user's own.

#include <QStandardPaths>
#include <QtTest>

namespace QmTest {

inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
}

} // namespace QmTest

#define QM_TEST_MAIN(TestObject) \
    QTEST_MAIN_WRAPPER(TestObject, QmTest::prepareEnvironment(); QTEST_MAIN_SETUP())
