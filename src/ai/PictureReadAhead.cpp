#include "ai/PictureReadAhead.h"

#include <chrono>

namespace Quillmark {

namespace {

// How often a waiting thread looks at the stop flag, which is set without a
// notification.
constexpr std::chrono::milliseconds stopPoll(20);

} // namespace

PictureReadAhead::PictureReadAhead(qsizetype pictureCount, Read reader_, const std::atomic<bool> &stopFlag,
                                   size_t maxReady)
    : count(pictureCount), read(std::move(reader_)), stop(stopFlag), depth(maxReady > 0 ? maxReady : 1)
{
    reader = std::thread([this] { readAll(); });
}

PictureReadAhead::~PictureReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    changed.notify_all();
    reader.join();
}

void PictureReadAhead::readAll()
{
    for (qsizetype i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (ready.size() >= depth && !stopping())
                changed.wait_for(lock, stopPoll);
            if (stopping())
                return;
        }
        QImage picture = read(i);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ready.push_back(std::move(picture));
        }
        changed.notify_all();
    }
}

bool PictureReadAhead::next(QImage &picture)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (handedOut >= count)
        return false;
    while (ready.empty() && !stopping())
        changed.wait_for(lock, stopPoll);
    if (stopping())
        return false;
    picture = std::move(ready.front());
    ready.pop_front();
    ++handedOut;
    lock.unlock();
    changed.notify_all();
    return true;
}

} // namespace Quillmark
