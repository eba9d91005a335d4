#pragma once

#include <cstdint>
#include <functional>

struct AVFormatContext;
struct AVPacket;

namespace Quillmark {

class PacketIndex;

// Reads the packets of one stream of an open container by their serials in a
// PacketIndex. A seek puts the reading exactly at a key packet: demuxers seek
// by time stamps of their own (TS and MPEG program streams land after the key
// packet, times may be damaged, raw streams have none), so the reader seeks
// to a point at or before it (by byte position where the container allows
// it, by time otherwise, earlier and earlier, or from the start), recognises
// where it landed by the packets' positions and sizes, and reads up to the key
// packet. Every packet read afterwards is checked against the index.
class PacketReader {
public:
    // `restart` puts the container back at its start (reopening it) and
    // returns the new context, or null. `cancelled` is asked while reading.
    PacketReader(AVFormatContext *format, int stream, const PacketIndex &index,
                 std::function<AVFormatContext *()> restart, std::function<bool()> cancelled);
    ~PacketReader();
    PacketReader(const PacketReader &) = delete;
    PacketReader &operator=(const PacketReader &) = delete;

    // Positions the reading so that read() gives packet `serial` next.
    bool seekTo(int serial);
    // The next packet into `packet` (to be unreferenced by the caller); its
    // serial, or -1 at the end of the indexed packets, an unreadable rest or a
    // packet that is not the one the index holds next.
    int read(AVPacket *packet);
    // The serial read() gives next; -1 when not positioned.
    int nextSerial() const { return next; }

private:
    enum class Method { Byte, Time, Start };
    bool seekBy(Method method, int64_t value);
    bool landOn(int serial, int first);
    bool matches(const AVPacket *packet, int serial) const;
    int readOwn(AVPacket *packet);
    bool byteSeeking() const;
    bool timesByPresentation() const;

    AVFormatContext *format;
    int stream;
    const PacketIndex &index;
    std::function<AVFormatContext *()> restart;
    std::function<bool()> cancelled;
    int next = -1;
    AVPacket *held = nullptr;
};

} // namespace Quillmark
