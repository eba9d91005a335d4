#include "model/JobQueue.h"

#include <algorithm>

namespace Quillmark {

JobQueue::JobQueue(int threadCount, int waiting) : mostWaiting(size_t(std::max(1, waiting)))
{
    threadCount = std::max(1, threadCount);
    threads.reserve(size_t(threadCount));
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([this, i] { run(i); });
}

JobQueue::~JobQueue()
{
    {
        std::lock_guard lock(mutex);
        closing = true;
    }
    changed.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

void JobQueue::submit(Job job)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return jobs.size() < mostWaiting; });
    jobs.push_back(std::move(job));
    lock.unlock();
    changed.notify_all();
}

void JobQueue::finish()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return jobs.empty() && running == 0; });
}

bool JobQueue::finishWithin(int ms)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return jobs.empty() && running == 0; });
}

void JobQueue::run(int thread)
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return closing || !jobs.empty(); });
        if (jobs.empty())
            return; // closing, with nothing left to run
        Job job = std::move(jobs.front());
        jobs.pop_front();
        ++running;
        lock.unlock();
        changed.notify_all(); // room for another job
        job(thread);
        lock.lock();
        --running;
        if (jobs.empty() && running == 0)
            changed.notify_all();
    }
}

} // namespace Quillmark
