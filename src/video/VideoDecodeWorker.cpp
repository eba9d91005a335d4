#include "video/VideoDecodeWorker.h"

#include "video/VideoDecoder.h"
#include "video/VideoSource.h"

#include <QMetaObject>

namespace Quillmark {

VideoDecodeWorker::VideoDecodeWorker(VideoDecoder *owner) : owner(owner)
{
    thread = std::thread([this] { run(); });
}

VideoDecodeWorker::~VideoDecodeWorker()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
        cancel = true;
    }
    wake.notify_one();
    thread.join();
}

void VideoDecodeWorker::requestOpen(quint64 openSerial, const QString &path)
{
    std::unique_lock lock(mutex);
    sourceChange = true;
    pendingOpenSerial = openSerial;
    pendingPath = path;
    framePending = false;
    cancel = true;
    wake.notify_one();
    // The file shown before is let go of before this returns, so that a caller
    // may remove it at once. The work under way stops at its next packet.
    released.wait(lock, [this] { return !sourceChange || stopping; });
}

void VideoDecodeWorker::requestClose()
{
    requestOpen(0, QString());
}

void VideoDecodeWorker::requestFrame(quint64 openSerial, quint64 requestSerial, int frame)
{
    {
        std::lock_guard lock(mutex);
        framePending = true;
        pendingFrame = {openSerial, requestSerial, frame};
    }
    wake.notify_one();
}

void VideoDecodeWorker::run()
{
    for (;;) {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return stopping || sourceChange || framePending; });
        if (stopping)
            break;
        if (sourceChange) {
            lock.unlock();
            source.reset();
            lock.lock();
            sourceChange = false;
            cancel = false;
            const quint64 serial = pendingOpenSerial;
            const QString path = pendingPath;
            released.notify_all();
            lock.unlock();
            openSource(serial, path);
            continue;
        }
        framePending = false;
        const FrameRequest request = pendingFrame;
        lock.unlock();
        decodeFrame(request);
    }
    source.reset();
}

void VideoDecodeWorker::openSource(quint64 openSerial, const QString &path)
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
    if (cancel)
        return; // superseded; the answer would be dropped anyway
    VideoDecoder *target = owner;
    QMetaObject::invokeMethod(
        owner, [target, openSerial, result, first] { target->onOpenDone(openSerial, result, first); },
        Qt::QueuedConnection);
}

void VideoDecodeWorker::decodeFrame(const FrameRequest &request)
{
    if (!source || request.openSerial != sourceSerial)
        return;
    const QImage image = source->picture(request.frame);
    if (cancel)
        return;
    VideoDecoder *target = owner;
    QMetaObject::invokeMethod(
        owner,
        [target, request, image] { target->onFrameDone(request.openSerial, request.serial, request.frame, image); },
        Qt::QueuedConnection);
}

} // namespace Quillmark
