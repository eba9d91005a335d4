#include "model/MappedFile.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Quillmark {

#ifdef Q_OS_UNIX

namespace {

// The mappings a bus error may hit, looked up by the signal handler: plain
// atomics in static storage, as a handler may use nothing else. A range is
// published by its start, written last and cleared first.
struct MappedRange {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> faulted{false};
    std::atomic<bool> taken{false};
};

MappedRange g_ranges[MappedFile::mostMapped];
std::uintptr_t g_pageSize = 4096;
struct sigaction g_previousAction;

// Hands a bus error that is not ours to whoever handled it before us, or
// ends the process as it would have ended without us.
void passOn(int signal, siginfo_t *info, void *context)
{
    if (g_previousAction.sa_flags & SA_SIGINFO) {
        if (g_previousAction.sa_sigaction) {
            g_previousAction.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previousAction.sa_handler != SIG_DFL && g_previousAction.sa_handler != SIG_IGN) {
        g_previousAction.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// A bus error inside one of our mappings is a page past the end of a file
// cut short: the rest of the mapping becomes zeros, which the reader reads on,
// and the mapping is marked as changed.
void onBusError(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (MappedRange &range : g_ranges) {
        const std::uintptr_t begin = range.begin.load(std::memory_order_acquire);
        const std::uintptr_t end = range.end.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= end)
            continue;
        const std::uintptr_t page = address & ~(g_pageSize - 1);
        void *zeros = ::mmap(reinterpret_cast<void *>(page), size_t(end - page), PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED)
            break;
        range.faulted.store(true, std::memory_order_release);
        errno = savedErrno;
        return;
    }
    errno = savedErrno;
    passOn(signal, info, context);
}

void installHandler()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pageSize > 0)
            g_pageSize = std::uintptr_t(pageSize);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousAction);
    });
}

int takeRange(std::uintptr_t begin, std::uintptr_t end)
{
    for (int i = 0; i < MappedFile::mostMapped; ++i) {
        MappedRange &range = g_ranges[i];
        bool free = false;
        if (!range.taken.compare_exchange_strong(free, true))
            continue;
        range.faulted.store(false, std::memory_order_relaxed);
        range.end.store(end, std::memory_order_release);
        range.begin.store(begin, std::memory_order_release);
        return i;
    }
    return -1;
}

void releaseRange(int slot)
{
    MappedRange &range = g_ranges[slot];
    range.begin.store(0, std::memory_order_release);
    range.end.store(0, std::memory_order_release);
    range.taken.store(false, std::memory_order_release);
}

} // namespace

bool MappedFile::stampOf(int fd, Stamp *stamp)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return false;
    stamp->size = qint64(info.st_size);
    stamp->modifiedSeconds = qint64(info.st_mtim.tv_sec);
    stamp->modifiedNanoseconds = qint64(info.st_mtim.tv_nsec);
    stamp->changedSeconds = qint64(info.st_ctim.tv_sec);
    stamp->changedNanoseconds = qint64(info.st_ctim.tv_nsec);
    return true;
}

MappedFile::MappedFile(const QFile &file) : m_fd(file.handle())
{
    if (m_fd < 0 || !stampOf(m_fd, &m_stamp) || m_stamp.size <= 0)
        return;
    installHandler();
    const qint64 length = (m_stamp.size + qint64(g_pageSize) - 1) / qint64(g_pageSize) * qint64(g_pageSize);
    void *mapped = ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED, m_fd, 0);
    if (mapped == MAP_FAILED)
        return;
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
    m_slot = takeRange(begin, begin + std::uintptr_t(length));
    if (m_slot < 0) {
        ::munmap(mapped, size_t(length));
        return;
    }
    m_data = static_cast<const char *>(mapped);
    m_size = m_stamp.size;
    m_mappedLength = length;
}

MappedFile::~MappedFile()
{
    if (!m_data)
        return;
    releaseRange(m_slot);
    ::munmap(const_cast<char *>(m_data), size_t(m_mappedLength));
}

bool MappedFile::changed() const
{
    if (!m_data)
        return false;
    if (g_ranges[m_slot].faulted.load(std::memory_order_acquire))
        return true;
    Stamp now;
    return !stampOf(m_fd, &now) || !(now == m_stamp);
}

#else

// Without the means to survive a file cut short under a mapping, files are
// read instead.
MappedFile::MappedFile(const QFile &) {}
MappedFile::~MappedFile() = default;
bool MappedFile::changed() const { return false; }
bool MappedFile::stampOf(int, Stamp *) { return false; }

#endif

} // namespace Quillmark
