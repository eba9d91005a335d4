#include "ai/PictureReadAhead.h"

#include "model/LeftBehindThreads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace Quillmark {

namespace {

// How often a waiting thread looks at the stop flag, which is set without a
// notification.
constexpr std::chrono::milliseconds stopPoll(20);

} // namespace

// What the reader thread and the owner share. The reader holds it too, so it
// outlives the owner when the reader is left inside a read.
struct PictureReadAhead::Queue {
    Queue(qsizetype count, Read read, size_t depth) : count(count), read(std::move(read)), depth(depth) {}

    // Under `mutex` only. `quit` is looked at first: once the owner has set
    // it, the owner's stop flag may be gone.
    bool stopping(const std::atomic<bool> *stop) const { return quit || (stop && stop->load()); }

    const qsizetype count;
    const Read read;
    const size_t depth;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QImage> ready;
    qsizetype handedOut = 0;
    bool quit = false;
    bool finished = false; // the reader has left its loop
};

PictureReadAhead::PictureReadAhead(qsizetype pictureCount, Read read, const std::atomic<bool> &stopFlag,
                                   size_t maxReady)
    : queue(std::make_shared<Queue>(pictureCount, std::move(read), maxReady > 0 ? maxReady : 1)), stop(stopFlag)
{
    reader = std::thread([shared = queue, stopAt = &stopFlag] {
        Queue &q = *shared;
        for (qsizetype i = 0; i < q.count; ++i) {
            {
                std::unique_lock<std::mutex> lock(q.mutex);
                while (q.ready.size() >= q.depth && !q.stopping(stopAt))
                    q.changed.wait_for(lock, stopPoll);
                if (q.stopping(stopAt))
                    break;
            }
            QImage picture = q.read(i);
            {
                const std::lock_guard<std::mutex> lock(q.mutex);
                if (q.quit)
                    break;
                q.ready.push_back(std::move(picture));
            }
            q.changed.notify_all();
        }
        {
            const std::lock_guard<std::mutex> lock(q.mutex);
            q.finished = true;
        }
        q.changed.notify_all();
    });
}

PictureReadAhead::~PictureReadAhead()
{
    std::unique_lock<std::mutex> lock(queue->mutex);
    queue->quit = true;
    queue->ready.clear();
    queue->changed.notify_all();
    LeftBehindThreads::joinOrLeave(reader, lock, queue->changed, std::chrono::milliseconds(readerGraceMs),
                                   [this] { return queue->finished; });
}

bool PictureReadAhead::next(QImage &picture)
{
    std::unique_lock<std::mutex> lock(queue->mutex);
    if (queue->handedOut >= queue->count)
        return false;
    while (queue->ready.empty() && !queue->stopping(&stop))
        queue->changed.wait_for(lock, stopPoll);
    if (queue->stopping(&stop))
        return false;
    picture = std::move(queue->ready.front());
    queue->ready.pop_front();
    ++queue->handedOut;
    lock.unlock();
    queue->changed.notify_all();
    return true;
}

} // namespace Quillmark
