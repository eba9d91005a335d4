#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Quillmark {

class VideoDecoder;
class VideoSource;

// The thread behind a VideoDecoder. It holds one mailbox: the newest open or
// close, and the newest frame request. A request taken out is decoded to the
// end and answered; requests that came in meanwhile are replaced by the newest
// one, never queued. An open or close stops the decoding under way.
// Answers go to the decoder through its thread's event loop.
class VideoDecodeWorker {
public:
    explicit VideoDecodeWorker(VideoDecoder *owner);
    ~VideoDecodeWorker();
    VideoDecodeWorker(const VideoDecodeWorker &) = delete;
    VideoDecodeWorker &operator=(const VideoDecodeWorker &) = delete;

    void requestOpen(quint64 openSerial, const QString &path);
    void requestClose();
    void requestFrame(quint64 openSerial, quint64 requestSerial, int frame);

private:
    struct FrameRequest {
        quint64 openSerial = 0;
        quint64 serial = 0;
        int frame = -1;
    };

    void run();
    void openSource(quint64 openSerial, const QString &path);
    void decodeFrame(const FrameRequest &request);

    VideoDecoder *owner;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable released;
    std::atomic<bool> cancel{false};
    // Guarded by `mutex`.
    bool stopping = false;
    bool sourceChange = false;
    quint64 pendingOpenSerial = 0;
    QString pendingPath;
    bool framePending = false;
    FrameRequest pendingFrame;

    // Only the worker thread touches these.
    std::unique_ptr<VideoSource> source;
    quint64 sourceSerial = 0;

    std::thread thread;
};

} // namespace Quillmark
