#pragma once

#include <QImage>
#include <QList>
#include <QMediaPlayer>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVideoFrame>

class QTimer;
class QVideoSink;

namespace Quillmark {

// Turns a video file into single frames on request, on top of Qt Multimedia (a
// QMediaPlayer whose video output is a QVideoSink). It never plays the video for
// viewing: every request ends with the player paused on the requested frame.
//
// Contract, for every user (the window's video mode, frame extraction):
// - open() answers later, always from the event loop and never from inside
//   open() itself, with exactly one opened() for the file most recently asked
//   for; an open that is superseded by another open() or by close() is never
//   answered. An open that does not settle within openTimeout() fails.
// - opened(true) comes only when the file has a video stream with a frame count,
//   and only once the first frame has been decoded, so seeks work from then on.
//   Unless the opened() handler asks for a frame itself, frame 0 follows.
// - seekToFrame() asks for one frame; only the last request counts. frameReady()
//   carries the frame's own index, worked out from the frame's time stamp, and
//   frames from before the request (or past it) are dropped. So frameReady(i)
//   always holds the pixels of frame i, and a request is answered at most once.
// - A request that gets no frame within frameTimeout() (or soon after the
//   back-end reports the end of the stream) ends with frameFailed().
// - After close() nothing more arrives.
// Everything runs on the thread that owns the decoder; the back-end's frames
// arrive through its event loop. No nested event loop is needed: a caller can
// chain requests from its frameReady() handler.
class VideoDecoder : public QObject {
    Q_OBJECT

public:
    static constexpr int defaultOpenTimeoutMs = 10000;
    static constexpr int defaultFrameTimeoutMs = 5000;

    explicit VideoDecoder(QObject *parent = nullptr);
    ~VideoDecoder() override;

    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Forgets the previous file and starts loading this one; opened() answers.
    void open(const QString &path);
    // Stops the player and releases the file; every member back to its start.
    void close();
    // Asks for frame `frame`, clamped to 0 .. frameCount() - 1. Ignored unless open.
    void seekToFrame(int frame);

    bool isOpen() const { return ready; }
    bool isOpening() const { return opening; }
    // The file last given to open(), also after a failed open.
    QString path() const { return sourcePath; }
    int frameCount() const { return frames; }
    // Frame size from the media's metadata, else from the first decoded frame.
    int width() const { return frameWidth; }
    int height() const { return frameHeight; }
    // Frames per second; 25 when the file states none.
    float fps() const { return frameRate; }
    // Index of the last delivered frame.
    int currentFrame() const { return deliveredFrame; }
    // Index of the last requested frame, -1 when none was asked for since the open.
    int pendingFrame() const { return requestedFrame; }
    // A request is still waiting for its frame.
    bool isAwaitingFrame() const { return awaiting; }

    void setOpenTimeout(int ms) { openTimeoutMs = ms; }
    int openTimeout() const { return openTimeoutMs; }
    void setFrameTimeout(int ms) { frameTimeoutMs = ms; }
    int frameTimeout() const { return frameTimeoutMs; }

signals:
    void opened(bool ok, const QString &error = QString());
    void frameReady(int frameIdx, const QImage &image);
    void frameFailed(int frameIdx);

private:
    void reset();
    void connectBackend();
    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void onVideoFrameChanged(const QVideoFrame &frame);
    void onOpenTimeout();
    void onFrameTimeout();

    // Opening
    bool readMetadata();
    void completeOpen(const QVideoFrame &first);
    void failOpen(const QString &error);
    void nudgeForFirstFrame(int delayMs);
    void announceOpen(bool ok, const QString &error);

    // Frames
    int frameIndexOf(const QVideoFrame &frame) const;
    qint64 positionOfFrame(int frame) const;
    void deliver(const QVideoFrame &frame);
    void deliverLastRenderedLater();
    void seekBackend(int frame);
    // Seeks again for the current request if its frame has not come after delayMs.
    void nudgeLateFrame(int delayMs);

    QMediaPlayer *player = nullptr;
    QVideoSink *sink = nullptr;
    QTimer *openTimer = nullptr;
    QTimer *frameTimer = nullptr;
    // Connections to the back-end for the current open only; their handlers
    // carry the open's generation, so signals still queued from an earlier file
    // are recognised and dropped.
    QList<QMetaObject::Connection> backendConnections;
    quint64 generation = 0;

    bool ready = false;
    QString sourcePath;
    // A link with a plain name that the back-end opens instead of a path it
    // cannot take; removed when the file is let go.
    QString sourceLink;
    int frames = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    float frameRate = 25.0f;
    int deliveredFrame = 0;
    int requestedFrame = -1;
    bool opening = false;
    bool metadataRead = false;
    // Time stamp of the first frame (microseconds): frame i starts i / fps later.
    qint64 originUs = 0;

    bool awaiting = false;
    // Seeks made again for the current request (see nudgeLateFrame), and the
    // request's number, so that a nudge meant for an earlier one does nothing.
    int reseeks = 0;
    quint64 requestSerial = 0;
    // The player runs on from the frame before the requested one instead of
    // seeking (a step forward costs one frame instead of a whole group of pictures).
    bool playingForward = false;
    // Inside our own calls into the player, whose status reports then describe
    // the state before the request.
    bool commanding = false;
    // The last frame the back-end rendered, delivered or not, and its index.
    QVideoFrame lastRendered;
    int lastRenderedIndex = -1;

    int openTimeoutMs = defaultOpenTimeoutMs;
    int frameTimeoutMs = defaultFrameTimeoutMs;
};

} // namespace Quillmark
