#pragma once

// Shared test entry point: every test runs headless (offscreen platform unless the
// caller chose one) with QStandardPaths in test mode, so settings written by the
// code under test never touch the user's own.

#include <QFile>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace QmTest {

// Writes a configuration of the offscreen platform with one screen of the
// given size into `folder`; returns the platform's name with it, or
// "offscreen" when it cannot be written.
inline QByteArray offscreenWithScreen(const QString &folder, int width, int height)
{
    const QString path = folder + QStringLiteral("/offscreen-%1x%2.json").arg(width).arg(height);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return "offscreen";
    file.write(QStringLiteral(R"({"screens":[{"name":"Screen","x":0,"y":0,"width":%1,"height":%2,)"
                              R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
    return "offscreen:configfile=" + QFile::encodeName(path);
}

// `screenSize` is the size of the offscreen platform's screen; the plain
// platform's own is 800 x 600, smaller than the desktops the program is for.
inline void prepareEnvironment(QSize screenSize = QSize(1920, 1080))
{
    static QTemporaryDir home;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform == "offscreen") && home.isValid())
        qputenv("QT_QPA_PLATFORM", offscreenWithScreen(home.path(), screenSize.width(), screenSize.height()));
    else if (platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Test mode alone puts the settings of every test program in one folder under
    // the home folder, where programs running side by side (ctest -j) would read
    // and clear each other's keys. Each test process gets a home folder of its
    // own, removed when the process ends.
    if (home.isValid()) {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
        // A machine that points the per-user folders elsewhere would otherwise
        // collect the caches and data the code under test writes.
        for (const char *name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
            qunsetenv(name);
    }
    QStandardPaths::setTestModeEnabled(true);
}

// How long a test waits for real work that must end: a model loaded or run,
// a picture or video decoded, a file imported or exported, another process or
// a worker thread done. Every such wait in the tests uses it. The wait ends as
// soon as the work does, so a long one costs a passing test nothing; it must
// hold on a slow two-core machine running tests side by side under other
// load, where the longest of these (a few seconds here) can take ten times as
// long and more, so that such a machine is never mistaken for a fault.
inline constexpr int patienceMs = 120000;

} // namespace QmTest

// Qt's QTRY_* macros give up after 5 s; here they wait the patience above.
#undef QTRY_VERIFY
#undef QTRY_VERIFY2
#undef QTRY_COMPARE
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, QmTest::patienceMs)
#define QTRY_VERIFY2(expr, messageExpression) QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, QmTest::patienceMs)
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, QmTest::patienceMs)

#define QM_TEST_MAIN(TestObject) \
    QTEST_MAIN_WRAPPER(TestObject, QmTest::prepareEnvironment(); QTEST_MAIN_SETUP())
