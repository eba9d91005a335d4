#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Quillmark {

// Where every picture of a video stream is, found by reading the stream's
// packets once without decoding them. Picture i is the i-th picture of the
// stream in presentation order; its time stamp (in the stream's time base)
// is what a decoded frame is recognised by. Key pictures are where decoding
// can start.
class PictureIndex {
public:
    // Records one packet of the stream, in file order. `time` is the packet's
    // presentation time (its decoding time when it has none); `shown` is false
    // for a packet the decoder reads but never shows (before an edit list's start).
    void addPacket(int64_t time, bool key, bool shown);
    // Sorts what was recorded into presentation order. Called once, after the
    // last packet.
    void finish();

    int count() const { return int(times.size()); }
    bool isEmpty() const { return times.empty(); }
    int64_t timeOf(int picture) const { return times[std::size_t(picture)]; }
    // The picture with exactly this time stamp, or -1.
    int pictureAt(int64_t time) const;

    // The key pictures, by time; the last one whose time is at or before the
    // picture's, or 0 (the first key picture) when none is.
    int keyCount() const { return int(keys.size()); }
    int keyBefore(int picture) const;
    int64_t keyTime(int key) const { return keys[std::size_t(key)]; }
    // The first picture shown at or after the key (what decoding from it reaches first).
    int firstPictureFrom(int key) const;

private:
    std::vector<int64_t> times;
    std::vector<int64_t> keys;
};

} // namespace Quillmark
