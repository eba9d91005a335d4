#include "video/PacketIndex.h"

#include <algorithm>
#include <cstdlib>

namespace Quillmark {

namespace {

// No codec holds back more pictures than this before it gives one out (the
// largest reordering H.264 and H.265 allow is 16): a picture's time rank and
// its place in decode order never lie further apart in a sound stream.
constexpr int mostReordering = 64;
// Packets read past a picture's own before it is given up (by time), or past
// the segment after its own (in decoder order).
constexpr int packetsPastPicture = 256;

} // namespace

bool PacketIndex::shown(int serial) const
{
    const Packet &p = packets[std::size_t(serial)];
    return !keySerials.empty() && serial >= keySerials.front() && p.pictures >= 1 &&
           !(p.flags & (Discard | Dropped));
}

bool PacketIndex::finish(bool reorders)
{
    reordering = reorders;
    keySerials.clear();
    for (int s = 0; s < packetCount(); ++s) {
        if ((packets[std::size_t(s)].flags & Key) && packets[std::size_t(s)].pictures >= 1)
            keySerials.push_back(s);
    }
    if (keySerials.empty())
        return false;
    int64_t last = -1;
    for (const Packet &p : packets) {
        if (p.pos < 0)
            continue;
        if (p.pos <= last)
            positionsAscending = false;
        last = p.pos;
    }
    if (!positionsAscending) {
        byPosition.reserve(packets.size());
        for (int s = 0; s < packetCount(); ++s) {
            if (packets[std::size_t(s)].pos >= 0)
                byPosition.emplace_back(packets[std::size_t(s)].pos, s);
        }
        std::stable_sort(byPosition.begin(), byPosition.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
    }
    leading.assign(keySerials.size(), reordering ? -1 : 0);
    leadingRead = leading;
    keyPictures.assign(keySerials.size(), -1);
    if (timesFollowTheStream())
        buildByTime();
    else
        buildByDecoder();
    return pictures > 0;
}

// Every shown picture has a time of its own, and the times agree with the
// order a decoder gives pictures out in: each segment shows after all the
// segments before it, and within one no picture strays further from its place
// in decode order than reordering allows.
bool PacketIndex::timesFollowTheStream() const
{
    std::vector<std::pair<int64_t, int>> times;
    int64_t shownBefore = noTime;
    int64_t segmentLow = noTime;
    int64_t segmentHigh = noTime;
    std::size_t key = 0;
    for (int s = keySerials.front(); s < packetCount(); ++s) {
        if (key + 1 < keySerials.size() && s == keySerials[key + 1]) {
            ++key;
            if (segmentLow != noTime) {
                if (shownBefore != noTime && segmentLow <= shownBefore)
                    return false;
                shownBefore = std::max(shownBefore, segmentHigh);
            }
            segmentLow = segmentHigh = noTime;
        }
        if (!shown(s))
            continue;
        const Packet &p = packets[std::size_t(s)];
        if (p.pictures != 1 || p.pts == noTime)
            return false;
        segmentLow = segmentLow == noTime ? p.pts : std::min(segmentLow, p.pts);
        segmentHigh = segmentHigh == noTime ? p.pts : std::max(segmentHigh, p.pts);
        times.emplace_back(p.pts, int(times.size()));
    }
    if (segmentLow != noTime && shownBefore != noTime && segmentLow <= shownBefore)
        return false;
    std::sort(times.begin(), times.end());
    for (std::size_t rank = 0; rank < times.size(); ++rank) {
        if (rank > 0 && times[rank].first == times[rank - 1].first)
            return false;
        if (std::abs(times[rank].second - int(rank)) > mostReordering)
            return false;
    }
    return true;
}

void PacketIndex::buildByTime()
{
    order = Numbering::ByTime;
    std::vector<std::pair<int64_t, int>> times;
    for (int s = keySerials.front(); s < packetCount(); ++s) {
        if (shown(s))
            times.emplace_back(packets[std::size_t(s)].pts, s);
    }
    std::sort(times.begin(), times.end());
    pictures = int(times.size());
    pictureOfSerial.assign(packets.size(), -1);
    serialOfPicture.resize(times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
        pictureOfSerial[std::size_t(times[i].second)] = int32_t(i);
        serialOfPicture[i] = times[i].second;
    }
    // A start at a key gives out correctly the pictures shown from the key
    // picture on; the first key's start is the stream's own.
    keyStart.assign(keySerials.size(), 0);
    for (std::size_t k = 1; k < keySerials.size(); ++k) {
        int64_t time = packets[std::size_t(keySerials[k])].pts;
        for (int s = keySerials[k]; time == noTime && s < packetCount(); ++s) {
            if (shown(s))
                time = packets[std::size_t(s)].pts;
        }
        const auto from = time == noTime
                              ? times.end()
                              : std::lower_bound(times.begin(), times.end(), std::make_pair(time, -1));
        keyStart[k] = std::max(keyStart[k - 1], int32_t(from - times.begin()));
    }
}

void PacketIndex::buildByDecoder()
{
    order = Numbering::ByDecoder;
    pictureOfSerial.clear();
    pictureOfSerial.shrink_to_fit();
    serialOfPicture.clear();
    serialOfPicture.shrink_to_fit();
    std::vector<int32_t> counted(keySerials.size(), 0);
    std::size_t key = 0;
    for (int s = keySerials.front(); s < packetCount(); ++s) {
        while (key + 1 < keySerials.size() && s >= keySerials[key + 1])
            ++key;
        if (shown(s))
            counted[key] += packets[std::size_t(s)].pictures;
    }
    // Counts found by decoding stay.
    for (std::size_t k = 0; k < counted.size(); ++k) {
        if (keyPictures[k] < 0)
            keyPictures[k] = counted[k];
    }
    sumSegments();
}

void PacketIndex::sumSegments()
{
    keyStart.assign(keySerials.size(), 0);
    int64_t total = 0;
    for (std::size_t k = 0; k < keySerials.size(); ++k) {
        keyStart[k] = int32_t(total);
        total += keyPictures[k];
    }
    pictures = int(total);
}

int PacketIndex::keyOf(int serial) const
{
    const auto it = std::upper_bound(keySerials.begin(), keySerials.end(), serial);
    return int(it - keySerials.begin()) - 1;
}

int PacketIndex::startKeyFor(int picture) const
{
    const auto it = std::upper_bound(keyStart.begin(), keyStart.end(), picture);
    const int key = std::max(0, int(it - keyStart.begin()) - 1);
    if (order == Numbering::ByTime || key == 0)
        return key;
    // A picture shown before its segment's key picture, or a segment whose
    // pictures before the key picture are not known yet: from the key before,
    // through which the segment decodes whole.
    const int before = leading[std::size_t(key)];
    return before >= 0 && picture >= keyStart[std::size_t(key)] + before ? key : key - 1;
}

int PacketIndex::segmentPictures(int key) const
{
    if (order == Numbering::ByDecoder)
        return keyPictures[std::size_t(key)];
    const int end = key + 1 < keyCount() ? keyStart[std::size_t(key) + 1] : pictures;
    return end - keyStart[std::size_t(key)];
}

int PacketIndex::segmentStart(int key) const
{
    return keyStart[std::size_t(key)];
}

int PacketIndex::serialOf(int picture) const
{
    if (order != Numbering::ByTime || picture < 0 || picture >= pictures)
        return -1;
    return serialOfPicture[std::size_t(picture)];
}

int PacketIndex::lastSerialFor(int picture) const
{
    int serial = serialOf(picture);
    if (serial < 0) {
        const auto it = std::upper_bound(keyStart.begin(), keyStart.end(), picture);
        const std::size_t key = std::size_t(std::max(0, int(it - keyStart.begin()) - 1));
        serial = key + 2 < keySerials.size() ? keySerials[key + 2] - 1 : packetCount() - 1;
    }
    return std::min(packetCount() - 1, serial + packetsPastPicture);
}

int PacketIndex::findPacket(int64_t pos, int32_t size) const
{
    if (pos < 0)
        return -1;
    if (!positionsAscending) {
        auto it = std::lower_bound(byPosition.begin(), byPosition.end(), pos,
                                   [](const auto &entry, int64_t value) { return entry.first < value; });
        for (; it != byPosition.end() && it->first == pos; ++it) {
            if (packets[std::size_t(it->second)].size == size)
                return it->second;
        }
        return -1;
    }
    // Positions rise with the serial; packets without one are stepped over.
    int low = 0;
    int high = packetCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        int probe = middle;
        while (probe < high && packets[std::size_t(probe)].pos < 0)
            ++probe;
        if (probe == high) {
            high = middle;
            continue;
        }
        if (packets[std::size_t(probe)].pos < pos)
            low = probe + 1;
        else
            high = middle;
    }
    for (int s = low; s < packetCount(); ++s) {
        const Packet &p = packets[std::size_t(s)];
        if (p.pos < 0)
            continue;
        return p.pos == pos && p.size == size ? s : -1;
    }
    return -1;
}

int PacketIndex::findByTimes(int64_t dts, int64_t pts, int32_t size, int serial) const
{
    if (dts == noTime && pts == noTime)
        return -1;
    // Seeks land at most a few key packets before the one asked for.
    constexpr int keysBack = 10;
    const int key = std::max(0, keyOf(serial) - keysBack);
    const int from = keySerials.empty() ? 0 : std::min(keySerials[std::size_t(key)], serial);
    int found = -1;
    for (int s = from; s <= serial && s < packetCount(); ++s) {
        const Packet &p = packets[std::size_t(s)];
        if (p.size != size || p.dts != dts || p.pts != pts)
            continue;
        if (found >= 0)
            return -1;
        found = s;
    }
    return found;
}

void PacketIndex::dropFirstKey()
{
    if (keySerials.size() <= 1) {
        keySerials.clear();
        pictures = 0;
        return;
    }
    keySerials.erase(keySerials.begin());
    leading.erase(leading.begin());
    leadingRead.erase(leadingRead.begin());
    keyPictures.assign(keySerials.size(), -1);
    if (order == Numbering::ByTime)
        buildByTime();
    else
        buildByDecoder();
}

void PacketIndex::dropPictures(const std::vector<int> &serials)
{
    for (const int s : serials)
        packets[std::size_t(s)].flags |= Dropped;
    if (order == Numbering::ByTime) {
        buildByTime();
        return;
    }
    keyPictures.assign(keySerials.size(), -1);
    buildByDecoder();
}

void PacketIndex::setSegmentPictures(int key, int count)
{
    keyPictures[std::size_t(key)] = std::max(0, count);
    sumSegments();
}

void PacketIndex::numberInDecoderOrder()
{
    keyPictures.assign(keySerials.size(), -1);
    leading = leadingRead;
    buildByDecoder();
}

void PacketIndex::knowLeading(int serial, int count)
{
    const int key = keyOf(serial);
    if (key < 0 || keySerials[std::size_t(key)] != serial || count < 0)
        return;
    leading[std::size_t(key)] = count;
    leadingRead[std::size_t(key)] = count;
}

PacketIndex::Run::Run(PacketIndex &index, int startKey) : index(index), start(startKey) {}

int PacketIndex::Run::number(int serial)
{
    if (disorder || serial < 0 || serial >= index.packetCount())
        return -1;
    if (index.order == Numbering::ByTime) {
        const int picture = index.pictureOfSerial[std::size_t(serial)];
        if (picture < 0 || (start > 0 && picture < index.keyStart[std::size_t(start)]))
            return -1;
        if (picture <= lastNumbered) {
            // The decoder's order is the truth: the times are not.
            disorder = true;
            index.numberInDecoderOrder();
            return -1;
        }
        lastNumbered = picture;
        return picture;
    }

    const int key = index.keyOf(serial);
    if (key < start)
        return -1;
    const std::size_t offset = std::size_t(key - start);
    if (seen.size() <= offset) {
        seen.resize(offset + 1, 0);
        keyOut.resize(offset + 1, false);
    }
    const bool keyPicture = serial == index.keySerials[std::size_t(key)];
    int rank = 0;
    if (offset == 0 && start > 0) {
        // Decoded from this key on: what comes out before the key picture
        // lacks what it refers to, and the key picture's rank in its segment
        // must be known to number the rest.
        if (!keyOut[0]) {
            if (!keyPicture)
                return -1;
            keyOut[0] = true;
            const int before = index.leading[std::size_t(key)];
            startUnknown = before < 0;
            seen[0] = std::max(before, 0);
        }
        if (startUnknown)
            return -1;
        rank = seen[0]++;
    } else {
        rank = seen[offset]++;
        // Decoded through from the segment before: what came out before the
        // key picture is what a sequential decoding gives out there.
        if (keyPicture && !keyOut[offset]) {
            keyOut[offset] = true;
            index.leading[std::size_t(key)] = rank;
        }
    }
    if (rank >= index.keyPictures[std::size_t(key)])
        return -1;
    const int picture = index.keyStart[std::size_t(key)] + rank;
    if (picture <= lastNumbered)
        return -1;
    lastNumbered = picture;
    return picture;
}

} // namespace Quillmark
