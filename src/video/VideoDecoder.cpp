#include "video/VideoDecoder.h"

#include "video/VideoDecodeWorker.h"

#include <QMetaObject>

#include <algorithm>

namespace Quillmark {

VideoDecoder::VideoDecoder(QObject *parent) : QObject(parent), worker(std::make_unique<VideoDecodeWorker>(this)) {}

VideoDecoder::~VideoDecoder()
{
    // Stops the worker before anything it might answer to goes away.
    worker.reset();
}

void VideoDecoder::reset()
{
    ++generation;
    ready = false;
    opening = false;
    awaiting = false;
    sourcePath.clear();
    frames = 0;
    frameWidth = 0;
    frameHeight = 0;
    frameRate = 25.0f;
    deliveredFrame = 0;
    requestedFrame = -1;
}

void VideoDecoder::open(const QString &path)
{
    reset();
    sourcePath = path;
    opening = true;
    worker->requestOpen(generation, path);
}

void VideoDecoder::close()
{
    reset();
    worker->requestClose();
}

void VideoDecoder::seekToFrame(int frame)
{
    if (!ready)
        return;
    requestedFrame = std::clamp(frame, 0, std::max(frames - 1, 0));
    awaiting = true;
    ++lastRequest;
    if (dispatchPosted)
        return;
    dispatchPosted = true;
    QMetaObject::invokeMethod(this, &VideoDecoder::dispatchRequest, Qt::QueuedConnection);
}

void VideoDecoder::dispatchRequest()
{
    dispatchPosted = false;
    if (ready && awaiting)
        worker->requestFrame(generation, lastRequest, requestedFrame);
}

void VideoDecoder::onOpenDone(quint64 openSerial, const OpenResult &result, const QImage &first)
{
    if (openSerial != generation || !opening)
        return;
    opening = false;
    ready = result.ok;
    if (ready) {
        frames = result.frames;
        frameWidth = result.width;
        frameHeight = result.height;
        frameRate = result.fps;
    }
    emit opened(ready, ready ? QString() : result.error);
    // The handler may have opened another file, closed, or asked for a frame.
    if (openSerial != generation || !ready || requestedFrame >= 0)
        return;
    deliveredFrame = 0;
    emit frameReady(0, first);
}

void VideoDecoder::onFrameDone(quint64 openSerial, quint64 requestSerial, int frame, const QImage &image)
{
    if (openSerial != generation)
        return;
    if (requestSerial == lastRequest)
        awaiting = false;
    if (image.isNull()) {
        emit frameFailed(frame);
        return;
    }
    deliveredFrame = frame;
    emit frameReady(frame, image);
}

} // namespace Quillmark
