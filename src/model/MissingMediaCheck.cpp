#include "model/MissingMediaCheck.h"

#include "model/Dataset.h"
#include "model/LeftBehindThreads.h"

#include <QElapsedTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Quillmark {

namespace {

// A batch goes out after this many missing entries or this long, whichever
// comes first: a list marks them as they come without a signal per file.
constexpr int batchEntries = 256;
constexpr qint64 batchMilliseconds = 100;
// How long the check's end waits for its worker to see that it was cancelled.
constexpr auto workerGrace = std::chrono::milliseconds(250);

} // namespace

struct MissingMediaCheck::Shared {
    std::vector<Item> items;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable ended;
    // Guarded by `mutex`: the check the signals come from, null once it goes.
    MissingMediaCheck *check = nullptr;
    bool finished = false;
};

std::atomic<void (*)()> MissingMediaCheck::beforeFinished{nullptr};

void MissingMediaCheck::setBeforeFinishedHook(void (*hook)())
{
    beforeFinished = hook;
}

MissingMediaCheck::MissingMediaCheck(const Dataset &dataset, QObject *parent)
    : QObject(parent), shared(std::make_shared<Shared>())
{
    qRegisterMetaType<Quillmark::MissingMedia>();
    shared->check = this;
    std::vector<Item> &items = shared->items;
    items.reserve(size_t(dataset.images.size() + dataset.videos.size()));
    for (const ImageEntry &image : dataset.images) {
        if (!image.hasInMemoryImage())
            items.push_back(Item{image.id, false, image.filePath});
    }
    for (const VideoEntry &video : dataset.videos) {
        if (video.bytes.isEmpty())
            items.push_back(Item{video.id, true, video.filePath});
    }
}

MissingMediaCheck::~MissingMediaCheck()
{
    cancel();
    std::unique_lock lock(shared->mutex);
    shared->check = nullptr;
    if (!worker.joinable())
        return;
    LeftBehindThreads::joinOrLeave(worker, lock, shared->ended, workerGrace, [this] { return shared->finished; });
}

void MissingMediaCheck::start()
{
    if (worker.joinable())
        return;
    worker = std::thread([s = shared] {
        run(s);
        const std::lock_guard lock(s->mutex);
        s->finished = true;
        s->ended.notify_all();
    });
}

void MissingMediaCheck::cancel()
{
    shared->cancelled = true;
}

void MissingMediaCheck::flush(Shared &shared, QList<int> &imageIds, QList<int> &videoIds)
{
    if (imageIds.isEmpty() && videoIds.isEmpty())
        return;
    {
        const std::lock_guard lock(shared.mutex);
        if (shared.check)
            emit shared.check->missingFound(imageIds, videoIds);
    }
    imageIds.clear();
    videoIds.clear();
}

void MissingMediaCheck::run(const std::shared_ptr<Shared> &shared)
{
    const std::atomic<bool> &cancelled = shared->cancelled;
    MissingMedia missing;
    QList<int> imageIds;
    QList<int> videoIds;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    for (const Item &item : shared->items) {
        if (cancelled)
            return;
        if (!mediaFileIsThere(item.path)) {
            missing.note(item.path);
            (item.video ? videoIds : imageIds).append(item.id);
        }
        if (imageIds.size() + videoIds.size() >= batchEntries || sinceBatch.elapsed() >= batchMilliseconds) {
            flush(*shared, imageIds, videoIds);
            sinceBatch.restart();
        }
    }
    flush(*shared, imageIds, videoIds);
    missing.close();
    if (cancelled)
        return;
    if (void (*hook)() = beforeFinished)
        hook();
    const std::lock_guard lock(shared->mutex);
    if (shared->check)
        emit shared->check->finished(missing);
}

} // namespace Quillmark
