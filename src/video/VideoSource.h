#pragma once

#include "video/Mpeg4VopReader.h"
#include "video/PacketIndex.h"
#include "video/PictureConverter.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace Quillmark {

class PacketReader;
struct PacketPictures;

// One video file read with FFmpeg's libraries, picture by picture and exactly:
// picture i is the i-th picture FFmpeg's decoder gives out when it decodes the
// video stream from its first key picture on, whatever the container and its
// time stamps (see PacketIndex). Opening reads the stream's packets once to
// index them, decodes the start of the stream (to leave out pictures a player
// never shows) and, for a file that ends early, its end (to count only the
// pictures there are). picture(i) decodes from the key packet that i needs up
// to it. Requests for later pictures of the same run go on decoding instead of
// seeking, and the pictures just before the last one delivered (and all that
// the decoder still held at the end of the file) are kept, so stepping in
// either direction is cheap. Not thread-safe: one thread uses it at a time
// (the decoder's worker, or an export's).
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

    int frameCount() const { return index.pictureCount(); }
    // Upright size: the stored size turned as the display matrix says.
    int width() const { return uprightWidth; }
    int height() const { return uprightHeight; }
    float fps() const { return frameRate; }

    // Picture `frame` (0 .. frameCount() - 1), upright; null when it cannot be
    // decoded or when the cancel flag was set while decoding.
    QImage picture(int frame);

    // How many decoded pictures are kept around the last one delivered.
    int keptPictures() const { return keepLimit; }
    // Packets handed to the codec since the file was opened, its opening included.
    qint64 decodedPackets() const { return packetsSent; }
    // The pictures are numbered in the order the decoder gives them out
    // rather than by their time stamps.
    bool numbersInDecoderOrder() const { return index.numbering() == PacketIndex::Numbering::ByDecoder; }

private:
    bool openContainer(const QString &path);
    AVFormatContext *openedContainer(const QString &path);
    AVFormatContext *reopenContainer();
    int chooseStream();
    bool openCodec();
    bool decodeRange(int from, int end, bool flush, const std::function<bool(int serial, AVFrame *frame)> &taken);
    bool cancelled() const;
    static int interrupted(void *source);
    bool buildIndex(int stream, int *otherVideoPackets);
    struct LeadingPictures {
        // Per key packet (by serial), the B-pictures decoded right after it.
        std::vector<std::pair<int, int>> counts;
        bool open = false;
    };
    PacketPictures picturesIn(const AVPacket *packet);
    void countLeading(int serial, bool key, const PacketPictures &found, LeadingPictures *leading);
    void readGeometry();
    void release();

    // Opening: which of the first segment's pictures come out, and which of
    // a truncated file's last ones do.
    bool settleStart();
    void settleEnd();

    QImage fromKept(int frame);
    bool canContinueTo(int frame) const;
    bool startRun(int key);
    // Decodes on until `frame` comes out; false when the stream ends, breaks or
    // is cancelled first. `passed`: a later picture came out instead.
    bool decodeUntil(int frame, QImage *image, bool *passed);
    // Takes every picture the codec has ready; true once `frame` was among them
    // (and then stops, leaving the rest in the codec, unless `all`).
    bool drainFrames(int frame, QImage *image, bool *passed, bool all);
    void endOfStream(int frame, QImage *image, bool *passed, bool *found);
    const AVFrame *keep(int frame, AVFrame *decoded);
    void dropKept();
    void setKeepLimit();

    QString sourcePath;
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frameBuffer = nullptr;
    int streamIndex = -1;
    PacketIndex index;
    Mpeg4VopReader vopReader;
    bool reorders = true;
    std::unique_ptr<PacketReader> reader;
    PictureConverter converter;
    QString errorText;
    int uprightWidth = 0;
    int uprightHeight = 0;
    float frameRate = 25.0f;
    const std::atomic<bool> *cancelFlag = nullptr;
    // The file ended before the container said it would, or could not be read to its end.
    bool endsEarly = false;

    // The decoding run under way: how its pictures are numbered, the last one
    // it gave out, and whether it can go on (not drained at the end of the
    // stream, not broken).
    std::optional<PacketIndex::Run> run;
    int lastDecoded = -1;
    bool live = false;
    qint64 packetsSent = 0;

    struct Kept {
        int frame;
        AVFrame *picture;
    };
    std::deque<Kept> kept;
    int keepLimit = 8;
};

} // namespace Quillmark
