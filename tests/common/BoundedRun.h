#pragma once

// Runs one piece of work in a child process under a watchdog, so that a reader
// that hangs, runs away with memory or reads a file to its end fails the test
// instead of hanging CI or taking the machine down:
//   - time: the child is killed when it has not finished by the bound;
//   - memory: its peak resident growth must stay within the bound, and a
//     runaway is stopped by a cap on its address space (under
//     AddressSanitizer, whose shadow memory defeats such a cap, the test sets
//     ASAN_OPTIONS max_allocation_size_mb instead);
//   - reading: the bytes the child read through the kernel are measured.
// The work returns an empty string when all went as it should, else a
// message. It runs in a copy of this process: it may use anything set up
// before, and nothing it changes is seen afterwards.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <algorithm>
#include <functional>
#include <new>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace QmTest {

struct Bounds {
    int milliseconds = 10000;
    qint64 memoryBytes = 256LL * 1024 * 1024;
};

struct BoundedResult {
    bool finished = false;      // the work returned within its bounds
    QString message;            // the work's own message, or what went wrong
    qint64 peakGrowthBytes = 0; // resident memory at the peak, above the start
    qint64 bytesRead = 0;       // read through read(2) and friends
    qint64 elapsedMs = 0;

    bool ok() const { return finished && message.isEmpty(); }
    QString describe() const
    {
        return QStringLiteral("%1 (%2 ms, +%3 MiB resident, %4 KiB read)")
            .arg(message.isEmpty() ? QStringLiteral("ok") : message)
            .arg(elapsedMs)
            .arg(peakGrowthBytes / (1024 * 1024))
            .arg(bytesRead / 1024);
    }
};

namespace BoundedRunDetail {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool underAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool underAddressSanitizer = true;
#else
inline constexpr bool underAddressSanitizer = false;
#endif
#else
inline constexpr bool underAddressSanitizer = false;
#endif

// A field of /proc/self/status ("VmRSS", "VmHWM", "VmSize") in bytes.
inline qint64 statusBytes(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key) && line.size() > qsizetype(qstrlen(key)) && line.at(qstrlen(key)) == ':')
            return line.mid(qstrlen(key) + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// "rchar" of /proc/self/io: bytes read by this process.
inline qint64 bytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return 0;
}

inline void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

[[noreturn]] inline void runChild(int fd, const Bounds &bounds, const std::function<QString()> &work)
{
    // The peak resident size starts again from here.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const qint64 residentAtStart = statusBytes("VmRSS");
    const qint64 readAtStart = bytesReadSoFar();
    if (!underAddressSanitizer) {
        // Address space is more than memory (libraries and plugins loaded on
        // first use map hundreds of MiB): the cap only stops a runaway, the
        // resident peak is what the bound is checked against.
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = rlim_t(statusBytes("VmSize") + std::max<qint64>(4 * bounds.memoryBytes, 1LL << 30));
        setrlimit(RLIMIT_AS, &limit);
    }
    QString message;
    try {
        message = work();
    } catch (const std::bad_alloc &) {
        message = QStringLiteral("ran out of its memory bound");
    }
    // AddressSanitizer's red zones and its quarantine of freed blocks make
    // the same work take about twice the memory.
    const qint64 growth = (statusBytes("VmHWM") - residentAtStart) / (underAddressSanitizer ? 2 : 1);
    const qint64 read = bytesReadSoFar() - readAtStart;
    writeAll(fd, QByteArray::number(growth) + '\n' + QByteArray::number(read) + '\n' + message.toUtf8());
    ::close(fd);
    ::_exit(0);
}

} // namespace BoundedRunDetail

inline BoundedResult runBounded(const Bounds &bounds, const std::function<QString()> &work)
{
    BoundedResult result;
    int fds[2];
    if (::pipe(fds) != 0) {
        result.message = QStringLiteral("no pipe");
        return result;
    }
    fflush(stdout);
    fflush(stderr);
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        BoundedRunDetail::runChild(fds[1], bounds, work);
    }
    ::close(fds[1]);
    if (child < 0) {
        ::close(fds[0]);
        result.message = QStringLiteral("no child process");
        return result;
    }
    QByteArray report;
    bool timedOut = false;
    while (true) {
        const qint64 left = bounds.milliseconds - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd poller{fds[0], POLLIN, 0};
        if (::poll(&poller, 1, int(left)) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        report.append(buffer, qsizetype(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.elapsedMs = clock.elapsed();
    if (timedOut) {
        result.message = QStringLiteral("did not finish within %1 ms").arg(bounds.milliseconds);
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.message = WIFSIGNALED(status) ? QStringLiteral("ended by signal %1 (memory bound: %2 MiB)")
                                                   .arg(WTERMSIG(status))
                                                   .arg(bounds.memoryBytes / (1024 * 1024))
                                             : QStringLiteral("exited with %1").arg(WEXITSTATUS(status));
        return result;
    }
    const QList<QByteArray> parts = report.split('\n');
    if (parts.size() < 3) {
        result.message = QStringLiteral("gave no report");
        return result;
    }
    result.finished = true;
    result.peakGrowthBytes = parts.at(0).toLongLong();
    result.bytesRead = parts.at(1).toLongLong();
    result.message = QString::fromUtf8(report.mid(parts.at(0).size() + parts.at(1).size() + 2));
    if (result.message.isEmpty() && result.peakGrowthBytes > bounds.memoryBytes)
        result.message = QStringLiteral("grew past its memory bound");
    return result;
}

} // namespace QmTest
