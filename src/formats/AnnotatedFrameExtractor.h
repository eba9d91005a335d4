#pragma once

#include "model/ImageEntry.h"
#include "model/VideoEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

class QThreadPool;

namespace Quillmark {

class VideoSource;

// Turns the annotated frames of a project's videos into pictures for a dataset
// export: each frame that carries annotations is decoded and becomes an image
// entry with a copy of that frame's annotations, named
// "<video base name>_frame_<index, 6 digits>.jpg".
//
// The window's thread is never held up: start() returns at once, the frames are
// decoded on a thread of the extractor's own (in ascending order, so a run of
// frames is decoded on instead of sought one by one), encoded as JPEG by a pool
// of threads beside the decoding, and finished() comes once every video was
// handled. A video that cannot be found or opened, a frame that cannot be
// decoded, and a frame past the video's end are skipped and counted.
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
    // One annotated frame; its entry is filled (or left unfilled) by the work.
    struct Slot {
        int video = 0;
        int frame = 0;
        // Decoded (set by the decoding thread), and taken (by its encoder).
        bool decoded = false;
        bool taken = false;
        ImageEntry entry;
    };

    void run();
    void extractVideo(int video, size_t firstSlot, size_t endSlot);
    void extractFrames(VideoSource &source, size_t firstSlot, size_t endSlot);
    void encode(Slot &slot, const QImage &image);
    void frameHandled();
    void collect();

    QList<VideoEntry> videos;
    QStringList bases;
    QString folder;
    int total = 0;
    int skipped = 0;
    bool running = false;
    QList<ImageEntry> extracted;
    QStringList lossyVideos;

    std::vector<Slot> work;
    std::atomic<int> handled{0};
    std::atomic<bool> cancel{false};
    QThreadPool *encoders = nullptr;
    std::thread worker;
};

} // namespace Quillmark
