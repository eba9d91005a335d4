#pragma once

#include "model/ImageEntry.h"
#include "model/VideoEntry.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryFile;
class QTimer;

namespace Quillmark {

class VideoDecoder;

// Turns the annotated frames of a project's videos into pictures for a dataset
// export: each frame that carries annotations is decoded and becomes an image
// entry with a copy of that frame's annotations, named
// "<video base name>_frame_<index, 6 digits>.jpg".
//
// Runs on the GUI thread without blocking it and without a nested event loop:
// start() returns at once, the decoder's answers drive the work through the
// event loop, and finished() comes once every video was handled. A frame is
// taken only when the decoder delivers the very frame that was asked for; a
// video that cannot be found or opened, a frame that fails or does not come
// within the frame timeout, and a frame past the video's end are skipped and
// counted, never waited on for ever. After three failed frames in a row the
// rest of that video is skipped too (each failure costs a whole timeout).
//
// With a frame folder, the frames are written there as JPEG files (quality 95)
// and the entries refer to them; without one (an empty path) the entries hold
// the JPEG bytes in memory under their bare file names. A video whose bytes are
// held in memory (from a package) is decoded from a temporary copy that is
// removed as soon as its frames were taken.
class AnnotatedFrameExtractor : public QObject {
    Q_OBJECT

public:
    AnnotatedFrameExtractor(const QList<VideoEntry> &videos, const QString &frameFolder, QObject *parent = nullptr);
    ~AnnotatedFrameExtractor() override;

    // Waiting time for one frame, and for a video to open. A frame or video
    // that takes longer is skipped.
    void setFrameTimeout(int ms) { frameTimeoutMs = ms; }
    void setOpenTimeout(int ms) { openTimeoutMs = ms; }

    void start();
    bool isRunning() const { return running; }

    // The number of annotated frames of all videos: what the extraction works through.
    int frameTotal() const { return total; }
    // The extracted frames, in video order and by ascending frame index.
    const QList<ImageEntry> &frames() const { return extracted; }
    int skippedFrames() const { return skipped; }
    // File names of the videos that lost frames, in video order.
    QStringList videosWithSkippedFrames() const { return lossyVideos; }

    // The base names under which each video's frames are written: the complete
    // base name of its file, with "_<video id>" added (and more when needed)
    // when another video of the list already has that base, compared ignoring
    // letter case, so that no two videos' frames share a file name.
    static QStringList uniqueFrameBases(const QList<VideoEntry> &videos);
    static QString frameFileName(const QString &base, int frameIndex);

signals:
    // Another frame was handled (taken or skipped): `done` of `frameTotal()`.
    void progressed(int done, int total);
    void finished();

private:
    void nextVideo();
    bool openSource(const VideoEntry &video);
    void onOpened(bool ok);
    void requestNext();
    void onFrameReady(int frameIdx, const QImage &image);
    void onFrameFailed(int frameIdx);
    void onWatchdog();
    void takeFrame(int frameIdx, const QImage &image);
    void skipFrames(int count);
    void frameHandled();
    void abandonVideo();
    void endVideo();
    void closeVideo();
    void armWatchdog(int ms);

    QList<VideoEntry> videos;
    QStringList bases;
    QString folder;
    int frameTimeoutMs = 5000;
    int openTimeoutMs = 10000;
    int total = 0;
    int done = 0;
    int skipped = 0;
    bool running = false;
    QList<ImageEntry> extracted;
    QStringList lossyVideos;

    // The video in work: its position in `videos`, its sorted frame indices and
    // the position of the frame asked for.
    int videoIndex = -1;
    QList<int> frameOrder;
    int framePos = 0;
    int requested = -1;
    bool awaitingOpen = false;
    int failuresInRow = 0;
    bool videoLostFrames = false;
    QPointer<VideoDecoder> decoder;
    std::unique_ptr<QTemporaryFile> tempVideo;
    QTimer *watchdog = nullptr;
};

} // namespace Quillmark
