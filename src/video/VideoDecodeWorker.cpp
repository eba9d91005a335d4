#include "video/VideoDecodeWorker.h"

#include "model/LeftBehindThreads.h"
#include "video/VideoDecoder.h"
#include "video/VideoSource.h"

#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Quillmark {

namespace {

// How long an open waits for the file shown before to be let go of, and the
// worker's end for the thread: a decode stops at its next packet, far sooner.
constexpr auto releaseGrace = std::chrono::seconds(2);
constexpr auto endGrace = std::chrono::milliseconds(500);

std::atomic<void (*)()> beforeDecode{nullptr};

struct FrameRequest {
    quint64 openSerial = 0;
    quint64 serial = 0;
    int frame = -1;
};

} // namespace

struct VideoDecodeWorker::Mailbox {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable released;
    std::condition_variable ended;
    std::atomic<bool> cancel{false};
    // Guarded by `mutex`.
    VideoDecoder *owner = nullptr; // null once the worker goes
    bool stopping = false;
    bool finished = false;
    bool sourceChange = false;
    quint64 pendingOpenSerial = 0;
    QString pendingPath;
    bool framePending = false;
    FrameRequest pendingFrame;
    // Only the worker thread touches these.
    std::unique_ptr<VideoSource> source;
    quint64 sourceSerial = 0;

    // Hands `answer` to the decoder on its thread, unless the decoder is gone
    // or the answer was superseded.
    template <typename Answer>
    void post(Answer answer)
    {
        const std::lock_guard lock(mutex);
        if (!owner || cancel)
            return;
        VideoDecoder *target = owner;
        QMetaObject::invokeMethod(
            owner, [target, answer = std::move(answer)] { answer(target); }, Qt::QueuedConnection);
    }
    void openSource(quint64 openSerial, const QString &path);
    void decodeFrame(const FrameRequest &request);
};

void VideoDecodeWorker::setBeforeDecodeHook(void (*hook)())
{
    beforeDecode = hook;
}

VideoDecodeWorker::VideoDecodeWorker(VideoDecoder *owner) : box(std::make_shared<Mailbox>())
{
    box->owner = owner;
    thread = std::thread([b = box] {
        run(b);
        const std::lock_guard lock(b->mutex);
        b->finished = true;
        b->ended.notify_all();
    });
}

VideoDecodeWorker::~VideoDecodeWorker()
{
    std::unique_lock lock(box->mutex);
    box->stopping = true;
    box->cancel = true;
    box->owner = nullptr;
    box->wake.notify_one();
    LeftBehindThreads::joinOrLeave(thread, lock, box->ended, endGrace, [this] { return box->finished; });
}

void VideoDecodeWorker::requestOpen(quint64 openSerial, const QString &path)
{
    std::unique_lock lock(box->mutex);
    box->sourceChange = true;
    box->pendingOpenSerial = openSerial;
    box->pendingPath = path;
    box->framePending = false;
    box->cancel = true;
    box->wake.notify_one();
    // The file shown before is let go of before this returns, so that a caller
    // may remove it at once. The work under way stops at its next packet.
    Mailbox &b = *box;
    b.released.wait_for(lock, releaseGrace, [&b] { return !b.sourceChange || b.stopping; });
}

void VideoDecodeWorker::requestClose()
{
    requestOpen(0, QString());
}

void VideoDecodeWorker::requestFrame(quint64 openSerial, quint64 requestSerial, int frame)
{
    {
        const std::lock_guard lock(box->mutex);
        box->framePending = true;
        box->pendingFrame = {openSerial, requestSerial, frame};
    }
    box->wake.notify_one();
}

void VideoDecodeWorker::run(const std::shared_ptr<Mailbox> &box)
{
    Mailbox &b = *box;
    for (;;) {
        std::unique_lock lock(b.mutex);
        b.wake.wait(lock, [&b] { return b.stopping || b.sourceChange || b.framePending; });
        if (b.stopping)
            break;
        if (b.sourceChange) {
            lock.unlock();
            b.source.reset();
            lock.lock();
            b.sourceChange = false;
            b.cancel = false;
            const quint64 serial = b.pendingOpenSerial;
            const QString path = b.pendingPath;
            b.released.notify_all();
            lock.unlock();
            b.openSource(serial, path);
            continue;
        }
        b.framePending = false;
        const FrameRequest request = b.pendingFrame;
        lock.unlock();
        b.decodeFrame(request);
    }
    b.source.reset();
}

void VideoDecodeWorker::Mailbox::openSource(quint64 openSerial, const QString &path)
{
    source.reset();
    sourceSerial = openSerial;
    if (path.isEmpty())
        return; // a close
    source = std::make_unique<VideoSource>();
    source->setCancelFlag(&cancel);
    VideoDecoder::OpenResult result;
    QImage first;
    result.ok = source->open(path);
    result.error = source->error();
    if (result.ok) {
        first = source->picture(0);
        if (first.isNull()) {
            result.ok = false;
            result.error = QStringLiteral("No video frame could be decoded");
        }
    }
    if (result.ok) {
        result.frames = source->frameCount();
        result.width = source->width();
        result.height = source->height();
        result.fps = source->fps();
    } else {
        source.reset();
    }
    // A superseded answer is not sent: it would be dropped anyway.
    post([openSerial, result, first](VideoDecoder *target) { target->onOpenDone(openSerial, result, first); });
}

void VideoDecodeWorker::Mailbox::decodeFrame(const FrameRequest &request)
{
    if (!source || request.openSerial != sourceSerial)
        return;
    if (void (*hook)() = beforeDecode)
        hook();
    const QImage image = source->picture(request.frame);
    post([request, image](VideoDecoder *target) {
        target->onFrameDone(request.openSerial, request.serial, request.frame, image);
    });
}

} // namespace Quillmark
