#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Quillmark {

// Every packet of a video stream in the order the file holds them (decode
// order), read once without decoding, and how the pictures they decode to are
// numbered. Picture i is the i-th picture a decoder gives out when it decodes
// the stream from its first key packet on: pictures before the first key
// packet (a file cut in the middle of a group of pictures) are not counted.
//
// A packet is named by its serial, its place in decode order. Decoding starts
// at key packets; the packets from one key packet up to the next make up the
// key's segment.
//
// The pictures are numbered in one of two ways:
// - by time, when every picture has a presentation time of its own and the
//   times follow the stream (later segments show later): picture i is the
//   packet with the i-th time;
// - in decoder order, when times are missing (AVI with B-frames, raw streams)
//   or damaged (shared, backwards, restarting, all zero): the pictures of a
//   segment follow those of the segments before it, in the order the decoder
//   gives them out. How many of a segment's pictures the decoder gives out
//   before the key picture itself (pictures shown before it, decoded after it)
//   is learnt while decoding through the segment from the one before.
class PacketIndex {
public:
    static constexpr int64_t noTime = INT64_MIN;

    enum Flag : uint8_t {
        // Decoding can start at this packet.
        Key = 1,
        // The decoder reads the packet but gives out no picture for it (before
        // an edit list's start).
        Discard = 2,
        // Found by decoding: its picture never comes out.
        Dropped = 4,
    };

    struct Packet {
        int64_t pos = -1;
        int64_t dts = noTime;
        int64_t pts = noTime;
        int32_t size = 0;
        uint8_t flags = 0;
        // Pictures the packet's data holds: 0 for a picture header marked not
        // coded, 2 for a packed pair.
        uint8_t pictures = 1;
    };

    enum class Numbering { ByTime, ByDecoder };

    // Records one packet, in file order.
    void add(const Packet &packet) { packets.push_back(packet); }
    // Decides the numbering once the last packet was added. `reorders`: the
    // codec may give pictures out in another order than it reads them. False
    // when no picture can be shown (no key packet, nothing after it).
    bool finish(bool reorders);

    int packetCount() const { return int(packets.size()); }
    const Packet &packet(int serial) const { return packets[std::size_t(serial)]; }
    int pictureCount() const { return pictures; }
    Numbering numbering() const { return order; }

    int keyCount() const { return int(keySerials.size()); }
    int keySerial(int key) const { return keySerials[std::size_t(key)]; }
    // The key whose segment holds the packet; -1 before the first key.
    int keyOf(int serial) const;
    // The key to start decoding from for the picture.
    int startKeyFor(int picture) const;
    // Pictures of a key's segment and the number of the first of them (in
    // decoder order; by time, the lowest picture a start at the key gives out
    // correctly).
    int segmentPictures(int key) const;
    int segmentStart(int key) const;
    // In decoder order: pictures a key's segment gives out before the key
    // picture; -1 while not known.
    int leadingPictures(int key) const { return leading[std::size_t(key)]; }
    // By time: the packet of a picture; -1 in decoder order.
    int serialOf(int picture) const;
    // A serial that decoding for the picture may read up to before the
    // picture must have come out.
    int lastSerialFor(int picture) const;

    // The packet at this byte position with this size; -1 when none.
    int findPacket(int64_t pos, int32_t size) const;
    // For containers that give no positions: the one packet with these times
    // and size among those up to `serial` and a few segments before it; -1
    // when none or more than one.
    int findByTimes(int64_t dts, int64_t pts, int32_t size, int serial) const;

    // Corrections found by decoding: the first key packet cannot be decoded
    // (its segment is left out and the next key becomes the first); these
    // packets' pictures never come out (by time); a segment gives out this
    // many pictures (in decoder order); the times do not follow the order the
    // decoder gives pictures out in (numbering switches to decoder order).
    void dropFirstKey();
    void dropPictures(const std::vector<int> &serials);
    void setSegmentPictures(int key, int count);
    void numberInDecoderOrder();
    // Read from the headers: this key packet's segment gives out `count`
    // pictures before the key picture (in decoder order).
    void knowLeading(int serial, int count);

    // Numbers the pictures one decoding run gives out, from its start key on.
    class Run {
    public:
        Run(PacketIndex &index, int startKey);
        // The picture decoded from packet `serial` (its key picture or not),
        // -1 when the run cannot name it (a picture shown before the start
        // key's own, decoded without what it refers to).
        int number(int serial);
        // The run gave out pictures in an order the times contradict; the
        // numbering has switched and the run must start over.
        bool disordered() const { return disorder; }
        int startKey() const { return start; }
        // In decoder order: the pictures of a key's segment given out so far.
        int givenOut(int key) const
        {
            const int offset = key - start;
            return offset >= 0 && offset < int(seen.size()) ? seen[std::size_t(offset)] : 0;
        }

    private:
        PacketIndex &index;
        int start;
        int lastNumbered = -1;
        bool disorder = false;
        // Decoder order: pictures given out per segment from the start key on,
        // and whether its key picture came out.
        std::vector<int> seen;
        std::vector<bool> keyOut;
        bool startUnknown = false;
    };

private:
    bool shown(int serial) const;
    bool timesFollowTheStream() const;
    void buildByTime();
    void buildByDecoder();
    void sumSegments();

    std::vector<Packet> packets;
    std::vector<int> keySerials;
    bool reordering = true;
    Numbering order = Numbering::ByDecoder;
    int pictures = 0;

    // By time.
    std::vector<int32_t> pictureOfSerial;
    std::vector<int32_t> serialOfPicture;
    // Per key: by time, the lowest picture a start at it gives out; in
    // decoder order, the first picture of its segment.
    std::vector<int32_t> keyStart;
    // In decoder order: pictures per segment, and those given out before the
    // key picture (-1 until learnt).
    std::vector<int32_t> keyPictures;
    std::vector<int32_t> leading;
    // What of `leading` the headers told.
    std::vector<int32_t> leadingRead;

    bool positionsAscending = true;
    std::vector<std::pair<int64_t, int32_t>> byPosition;
};

} // namespace Quillmark
