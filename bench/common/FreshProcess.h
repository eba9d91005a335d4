#pragma once

// Runs one measurement in a fresh process, so that neither side of a
// comparison profits from a warm process: the child prints "name value"
// lines (such as "seconds 0.25"), which come back as a map. Empty when the
// child fails.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace QmBench {

inline QMap<QByteArray, double> runFresh(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    QMap<QByteArray, double> values;
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return values;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() == 2)
            values.insert(parts[0], parts[1].toDouble());
    }
    return values;
}

// The "seconds" a fresh run reports; -1 when it failed.
inline double freshSeconds(const QString &program, const QStringList &arguments)
{
    return runFresh(program, arguments).value("seconds", -1.0);
}

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1.0 : values.at(values.size() / 2);
}

} // namespace QmBench
