#pragma once

#include <QString>

#include <memory>
#include <thread>

namespace Quillmark {

class VideoDecoder;

// The thread behind a VideoDecoder. It holds one mailbox: the newest open or
// close, and the newest frame request. A request taken out is decoded to the
// end and answered; requests that came in meanwhile are replaced by the newest
// one, never queued. An open or close stops the decoding under way.
// Answers go to the decoder through its thread's event loop.
//
// A read of a file that stops answering (a network share gone) may hold the
// thread for good: neither an open nor the worker's end waits for it beyond a
// moment. Such a thread is left behind and answers nobody.
class VideoDecodeWorker {
public:
    explicit VideoDecodeWorker(VideoDecoder *owner);
    ~VideoDecodeWorker();
    VideoDecodeWorker(const VideoDecodeWorker &) = delete;
    VideoDecodeWorker &operator=(const VideoDecodeWorker &) = delete;

    void requestOpen(quint64 openSerial, const QString &path);
    void requestClose();
    void requestFrame(quint64 openSerial, quint64 requestSerial, int frame);

    // For tests: runs on the worker before each frame is decoded, so that a
    // test can hold it as a read that does not answer would.
    static void setBeforeDecodeHook(void (*hook)());

private:
    struct Mailbox;
    static void run(const std::shared_ptr<Mailbox> &box);

    std::shared_ptr<Mailbox> box;
    std::thread thread;
};

} // namespace Quillmark
