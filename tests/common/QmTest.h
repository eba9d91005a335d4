#pragma once

// Shared test entry point: every test runs headless (offscreen platform unless the
// caller chose one) with QStandardPaths in test mode, so settings written by the
// code under test never touch the user's own.

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace QmTest {

// Test mode alone puts the settings of every test program in one shared folder,
// where programs running side by side (ctest -j) would read and clear each
// other's keys in the stores they have in common. Each test process keeps its
// settings in a folder of its own, removed when the process ends.
inline void isolateSettings()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/quillmark-test-settings-XXXXXX"));
    if (!folder.isValid())
        return;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

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
    isolateSettings();
}

} // namespace QmTest

#define QM_TEST_MAIN(TestObject) \
    QTEST_MAIN_WRAPPER(TestObject, QmTest::prepareEnvironment(); QTEST_MAIN_SETUP())
