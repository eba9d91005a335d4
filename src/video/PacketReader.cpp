#include "video/PacketReader.h"

#include "video/PacketIndex.h"

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Quillmark {

namespace {

// Demuxers that read on from any byte position and find the next packet start
// themselves (transport streams, raw elementary streams).
const char *const byteSeekingFormats[] = {"mpegts", "mpegtsraw", "h264", "hevc", "m4v", "mpegvideo", "mjpeg"};
// Demuxers whose seek index is by presentation time; the others seek by decode time.
const char *const presentationTimeFormats[] = {"mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm"};
// Packets read after a seek without recognising one before giving the seek up.
constexpr int unrecognisedLimit = 64;

bool named(const AVFormatContext *format, const char *const *names, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (std::strcmp(format->iformat->name, names[i]) == 0)
            return true;
    }
    return false;
}

} // namespace

PacketReader::PacketReader(AVFormatContext *format, int stream, const PacketIndex &index,
                           std::function<AVFormatContext *()> restart, std::function<bool()> cancelled)
    : format(format), stream(stream), index(index), restart(std::move(restart)), cancelled(std::move(cancelled))
{
}

PacketReader::~PacketReader()
{
    av_packet_free(&held);
}

bool PacketReader::byteSeeking() const
{
    return named(format, byteSeekingFormats, std::size(byteSeekingFormats));
}

bool PacketReader::timesByPresentation() const
{
    return named(format, presentationTimeFormats, std::size(presentationTimeFormats));
}

bool PacketReader::seekTo(int serial)
{
    next = -1;
    av_packet_free(&held);
    if (serial < 0 || serial >= index.packetCount())
        return false;

    // Ways to land at or before the packet, best first.
    struct Attempt {
        Method method;
        int64_t value;
    };
    std::vector<Attempt> attempts;
    if (byteSeeking()) {
        for (int s = serial; s >= 0; --s) {
            if (index.packet(s).pos >= 0) {
                attempts.push_back({Method::Byte, index.packet(s).pos});
                break;
            }
        }
        attempts.push_back({Method::Byte, index.packet(0).pos >= 0 ? index.packet(0).pos : 0});
    } else {
        const auto addTimes = [&](int s, bool both) {
            const PacketIndex::Packet &p = index.packet(s);
            const int64_t first = timesByPresentation() ? p.pts : p.dts;
            const int64_t second = timesByPresentation() ? p.dts : p.pts;
            if (first != PacketIndex::noTime)
                attempts.push_back({Method::Time, first});
            if ((both || first == PacketIndex::noTime) && second != PacketIndex::noTime && second != first)
                attempts.push_back({Method::Time, second});
        };
        addTimes(serial, true);
        // Earlier and earlier key packets, should the times land after it.
        const int key = index.keyOf(serial);
        for (int back = 1; key >= 0 && key - back >= 0 && back <= 8; back *= 2)
            addTimes(index.keySerial(key - back), false);
    }
    attempts.push_back({Method::Start, 0});

    for (const Attempt &attempt : attempts) {
        if (cancelled())
            return false;
        // From the start, the first packet read is the first one.
        if (seekBy(attempt.method, attempt.value) && landOn(serial, attempt.method == Method::Start ? 0 : -1))
            return true;
    }
    next = -1;
    return false;
}

bool PacketReader::seekBy(Method method, int64_t value)
{
    switch (method) {
    case Method::Byte:
        return av_seek_frame(format, -1, value, AVSEEK_FLAG_BYTE) >= 0;
    case Method::Time:
        return av_seek_frame(format, stream, value, AVSEEK_FLAG_BACKWARD) >= 0;
    case Method::Start:
        break;
    }
    AVFormatContext *reopened = restart ? restart() : nullptr;
    if (!reopened)
        return false;
    format = reopened;
    return true;
}

// Reads on from wherever the seek landed: recognises the first packet of the
// stream it can (by its byte position, or by its times near `serial` when the
// container gives no positions), then counts packets up to `serial`. False
// when it landed after it or cannot tell where it is. `first`: the serial of
// the first packet read, when known.
bool PacketReader::landOn(int serial, int first)
{
    AVPacket *packet = av_packet_alloc();
    if (!packet)
        return false;
    int at = first;
    int unrecognised = 0;
    bool landed = false;
    bool firstRead = true;
    while (!cancelled()) {
        if (readOwn(packet) < 0)
            break;
        if (firstRead && at >= 0 && !matches(packet, at))
            break;
        firstRead = false;
        if (at < 0) {
            at = packet->pos >= 0 ? index.findPacket(packet->pos, packet->size)
                                  : index.findByTimes(packet->dts == AV_NOPTS_VALUE ? PacketIndex::noTime : packet->dts,
                                                      packet->pts == AV_NOPTS_VALUE ? PacketIndex::noTime : packet->pts,
                                                      packet->size, serial);
            if (at < 0) {
                av_packet_unref(packet);
                if (++unrecognised > unrecognisedLimit)
                    break;
                continue;
            }
        } else if (!matches(packet, at)) {
            av_packet_unref(packet);
            break;
        }
        if (at > serial) {
            av_packet_unref(packet);
            break;
        }
        if (at == serial) {
            held = packet;
            packet = nullptr;
            next = serial;
            landed = true;
            break;
        }
        av_packet_unref(packet);
        ++at;
    }
    av_packet_free(&packet);
    return landed;
}

bool PacketReader::matches(const AVPacket *packet, int serial) const
{
    if (serial >= index.packetCount())
        return false;
    const PacketIndex::Packet &expected = index.packet(serial);
    if (packet->size != expected.size)
        return false;
    return packet->pos < 0 || expected.pos < 0 || packet->pos == expected.pos;
}

int PacketReader::readOwn(AVPacket *packet)
{
    for (;;) {
        if (cancelled())
            return -1;
        const int result = av_read_frame(format, packet);
        if (result < 0)
            return result;
        if (packet->stream_index == stream)
            return 0;
        av_packet_unref(packet);
    }
}

int PacketReader::read(AVPacket *packet)
{
    if (next < 0)
        return -1;
    if (held) {
        av_packet_move_ref(packet, held);
        av_packet_free(&held);
        return next++;
    }
    if (next >= index.packetCount() || readOwn(packet) < 0) {
        next = -1;
        return -1;
    }
    if (!matches(packet, next)) {
        av_packet_unref(packet);
        next = -1;
        return -1;
    }
    return next++;
}

} // namespace Quillmark
