#pragma once

// Helpers of the tests of the YOLO family's further formats and of the CSV
// formats: fixtures, progress records, failing outputs and the Python peers.

#include "FormatTestSupport.h"

#include "formats/ProgressCallback.h"

#include <QProcess>
#include <QTemporaryDir>

#include <functional>

namespace FormatTest {

using ProgressCalls = QList<QPair<int, int>>;

inline ProgressCalls recordProgress(const std::function<void(ProgressCallback)> &run)
{
    ProgressCalls calls;
    run([&calls](int current, int total) { calls.append({current, total}); });
    return calls;
}

// The calls (1, n), (2, n), ... (n, n).
inline ProgressCalls countingTo(int n, int first = 1)
{
    ProgressCalls calls;
    for (int i = first; i <= n; ++i)
        calls.append({i, n});
    return calls;
}

// A detection fixture: a dataset folder laid out as its format documents it.
inline QString detectFixture(const QString &name)
{
    return QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/") + name;
}

inline QStringList classNamesOf(const QList<Annotation> &labels)
{
    QStringList names;
    for (const Annotation &a : labels)
        names.append(a.className);
    return names;
}

inline QString fileNameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

// Runs a checker of tests/formats/readers with Debian's Python; its output
// must start with "ok". Skips when there is no such Python.
inline void runPythonCheck(const QString &script, const QStringList &arguments)
{
    if (!QFileInfo::exists(QStringLiteral(QM_PYTHON)))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QM_PYTHON),
                  QStringList{QStringLiteral(QM_TESTS_DIR "/formats/readers/") + script} + arguments);
    QVERIFY(process.waitForFinished(QmTest::patienceMs));
    const QByteArray output = process.readAll();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, output.constData());
    QVERIFY2(output.startsWith("ok"), output.constData());
}

// Class names that CSV, YAML and plain text lines each need care with.
inline QStringList awkwardClassNames()
{
    return {"1.5",  "a: b",          "cat",  "driver's seat", "no",
            "x #y", "traffic light", "a, b", "say \"hi\"",    QString::fromUtf8("çiçek & <dal>")};
}

} // namespace FormatTest
