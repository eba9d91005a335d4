#pragma once

// Caps the size of any file this process writes, for the life of the object, so
// that a write past the cap fails short as on a full disk. SIGXFSZ is ignored
// meanwhile, so the write fails instead of the process being killed.

#include <sys/resource.h>

#include <csignal>

namespace QmTest {

class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit capped = previous;
        capped.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &capped) == 0;
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeCap()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;

    bool active = false;

private:
    rlimit previous{};
    void (*previousHandler)(int) = SIG_DFL;
};

} // namespace QmTest
