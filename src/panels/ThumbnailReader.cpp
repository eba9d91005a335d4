#include "panels/ThumbnailReader.h"

#include "model/LeftBehindThreads.h"
#include "model/PictureLoader.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace Quillmark {

namespace {

using Clock = std::chrono::steady_clock;

// How long the reader's end waits for reads under way.
constexpr auto closingWait = std::chrono::milliseconds(200);

} // namespace

const QString ThumbnailReader::threadName = QStringLiteral("Thumbnails");

struct ThumbnailReader::Worker {
    bool busy = false;
    Clock::time_point since;
    bool ended = false;
};

struct ThumbnailReader::Shared {
    struct Task {
        quint64 generation = 0;
        int key = -1;
        Source source;
    };

    explicit Shared(int stalledAfter) : stalledAfter(stalledAfter) {}

    bool stalled(const Worker &worker, Clock::time_point now) const
    {
        return worker.busy && now - worker.since >= stalledAfter;
    }
    // Reads under way that still hold their place.
    int placesTaken(Clock::time_point now) const
    {
        return int(std::count_if(workers.cbegin(), workers.cend(), [&](const std::shared_ptr<Worker> &worker) {
            return worker->busy && !stalled(*worker, now);
        }));
    }

    const std::chrono::milliseconds stalledAfter;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Task> pending;
    quint64 generation = 0;
    ThumbnailReader *receiver = nullptr;
    bool closing = false;
    std::vector<std::shared_ptr<Worker>> workers;
};

void ThumbnailReader::work(const std::shared_ptr<Shared> &shared, const std::shared_ptr<Worker> &me, QSize bound)
{
    QThread::currentThread()->setObjectName(ThumbnailReader::threadName);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] {
            return shared->closing
                || (!shared->pending.empty() && shared->placesTaken(Clock::now()) < ThumbnailReader::places);
        });
        if (shared->closing)
            break;
        Shared::Task task = std::move(shared->pending.front());
        shared->pending.pop_front();
        me->busy = true;
        me->since = Clock::now();
        lock.unlock();

        const QImage thumbnail = ThumbnailReader::read(task.source, bound);
        task.source = {};

        lock.lock();
        me->busy = false;
        // Posted while the lock is held: the reader, which clears the receiver
        // under the same lock when it goes, is still there; an answer it has not
        // taken by then goes with it.
        if (ThumbnailReader *reader = shared->receiver) {
            QMetaObject::invokeMethod(
                reader,
                [reader, generation = task.generation, key = task.key, thumbnail] {
                    reader->answered(generation, key, thumbnail);
                },
                Qt::QueuedConnection);
        }
        shared->changed.notify_all();
    }
    me->ended = true;
    shared->changed.notify_all();
}

ThumbnailReader::ThumbnailReader(const QSize &bound, QObject *parent, int stalledAfter)
    : QObject(parent)
    , bound(bound)
    , shared(std::make_shared<Shared>(stalledAfter))
    , stallTimer(new QTimer(this))
{
    shared->receiver = this;
    stallTimer->setSingleShot(true);
    connect(stallTimer, &QTimer::timeout, this, &ThumbnailReader::arrange);
}

ThumbnailReader::~ThumbnailReader()
{
    std::unique_lock lock(shared->mutex);
    shared->receiver = nullptr;
    shared->closing = true;
    shared->pending.clear();
    shared->changed.notify_all();
    // One wait for them all, however many there are.
    const Clock::time_point deadline = Clock::now() + closingWait;
    for (size_t i = 0; i < threads.size(); ++i) {
        if (!lock.owns_lock())
            lock.lock();
        const std::shared_ptr<Worker> worker = shared->workers[i];
        const Clock::duration grace = std::max(deadline - Clock::now(), Clock::duration::zero());
        LeftBehindThreads::joinOrLeave(threads[i], lock, shared->changed, grace, [&worker] { return worker->ended; });
    }
}

QImage ThumbnailReader::read(const Source &source, const QSize &bound)
{
    QImage image;
    if (!source.image.isNull())
        image = source.image;
    else if (!source.encoded.isEmpty())
        image = PictureLoader::readFitting(source.encoded, bound);
    else if (source.stored)
        image = PictureLoader::readFitting(source.stored->read(), bound);
    else
        // Upright and decoded small where the format can; only regular files
        // are opened, since a pipe or a device would never answer.
        image = PictureLoader::readFitting(source.path, bound);
    if (image.width() > bound.width() || image.height() > bound.height())
        image = image.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void ThumbnailReader::request(int key, const Source &source)
{
    {
        std::lock_guard lock(shared->mutex);
        shared->pending.push_back({shared->generation, key, source});
    }
    ++unanswered;
    arrange();
}

void ThumbnailReader::clear()
{
    {
        std::lock_guard lock(shared->mutex);
        shared->pending.clear();
        ++shared->generation;
    }
    unanswered = 0;
    stallTimer->stop();
}

void ThumbnailReader::answered(quint64 generation, int key, const QImage &thumbnail)
{
    bool current = false;
    {
        std::lock_guard lock(shared->mutex);
        current = generation == shared->generation;
    }
    arrange();
    if (!current)
        return;
    --unanswered;
    emit thumbnailRead(key, thumbnail);
}

void ThumbnailReader::arrange()
{
    std::lock_guard lock(shared->mutex);
    if (shared->pending.empty()) {
        stallTimer->stop();
        return;
    }
    const Clock::time_point now = Clock::now();
    // Enough threads that are not stuck in a read to fill every place; a
    // thread stuck for good is left to itself.
    int free = int(std::count_if(shared->workers.cbegin(), shared->workers.cend(),
                                 [&](const std::shared_ptr<Worker> &worker) { return !shared->stalled(*worker, now); }));
    while (free < places && int(threads.size()) < mostThreads) {
        auto worker = std::make_shared<Worker>();
        shared->workers.push_back(worker);
        threads.emplace_back(work, shared, worker, bound);
        ++free;
    }
    shared->changed.notify_all();

    // While requests wait, look again when the oldest read under way counts as
    // stalled (the threads may yet take every place).
    Clock::duration soonest = shared->stalledAfter;
    for (const std::shared_ptr<Worker> &worker : shared->workers) {
        if (worker->busy && !shared->stalled(*worker, now))
            soonest = std::min(soonest, shared->stalledAfter - (now - worker->since));
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(soonest).count();
    stallTimer->start(int(ms) + 1);
}

} // namespace Quillmark
