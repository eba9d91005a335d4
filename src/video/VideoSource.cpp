#include "video/VideoSource.h"

#include "video/Mpeg12PictureReader.h"
#include "video/PacketReader.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

namespace Quillmark {

namespace {

const QString invalidMediaText = QStringLiteral("Invalid media / unsupported format");
const QString noMetadataText = QStringLiteral("Could not read video metadata");

// The containers a video of a project may come in (see the import dialog's
// list of suffixes). Anything else (playlists, lists of other files, image
// sequences) is refused before it is read.
const char *const allowedContainers = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,flv,asf,mpeg,mpegts,mpegvideo,m4v,"
                                      "h264,hevc,mjpeg,ivf,ogg";

constexpr float defaultFps = 25.0f;
constexpr double highestFps = 1000.0;
// Memory for decoded pictures kept around the current one.
constexpr int64_t keptBytesBudget = 192LL * 1024 * 1024;
constexpr int fewestKept = 4;
constexpr int mostKept = 64;
// More packets than any real video holds (over 40 hours at 60 frames per
// second): a file of countless tiny packets is refused before its index grows
// without bound.
constexpr int mostPackets = 10'000'000;
// Packets of the first segment decoded at most, on opening, to learn which
// of its pictures come out: those that may not (shown before the key picture,
// decoded after it) follow it closely, within any codec's reordering.
constexpr int settlingPackets = 64;
// Key packets stepped back when a picture does not come out from the first.
constexpr int stepsBack = 2;
// Packets read past a picture's own, after a later picture came out first,
// before its failure is taken for certain: more than any codec holds back.
constexpr int orderShowsWithin = 32;
// Pictures in a row that fail to decode before decoding is given up.
constexpr int damagedInARow = 64;
// Times the numbering may change under a request (times found to contradict
// the decoder's order).
constexpr int renumberings = 2;

float usableRate(AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return 0.0f;
    const double value = av_q2d(rate);
    return value > 0.0 && value <= highestFps ? float(value) : 0.0f;
}

int64_t orNoTime(int64_t time)
{
    return time == AV_NOPTS_VALUE ? PacketIndex::noTime : time;
}

// The packet a decoded frame came from: its time stamp, which is the serial
// the frame's packet was sent with.
int serialOf(const AVFrame *frame)
{
    return frame->pts >= 0 && frame->pts < INT_MAX ? int(frame->pts) : -1;
}

} // namespace

// What the packet holds, as far as its headers tell without decoding.
struct PacketPictures {
    // Pictures the decoder gives out for it.
    uint8_t count = 1;
    // Its first picture is one decoding can start from (when unknown, the
    // container's key flag is taken at its word).
    bool intraStart = true;
    // Whether the coding types of its first two pictures are known, and
    // whether each is a B-picture.
    bool typed = false;
    bool bidirectional[2] = {false, false};
};

VideoSource::VideoSource()
{
    // FFmpeg's notes on damaged or unusual files go nowhere near the user; what
    // matters reaches the caller as a refusal or a failed picture.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

VideoSource::~VideoSource()
{
    release();
}

void VideoSource::release()
{
    run.reset();
    reader.reset();
    dropKept();
    av_frame_free(&frameBuffer);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    streamIndex = -1;
    index = PacketIndex();
    vopReader = Mpeg4VopReader();
    reorders = true;
    converter.setOrientation(1, 0, 0, 1);
    uprightWidth = uprightHeight = 0;
    frameRate = defaultFps;
    endsEarly = false;
    lastDecoded = -1;
    live = false;
    packetsSent = 0;
}

bool VideoSource::cancelled() const
{
    return cancelFlag && cancelFlag->load(std::memory_order_relaxed);
}

int VideoSource::interrupted(void *source)
{
    return static_cast<VideoSource *>(source)->cancelled() ? 1 : 0;
}

bool VideoSource::open(const QString &path)
{
    release();
    errorText.clear();
    // Only a regular file: a pipe or a device would block the reading for good.
    const QFileInfo info(path);
    sourcePath = info.absoluteFilePath();
    if (!info.isFile() || !openContainer(sourcePath)) {
        errorText = invalidMediaText;
        release();
        return false;
    }
    int stream = chooseStream();
    int other = -1;
    bool indexed = stream >= 0 && buildIndex(stream, &other);
    // A one-picture track (a still) where the file holds a real video as well.
    if (indexed && other >= 0 && !cancelled()) {
        index = PacketIndex();
        vopReader = Mpeg4VopReader();
        indexed = reopenContainer() && buildIndex(other, &other);
    }
    if (!indexed) {
        errorText = noMetadataText;
        release();
        return false;
    }
    if (!openCodec()) {
        errorText = invalidMediaText;
        release();
        return false;
    }
    readGeometry();
    setKeepLimit();
    reader = std::make_unique<PacketReader>(
        format, streamIndex, index, [this] { return reopenContainer(); }, [this] { return cancelled(); });
    // Nothing to show leaves the count at 0; the first picture then fails.
    if (settleStart())
        settleEnd();
    run.reset();
    live = false;
    return !cancelled();
}

bool VideoSource::openContainer(const QString &path)
{
    format = openedContainer(path);
    return format != nullptr;
}

// The container of the file, opened and probed; null when it is no video
// container this program reads.
AVFormatContext *VideoSource::openedContainer(const QString &path)
{
    AVFormatContext *opened = avformat_alloc_context();
    if (!opened)
        return nullptr;
    opened->interrupt_callback.callback = &VideoSource::interrupted;
    opened->interrupt_callback.opaque = this;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", allowedContainers, 0);
    // The file protocol's own prefix, so that no part of the name is taken
    // for another protocol.
    const QByteArray url = QByteArrayLiteral("file:") + path.toUtf8();
    const int result = avformat_open_input(&opened, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        return nullptr; // freed by the failed open
    if (avformat_find_stream_info(opened, nullptr) < 0) {
        avformat_close_input(&opened);
        return nullptr;
    }
    return opened;
}

// The container opened afresh at its start, with the same stream chosen: the
// way back to the first packet when the file's times cannot be sought by.
// Null, with the container as it was, when the file cannot be opened again.
AVFormatContext *VideoSource::reopenContainer()
{
    AVFormatContext *fresh = openedContainer(sourcePath);
    if (!fresh)
        return nullptr;
    if (fresh->nb_streams != format->nb_streams || streamIndex < 0 || unsigned(streamIndex) >= fresh->nb_streams) {
        avformat_close_input(&fresh);
        return nullptr;
    }
    for (unsigned i = 0; i < fresh->nb_streams; ++i)
        fresh->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    avformat_close_input(&format);
    format = fresh;
    return format;
}

// The video stream FFmpeg itself would show; a cover picture never.
int VideoSource::chooseStream()
{
    const AVCodec *decoder = nullptr;
    const int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (best >= 0 && !(format->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return best;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

// Reads every packet of the stream once. `other` becomes another video
// stream to take instead when this one holds a single picture and that one
// more.
bool VideoSource::buildIndex(int stream, int *other)
{
    *other = -1;
    streamIndex = stream;
    std::vector<int> otherPackets(format->nb_streams, 0);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *s = format->streams[i];
        const bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
        format->streams[i]->discard = int(i) == stream || video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVCodecParameters *parameters = format->streams[stream]->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0)
        return false;
    if (!packet)
        packet = av_packet_alloc();
    if (!frameBuffer)
        frameBuffer = av_frame_alloc();
    if (!packet || !frameBuffer)
        return false;
    if (parameters->codec_id == AV_CODEC_ID_MPEG4)
        vopReader.readConfiguration(parameters->extradata, std::size_t(std::max(parameters->extradata_size, 0)));

    LeadingPictures leading;
    int read = 0;
    while (!cancelled() && index.packetCount() < mostPackets && (read = av_read_frame(format, packet)) >= 0) {
        if (packet->stream_index != stream) {
            if (packet->stream_index >= 0 && unsigned(packet->stream_index) < otherPackets.size())
                ++otherPackets[std::size_t(packet->stream_index)];
            av_packet_unref(packet);
            continue;
        }
        PacketIndex::Packet entry;
        entry.pos = packet->pos;
        entry.dts = orNoTime(packet->dts);
        entry.pts = orNoTime(packet->pts);
        entry.size = packet->size;
        const PacketPictures found = picturesIn(packet);
        entry.pictures = found.count;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) && found.intraStart;
        if (key)
            entry.flags |= PacketIndex::Key;
        if (packet->flags & AV_PKT_FLAG_DISCARD)
            entry.flags |= PacketIndex::Discard;
        countLeading(index.packetCount(), key, found, &leading);
        index.add(entry);
        av_packet_unref(packet);
    }
    const bool tooMany = index.packetCount() >= mostPackets;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    if (cancelled() || tooMany)
        return false;

    const AVStream *own = format->streams[stream];
    // The file ends before what the container declares, or its rest cannot be read.
    endsEarly = (read < 0 && read != AVERROR_EOF) || (own->nb_frames > 0 && index.packetCount() < own->nb_frames) ||
                avformat_index_get_entries_count(own) > index.packetCount();
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(parameters->codec_id);
    reorders = !descriptor || !(descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    if (!index.finish(reorders))
        return false;
    for (const auto &[serial, count] : leading.counts)
        index.knowLeading(serial, count);

    if (index.pictureCount() <= 1) {
        int most = 1;
        for (std::size_t i = 0; i < otherPackets.size(); ++i) {
            if (otherPackets[i] > most) {
                most = otherPackets[i];
                *other = int(i);
            }
        }
    }
    frameRate = usableRate(own->avg_frame_rate);
    if (frameRate <= 0.0f)
        frameRate = usableRate(own->r_frame_rate);
    if (frameRate <= 0.0f)
        frameRate = defaultFps;
    return true;
}

// How many pictures a packet decodes to, whether it starts with a picture
// decoding can start from and, for the MPEG video codecs, which are B-pictures.
PacketPictures VideoSource::picturesIn(const AVPacket *packet)
{
    PacketPictures result;
    if (packet->size <= 0) {
        result.count = 0;
        return result;
    }
    const auto *data = packet->data;
    const auto size = std::size_t(packet->size);
    switch (format->streams[streamIndex]->codecpar->codec_id) {
    case AV_CODEC_ID_MPEG4: {
        const Mpeg4VopReader::Pictures found = vopReader.inspect(data, size);
        if (!found.recognised)
            return result;
        constexpr int bidirectionalVop = 2;
        // The decoder takes at most a packed pair from one packet.
        result.count = uint8_t(std::min(found.coded, 2));
        result.intraStart = found.startsWithIntra();
        result.typed = true;
        result.bidirectional[0] = found.types[0] == bidirectionalVop;
        result.bidirectional[1] = found.types[1] == bidirectionalVop;
        return result;
    }
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO: {
        const Mpeg12PictureReader::Type type = Mpeg12PictureReader::firstPicture(data, size);
        if (type == Mpeg12PictureReader::Unknown)
            return result;
        result.intraStart = type == Mpeg12PictureReader::Intra;
        result.typed = true;
        result.bidirectional[0] = type == Mpeg12PictureReader::Bidirectional;
        return result;
    }
    default:
        return result;
    }
}

// With the MPEG video codecs, the B-pictures decoded right after a key
// picture (before the next I- or P-picture) are the ones shown before it: the
// decoder gives them out first when it goes on from the segment before, and
// not at all when it starts at the key picture.
void VideoSource::countLeading(int serial, bool key, const PacketPictures &found, LeadingPictures *leading)
{
    if (!found.typed) {
        // A packet whose pictures are not known ends what can be vouched for.
        if (leading->open)
            leading->counts.pop_back();
        leading->open = false;
        return;
    }
    int first = 0;
    if (key) {
        leading->counts.emplace_back(serial, 0);
        leading->open = true;
        first = 1;
    }
    for (int i = first; i < std::min<int>(found.count, 2) && leading->open; ++i) {
        if (found.bidirectional[i])
            ++leading->counts.back().second;
        else
            leading->open = false;
    }
}

bool VideoSource::openCodec()
{
    const AVStream *stream = format->streams[streamIndex];
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return false;
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, stream->codecpar) < 0)
        return false;
    codec->pkt_timebase = stream->time_base;
    codec->thread_count = 0;
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    return avcodec_open2(codec, decoder, nullptr) >= 0;
}

void VideoSource::readGeometry()
{
    const AVStream *stream = format->streams[streamIndex];
    size_t size = 0;
    const uint8_t *side = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (side && size >= 9 * sizeof(int32_t)) {
        const auto *matrix = reinterpret_cast<const int32_t *>(side);
        constexpr double unit = 65536.0;
        converter.setOrientation(matrix[0] / unit, matrix[1] / unit, matrix[3] / unit, matrix[4] / unit);
    }
    const bool sideways = converter.turnsSideways();
    uprightWidth = sideways ? stream->codecpar->height : stream->codecpar->width;
    uprightHeight = sideways ? stream->codecpar->width : stream->codecpar->height;
}

void VideoSource::setKeepLimit()
{
    const AVCodecParameters *parameters = format->streams[streamIndex]->codecpar;
    int bytes = av_image_get_buffer_size(AVPixelFormat(parameters->format), parameters->width, parameters->height, 1);
    if (bytes <= 0)
        bytes = parameters->width * parameters->height * 4;
    keepLimit = int(std::clamp<int64_t>(keptBytesBudget / std::max(bytes, 1), fewestKept, mostKept));
}

// Decodes packets `from` up to `end` (exclusive) from a fresh start, handing
// every picture that comes out to `taken` (which may keep it) until it says
// stop; with `flush`, what the codec still holds at `end` comes out too.
bool VideoSource::decodeRange(int from, int end, bool flush,
                              const std::function<bool(int serial, AVFrame *frame)> &taken)
{
    run.reset();
    live = false;
    lastDecoded = -1;
    avcodec_flush_buffers(codec);
    if (!reader->seekTo(from))
        return false;
    bool going = true;
    const auto drain = [&] {
        for (int failures = 0; going && failures < damagedInARow;) {
            const int received = avcodec_receive_frame(codec, frameBuffer);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            if (received < 0) {
                ++failures;
                continue;
            }
            failures = 0;
            going = taken(serialOf(frameBuffer), frameBuffer);
            av_frame_unref(frameBuffer);
        }
    };
    while (going && !cancelled()) {
        const int serial = reader->read(packet);
        if (serial < 0)
            break;
        if (serial >= end) {
            av_packet_unref(packet);
            break;
        }
        packet->pts = packet->dts = serial;
        ++packetsSent;
        if (avcodec_send_packet(codec, packet) == AVERROR(EAGAIN)) {
            drain();
            avcodec_send_packet(codec, packet);
        }
        av_packet_unref(packet);
        drain();
    }
    if (going && flush && !cancelled()) {
        avcodec_send_packet(codec, nullptr);
        drain();
    }
    return !cancelled();
}

// Decodes the first segment as FFmpeg's own sequential decoding does: the
// pictures it gives out are pictures 0, 1, ...; those of its packets that
// never come out (shown before the key picture, referring to what came before
// the file's start) are not counted. A first key packet that gives out
// nothing is left out, and the next one tried.
bool VideoSource::settleStart()
{
    for (int attempt = 0; attempt < 3 && index.pictureCount() > 0 && !cancelled(); ++attempt) {
        dropKept();
        const int first = index.keySerial(0);
        const int segmentEnd = index.keyCount() > 1 ? index.keySerial(1) : index.packetCount();
        int end = std::min(segmentEnd, first + settlingPackets);
        // A packed pair's second picture comes out with the packet after it.
        while (end < segmentEnd && index.packet(end).pictures == 0)
            ++end;
        const bool byTime = index.numbering() == PacketIndex::Numbering::ByTime;
        // In decoder order, a segment that shows nothing before its key picture
        // gives out all it holds: only picture 0 is needed.
        const bool whole = !byTime && (!reorders || index.leadingPictures(0) == 0);
        const int64_t keyTime = index.packet(first).pts;
        std::vector<int> cameOut;
        bool keyPictureOut = false;
        const auto taken = [&](int serial, AVFrame *frame) {
            if (serial < first || serial >= end)
                return true;
            keep(int(cameOut.size()), frame);
            cameOut.push_back(serial);
            // By time, the pictures shown before the key picture have all come
            // out once it has; in decoder order, the start of the segment is
            // counted.
            if (byTime)
                keyPictureOut = keyPictureOut || keyTime == PacketIndex::noTime || index.packet(serial).pts >= keyTime;
            return byTime ? !keyPictureOut : !whole || cameOut.empty();
        };
        if (!decodeRange(first, end, true, taken))
            return false;
        if (cameOut.empty()) {
            index.dropFirstKey();
            continue;
        }
        if (byTime) {
            std::vector<int> missing;
            std::vector<bool> seen(std::size_t(end - first), false);
            for (const int serial : cameOut)
                seen[std::size_t(serial - first)] = true;
            for (int s = first; s < end; ++s) {
                const PacketIndex::Packet &p = index.packet(s);
                if (!seen[std::size_t(s - first)] && p.pts != PacketIndex::noTime && keyTime != PacketIndex::noTime &&
                    p.pts < keyTime)
                    missing.push_back(s);
            }
            if (!missing.empty())
                index.dropPictures(missing);
            return index.pictureCount() > 0;
        }
        if (!whole) {
            int expected = 0;
            for (int s = first; s < end; ++s) {
                const PacketIndex::Packet &p = index.packet(s);
                if (!(p.flags & (PacketIndex::Discard | PacketIndex::Dropped)))
                    expected += p.pictures;
            }
            index.setSegmentPictures(0, index.segmentPictures(0) - expected + int(cameOut.size()));
        }
        return index.pictureCount() > 0;
    }
    return false;
}

// A file that ends early (a copy broken off, a recording cut short) counts
// only the pictures that come out of its last segment, decoded whole from the
// key before it, and flushed.
void VideoSource::settleEnd()
{
    if (!endsEarly || index.pictureCount() == 0 || cancelled())
        return;
    const int key = std::max(0, index.startKeyFor(index.pictureCount() - 1) - 1);
    const int judgedKey = key == 0 ? 0 : key + 1;
    if (judgedKey >= index.keyCount())
        return;
    const int judgedFrom = index.keySerial(judgedKey);
    std::vector<bool> cameOut(std::size_t(index.packetCount() - judgedFrom), false);
    PacketIndex::Run counting(index, key);
    const auto taken = [&](int serial, AVFrame *) {
        if (serial >= judgedFrom && serial < index.packetCount())
            cameOut[std::size_t(serial - judgedFrom)] = true;
        if (index.numbering() == PacketIndex::Numbering::ByDecoder)
            counting.number(serial);
        return true;
    };
    if (!decodeRange(index.keySerial(key), index.packetCount(), true, taken))
        return;
    if (index.numbering() == PacketIndex::Numbering::ByTime) {
        std::vector<int> missing;
        for (int s = judgedFrom; s < index.packetCount(); ++s) {
            const PacketIndex::Packet &p = index.packet(s);
            if (!cameOut[std::size_t(s - judgedFrom)] && p.pictures >= 1 &&
                !(p.flags & (PacketIndex::Discard | PacketIndex::Dropped)))
                missing.push_back(s);
        }
        if (!missing.empty())
            index.dropPictures(missing);
    } else {
        for (int k = judgedKey; k < index.keyCount(); ++k)
            index.setSegmentPictures(k, counting.givenOut(k));
    }
    dropKept();
}

QImage VideoSource::picture(int frame)
{
    if (!codec || !reader || frame < 0 || frame >= index.pictureCount())
        return {};
    for (int round = 0; round <= renumberings && !cancelled(); ++round) {
        QImage image = fromKept(frame);
        if (!image.isNull())
            return image;
        bool passed = false;
        const bool continuing = canContinueTo(frame);
        if (continuing && decodeUntil(frame, &image, &passed))
            return image;
        if (continuing && run && run->disordered())
            continue;
        // From the key packet the picture needs; should it still not come
        // out, from the key packets before that.
        bool renumbered = false;
        int key = index.startKeyFor(frame);
        for (int step = 0; step <= stepsBack && key >= 0 && !cancelled(); ++step, --key) {
            passed = false;
            if (!startRun(key))
                return {};
            if (decodeUntil(frame, &image, &passed))
                return image;
            renumbered = run && run->disordered();
            if (renumbered || !passed)
                break;
        }
        if (!renumbered)
            return {};
    }
    return {};
}

QImage VideoSource::fromKept(int frame)
{
    for (const Kept &entry : kept) {
        if (entry.frame == frame)
            return converter.convert(entry.picture);
    }
    return {};
}

bool VideoSource::canContinueTo(int frame) const
{
    if (!live || !run || frame <= lastDecoded)
        return false;
    // Going on is the way when the picture needs no earlier start and no key
    // packet lies between: a seek would start no later.
    const int key = index.startKeyFor(frame);
    const int next = reader->nextSerial();
    return key >= run->startKey() && next >= 0 && index.keySerial(key) < next;
}

bool VideoSource::startRun(int key)
{
    run.reset();
    live = false;
    lastDecoded = -1;
    avcodec_flush_buffers(codec);
    if (!reader->seekTo(index.keySerial(key)))
        return false;
    run.emplace(index, key);
    live = true;
    return true;
}

bool VideoSource::decodeUntil(int frame, QImage *image, bool *passed)
{
    const int lastSerial = index.lastSerialFor(frame);
    // By time, a later picture coming out first may mean the times lie: the
    // decoder's order shows once the picture's own packet is in.
    const int ownSerial = index.serialOf(frame);
    while (live) {
        if (drainFrames(frame, image, passed, false))
            return true;
        if (!live || cancelled())
            return false;
        if (*passed && (ownSerial < 0 || reader->nextSerial() > ownSerial + orderShowsWithin))
            return false;
        const int serial = reader->read(packet);
        if (serial < 0) {
            bool found = false;
            endOfStream(frame, image, passed, &found);
            return found;
        }
        if (serial > lastSerial) {
            av_packet_unref(packet);
            live = false;
            return false;
        }
        packet->pts = packet->dts = serial;
        ++packetsSent;
        int sent = avcodec_send_packet(codec, packet);
        bool found = false;
        if (sent == AVERROR(EAGAIN)) {
            found = drainFrames(frame, image, passed, true);
            sent = avcodec_send_packet(codec, packet);
        }
        av_packet_unref(packet);
        // A damaged packet gives no picture; decoding goes on with the next,
        // as FFmpeg's own tools do.
        if (found)
            return true;
    }
    return false;
}

bool VideoSource::drainFrames(int frame, QImage *image, bool *passed, bool all)
{
    bool found = false;
    for (int failures = 0;;) {
        const int received = avcodec_receive_frame(codec, frameBuffer);
        if (received == AVERROR(EAGAIN))
            return found;
        // A picture that failed to decode is passed over, as FFmpeg's own
        // tools do; the codec goes on with the next.
        if (received < 0 && received != AVERROR_EOF && ++failures < damagedInARow)
            continue;
        if (received < 0) {
            live = false;
            return found;
        }
        failures = 0;
        const int shown = run ? run->number(serialOf(frameBuffer)) : -1;
        if (run && run->disordered()) {
            // Numbered anew: what is kept was numbered by the times.
            av_frame_unref(frameBuffer);
            dropKept();
            live = false;
            return false;
        }
        if (shown < 0) {
            av_frame_unref(frameBuffer);
            continue;
        }
        lastDecoded = shown;
        const AVFrame *picture = keep(shown, frameBuffer);
        if (shown == frame && !found && picture) {
            *image = converter.convert(picture);
            found = !image->isNull();
            if (found && !all)
                return true;
        } else if (shown > frame && !found) {
            *passed = true;
            if (!all)
                return false;
        }
    }
}

// The end of the stream (or an unreadable rest): whatever the codec still
// holds comes out into the kept pictures, so that stepping on to the last
// pictures decodes nothing again.
void VideoSource::endOfStream(int frame, QImage *image, bool *passed, bool *found)
{
    avcodec_send_packet(codec, nullptr);
    *found = drainFrames(frame, image, passed, true);
    live = false;
}

const AVFrame *VideoSource::keep(int frame, AVFrame *decoded)
{
    // The kept picture takes over the codec's buffers; `decoded` is empty
    // again. A picture decoded once more replaces its older copy.
    const auto older = std::find_if(kept.begin(), kept.end(), [frame](const Kept &entry) { return entry.frame == frame; });
    if (older != kept.end()) {
        av_frame_free(&older->picture);
        kept.erase(older);
    }
    AVFrame *copy = av_frame_alloc();
    if (!copy) {
        av_frame_unref(decoded);
        return nullptr;
    }
    av_frame_move_ref(copy, decoded);
    kept.push_back({frame, copy});
    while (int(kept.size()) > keepLimit) {
        av_frame_free(&kept.front().picture);
        kept.pop_front();
    }
    return copy;
}

void VideoSource::dropKept()
{
    for (Kept &entry : kept)
        av_frame_free(&entry.picture);
    kept.clear();
}

} // namespace Quillmark
