#include "video/Mpeg4VopReader.h"

#include <cstring>

namespace Quillmark {

namespace {

constexpr uint8_t vopStartCode = 0xB6;
constexpr uint8_t firstLayerStartCode = 0x20;
constexpr uint8_t lastLayerStartCode = 0x2F;

constexpr int extendedPixelAspect = 15;
constexpr int grayscaleShape = 3;
// A VOP header that ends this close behind its start code codes no picture:
// a coded one goes on with quantiser, motion ranges and macroblocks.
constexpr std::size_t shortestCodedVop = 4;
// Packets searched whole for a second picture before a stream is taken for
// one that packs none.
constexpr int packetsToLearnPacking = 64;

// MSB-first reader over a byte range; reading past the end gives zeros and
// sets `overrun`.
class BitReader {
public:
    BitReader(const uint8_t *data, std::size_t size) : data(data), bits(size * 8) {}

    uint32_t read(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 1) | bit();
        return value;
    }
    uint32_t bit()
    {
        if (position >= bits) {
            overrun = true;
            return 0;
        }
        const uint32_t value = (data[position / 8] >> (7 - position % 8)) & 1u;
        ++position;
        return value;
    }
    void skip(int count)
    {
        for (int i = 0; i < count; ++i)
            bit();
    }

    bool overrun = false;

private:
    const uint8_t *data;
    std::size_t bits;
    std::size_t position = 0;
};

// Where the next start code prefix (00 00 01) at or after `from` begins, with
// a byte after it; `size` when none. Looks for the 01 with memchr, which
// reads a whole packet of pictures quickly.
std::size_t nextStartCode(const uint8_t *data, std::size_t size, std::size_t from)
{
    for (std::size_t i = from + 2; i + 1 < size;) {
        const void *one = std::memchr(data + i, 1, size - 1 - i);
        if (!one)
            return size;
        i = std::size_t(static_cast<const uint8_t *>(one) - data);
        if (data[i - 1] == 0 && data[i - 2] == 0)
            return i - 2;
        ++i;
    }
    return size;
}

// The number of bits vop_time_increment takes, from a video object layer
// header whose payload (after the start code) is `data`; 0 when unreadable.
int timeFieldBits(const uint8_t *data, std::size_t size)
{
    BitReader bits(data, size);
    bits.skip(1); // random_accessible_vol
    bits.skip(8); // video_object_type_indication
    int verid = 1;
    if (bits.bit()) { // is_object_layer_identifier
        verid = int(bits.read(4));
        bits.skip(3);
    }
    if (bits.read(4) == extendedPixelAspect)
        bits.skip(16);
    if (bits.bit()) {  // vol_control_parameters
        bits.skip(3);  // chroma_format, low_delay
        if (bits.bit()) // vbv_parameters
            bits.skip(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);
    }
    const uint32_t shape = bits.read(2);
    if (shape == grayscaleShape && verid != 1)
        bits.skip(4);
    if (!bits.bit()) // marker
        return 0;
    const uint32_t resolution = bits.read(16);
    if (bits.overrun || resolution == 0)
        return 0;
    int count = 0;
    for (uint32_t value = resolution - 1; value != 0; value >>= 1)
        ++count;
    return count < 1 ? 1 : count;
}

} // namespace

void Mpeg4VopReader::readConfiguration(const uint8_t *data, std::size_t size)
{
    if (!data)
        return;
    for (std::size_t at = nextStartCode(data, size, 0); at < size; at = nextStartCode(data, size, at + 3)) {
        const uint8_t code = data[at + 3];
        if (code < firstLayerStartCode || code > lastLayerStartCode)
            continue;
        const int found = timeFieldBits(data + at + 4, size - at - 4);
        if (found > 0)
            timeIncrementBits = found;
        return;
    }
}

Mpeg4VopReader::Pictures Mpeg4VopReader::inspect(const uint8_t *data, std::size_t size)
{
    Pictures pictures;
    int vops = 0;
    if (!data || size == 0)
        return pictures;
    for (std::size_t at = nextStartCode(data, size, 0); at < size; at = nextStartCode(data, size, at + 3)) {
        const uint8_t code = data[at + 3];
        if (code >= firstLayerStartCode && code <= lastLayerStartCode) {
            const int found = timeFieldBits(data + at + 4, size - at - 4);
            if (found > 0)
                timeIncrementBits = found;
            continue;
        }
        if (code != vopStartCode)
            continue;
        pictures.recognised = true;
        const std::size_t end = nextStartCode(data, size, at + 4);
        const std::size_t payload = (end < size ? end : size) - (at + 4);
        BitReader bits(data + at + 4, payload);
        const int codingType = int(bits.read(2));
        bool coded = payload >= shortestCodedVop;
        if (timeIncrementBits > 0) {
            while (bits.bit() && !bits.overrun) {
            } // modulo_time_base
            const bool markers = bits.bit() == 1;
            bits.skip(timeIncrementBits);
            const bool secondMarker = bits.bit() == 1;
            // A header that does not fit the configuration read is judged by its length.
            if (markers && secondMarker && !bits.overrun)
                coded = bits.bit() == 1;
        }
        ++vops;
        if (coded) {
            if (pictures.coded < 2)
                pictures.types[pictures.coded] = codingType;
            ++pictures.coded;
        }
        // A stream whose first packets hold one picture each holds one
        // picture in every packet: the rest of a packet, its picture's data,
        // is not searched for a second.
        if (!packed && inspected > packetsToLearnPacking)
            break;
    }
    ++inspected;
    packed = packed || vops > 1;
    return pictures;
}

} // namespace Quillmark
