#include "video/VideoSource.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <mutex>

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

// The containers a video of a project may come in. Anything else (playlists,
// lists of other files, image sequences) is refused before it is read.
const char *const allowedContainers =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,flv,asf,mpeg,mpegts,mpegvideo,m4v,h264,hevc,mjpeg,ivf,ogg";

constexpr float defaultFps = 25.0f;
constexpr double highestFps = 1000.0;
// Memory for decoded pictures kept around the current one.
constexpr int64_t keptBytesBudget = 192LL * 1024 * 1024;
constexpr int fewestKept = 4;
constexpr int mostKept = 64;
// Packets read past the one of the requested picture before it is given up:
// more than any codec's reordering delay.
constexpr int packetsPastTarget = 256;
// More pictures than any real video holds (over 90 hours at 60 frames per
// second): a file of countless tiny packets is refused before its index grows
// without bound.
constexpr int mostPictures = 20'000'000;

int rotationOf(const AVStream *stream)
{
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (!std::isfinite(angle))
        return 0;
    // The matrix turns counter-clockwise; the picture is made upright clockwise.
    const int degrees = int(std::lround(-angle / 90.0)) * 90;
    return ((degrees % 360) + 360) % 360;
}

float usableRate(AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return 0.0f;
    const double value = av_q2d(rate);
    return value > 0.0 && value <= highestFps ? float(value) : 0.0f;
}

} // namespace

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
    dropKept();
    av_frame_free(&frameBuffer);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    streamIndex = -1;
    index = PictureIndex();
    uprightWidth = uprightHeight = 0;
    frameRate = defaultFps;
    lastDecoded = -1;
    live = false;
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
    if (!info.isFile() || !openContainer(info.absoluteFilePath())) {
        errorText = invalidMediaText;
        release();
        return false;
    }
    if (!openStream() || !buildIndex()) {
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
    return true;
}

bool VideoSource::openContainer(const QString &path)
{
    format = avformat_alloc_context();
    if (!format)
        return false;
    format->interrupt_callback.callback = &VideoSource::interrupted;
    format->interrupt_callback.opaque = this;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", allowedContainers, 0);
    // The file protocol's own prefix, so that no part of the name is taken
    // for another protocol.
    const QByteArray url = QByteArrayLiteral("file:") + path.toUtf8();
    const int result = avformat_open_input(&format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        format = nullptr; // freed by the failed open
        return false;
    }
    return avformat_find_stream_info(format, nullptr) >= 0;
}

bool VideoSource::openStream()
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        const bool video = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        // A cover picture is no video.
        if (video && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && streamIndex < 0)
            streamIndex = int(i);
        else
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    if (streamIndex < 0)
        return false;
    const AVCodecParameters *parameters = format->streams[streamIndex]->codecpar;
    return parameters->width > 0 && parameters->height > 0;
}

bool VideoSource::buildIndex()
{
    packet = av_packet_alloc();
    frameBuffer = av_frame_alloc();
    if (!packet || !frameBuffer)
        return false;
    while (!cancelled() && index.count() < mostPictures && av_read_frame(format, packet) >= 0) {
        const bool ours = packet->stream_index == streamIndex && !(packet->flags & AV_PKT_FLAG_CORRUPT);
        const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ours && time != AV_NOPTS_VALUE)
            index.addPacket(time, packet->flags & AV_PKT_FLAG_KEY, !(packet->flags & AV_PKT_FLAG_DISCARD));
        av_packet_unref(packet);
    }
    const bool tooMany = index.count() >= mostPictures;
    index.finish();
    if (cancelled() || tooMany || index.isEmpty() || index.keyCount() == 0)
        return false;

    const AVStream *stream = format->streams[streamIndex];
    frameRate = usableRate(stream->avg_frame_rate);
    if (frameRate <= 0.0f)
        frameRate = usableRate(stream->r_frame_rate);
    if (frameRate <= 0.0f)
        frameRate = defaultFps;
    return true;
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
    converter.setRotation(rotationOf(stream));
    const bool sideways = converter.rotationDegrees() % 180 != 0;
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

QImage VideoSource::picture(int frame)
{
    if (!codec || frame < 0 || frame >= index.count())
        return {};
    QImage image = fromKept(frame);
    if (!image.isNull())
        return image;
    bool passed = false;
    if (canContinueTo(frame) && decodeUntil(frame, &image, &passed))
        return image;
    // From the key picture at or before the frame; should the file's own seek
    // land past it, from the key pictures before that.
    for (int key = index.keyBefore(frame); key >= 0 && !cancelled(); --key) {
        passed = false;
        if (!seekToKey(key))
            return {};
        if (decodeUntil(frame, &image, &passed))
            return image;
        if (!passed)
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
    if (!live || lastDecoded < 0 || frame <= lastDecoded)
        return false;
    // Going on is the way when no key picture lies between: a seek would
    // start no later.
    return index.firstPictureFrom(index.keyBefore(frame)) <= lastDecoded + 1;
}

bool VideoSource::seekToKey(int key)
{
    dropKept();
    lastDecoded = -1;
    live = false;
    if (av_seek_frame(format, streamIndex, index.keyTime(key), AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format, streamIndex, index.keyTime(key), AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    avcodec_flush_buffers(codec);
    live = true;
    return true;
}

bool VideoSource::decodeUntil(int frame, QImage *image, bool *passed)
{
    const int64_t target = index.timeOf(frame);
    int pastTarget = 0;
    while (live) {
        if (drainFrames(frame, image, passed))
            return true;
        if (*passed || !live || cancelled())
            return false;
        const int read = av_read_frame(format, packet);
        if (read < 0) {
            // The end of the file (or an unreadable rest): what the codec
            // still holds comes out, and then it is done.
            avcodec_send_packet(codec, nullptr);
            const bool found = drainFrames(frame, image, passed);
            live = false;
            return found;
        }
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        if (packet->pts != AV_NOPTS_VALUE && packet->pts > target && ++pastTarget > packetsPastTarget) {
            av_packet_unref(packet);
            live = false;
            return false;
        }
        const int sent = avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            // A damaged packet ends the request; the next one starts afresh.
            live = false;
            return false;
        }
    }
    return false;
}

bool VideoSource::drainFrames(int frame, QImage *image, bool *passed)
{
    for (;;) {
        const int received = avcodec_receive_frame(codec, frameBuffer);
        if (received == AVERROR(EAGAIN))
            return false;
        if (received < 0) {
            live = false;
            return false;
        }
        const int shown = index.pictureAt(frameBuffer->best_effort_timestamp);
        if (shown < 0) {
            av_frame_unref(frameBuffer);
            continue;
        }
        lastDecoded = shown;
        if (shown > frame) {
            *passed = true;
            keep(shown, frameBuffer);
            return false;
        }
        keep(shown, frameBuffer);
        if (shown == frame) {
            *image = converter.convert(kept.back().picture);
            return !image->isNull();
        }
    }
}

void VideoSource::keep(int frame, AVFrame *decoded)
{
    // The kept picture takes over the codec's buffers; frameBuffer is empty again.
    AVFrame *copy = av_frame_alloc();
    if (!copy) {
        av_frame_unref(decoded);
        return;
    }
    av_frame_move_ref(copy, decoded);
    kept.push_back({frame, copy});
    while (int(kept.size()) > keepLimit) {
        av_frame_free(&kept.front().picture);
        kept.pop_front();
    }
}

void VideoSource::dropKept()
{
    for (Kept &entry : kept)
        av_frame_free(&entry.picture);
    kept.clear();
}

} // namespace Quillmark
