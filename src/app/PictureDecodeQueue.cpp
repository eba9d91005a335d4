#include "app/PictureDecodeQueue.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace Quillmark {

namespace {

// How long closing the window waits for a decode under way.
constexpr int closingWaitMs = 2000;

} // namespace

PictureDecodeQueue::PictureDecodeQueue(QObject *parent, int places, int stalledAfter)
    : QObject(parent)
    , places(std::max(1, places))
    , stalledAfter(stalledAfter)
    , stallTimer(new QTimer(this))
{
    stallTimer->setSingleShot(true);
    connect(stallTimer, &QTimer::timeout, this, &PictureDecodeQueue::startWaiting);
}

PictureDecodeQueue::~PictureDecodeQueue()
{
    const QDeadlineTimer deadline(closingWaitMs);
    for (const Job &job : std::as_const(jobs)) {
        job.thread->disconnect(this);
        if (job.thread->wait(deadline)) {
            delete job.thread;
            continue;
        }
        // Still reading: the thread goes when it ends (a running thread must
        // not be destroyed).
        connect(job.thread, &QThread::finished, job.thread, &QObject::deleteLater);
    }
}

void PictureDecodeQueue::request(const ImageEntry &entry, quint64 tag, Done done)
{
    const bool underWay = std::any_of(jobs.cbegin(), jobs.cend(), [&](const Job &job) {
        return job.tag == tag && job.id == entry.id && job.filePath == entry.filePath;
    });
    if (underWay) {
        // The selection waiting before this one is passed over.
        waiting.reset();
        return;
    }
    waiting = Request{entry, tag, std::move(done)};
    startWaiting();
}

int PictureDecodeQueue::placesTaken() const
{
    return int(std::count_if(jobs.cbegin(), jobs.cend(),
                             [this](const Job &job) { return !job.started.hasExpired(stalledAfter); }));
}

void PictureDecodeQueue::startWaiting()
{
    if (!waiting)
        return;
    if (placesTaken() >= places) {
        // A place frees when a decode ends, or when the oldest has run so long
        // that it counts as stalled.
        qint64 soonest = stalledAfter;
        for (const Job &job : std::as_const(jobs))
            soonest = std::min(soonest, std::max<qint64>(0, stalledAfter - job.started.elapsed()));
        stallTimer->start(int(soonest) + 1);
        return;
    }
    Request next = std::move(*waiting);
    waiting.reset();

    auto result = std::make_shared<Result>();
    const ImageEntry entry = next.entry;
    QThread *thread = QThread::create([result, entry] { result->pixels = entry.loadPixels(&result->problem); });
    Job job;
    job.thread = thread;
    job.tag = next.tag;
    job.id = entry.id;
    job.filePath = entry.filePath;
    job.started.start();
    jobs.append(job);
    connect(thread, &QThread::finished, this,
            [this, thread, result, done = std::move(next.done)] { finished(thread, *result, done); });
    thread->start(QThread::InheritPriority);
}

void PictureDecodeQueue::finished(QThread *thread, const Result &result, const Done &done)
{
    jobs.removeIf([thread](const Job &job) { return job.thread == thread; });
    thread->deleteLater();
    // The waiting selection starts before this result is shown: its decode
    // overlaps the painting of this one.
    startWaiting();
    if (done)
        done(result);
}

} // namespace Quillmark
