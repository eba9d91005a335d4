#pragma once

#include "video/PictureConverter.h"
#include "video/PictureIndex.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <deque>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace Quillmark {

// One video file read with FFmpeg's libraries, picture by picture and exactly:
// opening reads the stream's packets once to index its pictures, and
// picture(i) decodes from the key picture at or before picture i up to it.
// Requests for later pictures of the same run go on decoding instead of
// seeking, and the pictures just before the last one delivered are kept, so
// stepping in either direction is cheap. Not thread-safe: one thread uses it at
// a time (the decoder's worker, or an export's).
class VideoSource {
public:
    VideoSource();
    ~VideoSource();
    VideoSource(const VideoSource &) = delete;
    VideoSource &operator=(const VideoSource &) = delete;

    // A flag another thread may set to stop a long open or decode early; the
    // call then fails. Must outlive the source.
    void setCancelFlag(const std::atomic<bool> *flag) { cancelFlag = flag; }

    // False with `error()` set when the file is not a video this program can show.
    bool open(const QString &path);
    QString error() const { return errorText; }

    int frameCount() const { return index.count(); }
    // Upright size: the stored size turned by the display rotation.
    int width() const { return uprightWidth; }
    int height() const { return uprightHeight; }
    float fps() const { return frameRate; }
    int rotation() const { return converter.rotationDegrees(); }

    // Picture `frame` (0 .. frameCount() - 1), upright; null when it cannot be
    // decoded or when the cancel flag was set while decoding.
    QImage picture(int frame);

    // How many decoded pictures are kept around the last one delivered.
    int keptPictures() const { return keepLimit; }

private:
    bool openContainer(const QString &path);
    bool openStream();
    bool openCodec();
    bool cancelled() const;
    static int interrupted(void *source);
    bool buildIndex();
    void readGeometry();
    void release();

    QImage fromKept(int frame);
    bool canContinueTo(int frame) const;
    bool seekToKey(int key);
    // Decodes on until `frame` comes out; false when the stream ends, breaks or
    // is cancelled first.
    bool decodeUntil(int frame, QImage *image, bool *passed);
    // Handles every frame the codec has ready; true once `frame` was among them.
    bool drainFrames(int frame, QImage *image, bool *passed);
    void keep(int frame, AVFrame *decoded);
    void dropKept();
    void setKeepLimit();

    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frameBuffer = nullptr;
    int streamIndex = -1;
    PictureIndex index;
    PictureConverter converter;
    QString errorText;
    int uprightWidth = 0;
    int uprightHeight = 0;
    float frameRate = 25.0f;
    const std::atomic<bool> *cancelFlag = nullptr;

    // The codec's position: the last picture it gave out (-1 after a seek), and
    // whether it can go on (not drained at the end of the stream or broken).
    int lastDecoded = -1;
    bool live = false;

    struct Kept {
        int frame;
        AVFrame *picture;
    };
    std::deque<Kept> kept;
    int keepLimit = 8;
};

} // namespace Quillmark
