#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>

namespace Quillmark {

class VideoDecodeWorker;

// Turns a video file into single frames on request, exactly: frame i is the
// i-th picture of the file's video stream in presentation order, whatever the
// container, the frame rate or the other streams (see VideoSource).
//
// Contract, for every user (the window's video mode):
// - open() answers later, always from the event loop and never from inside
//   open() itself, with exactly one opened() for the file most recently asked
//   for; an open that is superseded by another open() or by close() is never
//   answered.
// - opened(true) comes only when the file has a video stream with pictures and
//   the first of them decoded; frame 0 follows unless the opened() handler asks
//   for another frame itself.
// - seekToFrame() asks for one frame; a newer request supersedes the ones not
//   yet started, so stepping never queues a backlog. frameReady(i) always holds
//   the pixels of picture i, upright, and every request that is started is
//   answered exactly once, with frameReady() or frameFailed(). A slow picture
//   arrives late; it is never asked for again.
// - After close() nothing more arrives.
// The decoding runs on a worker thread of the decoder's own; the signals come
// on the thread that owns the decoder.
class VideoDecoder : public QObject {
    Q_OBJECT

public:
    explicit VideoDecoder(QObject *parent = nullptr);
    ~VideoDecoder() override;

    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Forgets the previous file and starts loading this one; opened() answers.
    void open(const QString &path);
    // Releases the file; every member back to its start.
    void close();
    // Asks for frame `frame`, clamped to 0 .. frameCount() - 1. Ignored unless open.
    void seekToFrame(int frame);

    bool isOpen() const { return ready; }
    bool isOpening() const { return opening; }
    // The file last given to open(), also after a failed open.
    QString path() const { return sourcePath; }
    // The number of pictures of the video stream.
    int frameCount() const { return frames; }
    // The upright size (the stored size turned by the display rotation).
    int width() const { return frameWidth; }
    int height() const { return frameHeight; }
    // The stream's average frame rate, for display; 25 when the file states none.
    float fps() const { return frameRate; }
    // Index of the last delivered frame.
    int currentFrame() const { return deliveredFrame; }
    // Index of the last requested frame, -1 when none was asked for since the open.
    int pendingFrame() const { return requestedFrame; }
    // The last request is still waiting for its answer.
    bool isAwaitingFrame() const { return awaiting; }

signals:
    void opened(bool ok, const QString &error = QString());
    void frameReady(int frameIdx, const QImage &image);
    void frameFailed(int frameIdx);

private:
    struct OpenResult {
        bool ok = false;
        QString error;
        int frames = 0;
        int width = 0;
        int height = 0;
        float fps = 25.0f;
    };
    friend class VideoDecodeWorker;

    void reset();
    void onOpenDone(quint64 openSerial, const OpenResult &result, const QImage &first);
    void onFrameDone(quint64 openSerial, quint64 requestSerial, int frame, const QImage &image);
    void dispatchRequest();

    std::unique_ptr<VideoDecodeWorker> worker;
    quint64 generation = 0;
    quint64 lastRequest = 0;
    // Requests made within one turn of the event loop go to the worker as one.
    bool dispatchPosted = false;

    bool ready = false;
    bool opening = false;
    bool awaiting = false;
    QString sourcePath;
    int frames = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    float frameRate = 25.0f;
    int deliveredFrame = 0;
    int requestedFrame = -1;
};

} // namespace Quillmark
