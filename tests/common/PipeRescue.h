#pragma once

// A watchdog for a test that hands a named pipe to code that must not wait
// on it: once `patienceMs` pass before done(), it opens the pipe for writing
// and closes it again, so that a reader stuck on the pipe reads its end and
// the test goes on to fail, rather than hang. Whether it had to is the
// verdict: rescued.

#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace QmTest {

class PipeRescue {
public:
    PipeRescue(const QString &pipe, int patienceMs)
        : thread([this, path = QFile::encodeName(pipe), patienceMs] {
              std::unique_lock<std::mutex> lock(mutex);
              if (changed.wait_for(lock, std::chrono::milliseconds(patienceMs), [this] { return finished; }))
                  return;
              const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
              if (fd >= 0) {
                  rescued = true;
                  ::close(fd);
              }
          })
    {
    }
    ~PipeRescue() { done(); }

    void done()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        changed.notify_all();
        if (thread.joinable())
            thread.join();
    }

    std::atomic<bool> rescued{false};

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    std::thread thread;
};

} // namespace QmTest
