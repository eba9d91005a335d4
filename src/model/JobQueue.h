#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Quillmark {

// Runs jobs on a fixed set of threads of its own. A job learns the number of
// the thread it runs on (0 to threads - 1), so that each thread can keep a
// worker of its own. At most `waiting` jobs wait at a time: submit() blocks
// beyond that, which bounds the memory of what the jobs carry. Jobs may run
// in any order; finish() returns when all have run, and the destructor waits
// for them too.
class JobQueue {
public:
    using Job = std::function<void(int thread)>;

    JobQueue(int threads, int waiting);
    ~JobQueue();
    JobQueue(const JobQueue &) = delete;
    JobQueue &operator=(const JobQueue &) = delete;

    void submit(Job job);
    void finish();
    // finish(), for at most `ms` milliseconds: true when every job has run.
    bool finishWithin(int ms);

private:
    void run(int thread);

    const size_t mostWaiting;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> jobs;
    int running = 0;
    bool closing = false;
    std::vector<std::thread> threads;
};

} // namespace Quillmark
