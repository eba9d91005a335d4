#pragma once

#include <cstddef>
#include <cstdint>

namespace Quillmark {

// Reads just enough of MPEG-4 Part 2 headers (Xvid, DivX and the like) to tell
// how many pictures a packet holds: a packet may carry one picture, two (a
// "packed" P- and B-picture pair) or none (an N-VOP: a picture header marked
// "not coded", which encoders write as a placeholder and decoders give no
// picture for). Counting by packets alone would number every picture after
// such a packet wrongly.
class Mpeg4VopReader {
public:
    struct Pictures {
        // Coded pictures in the packet.
        int coded = 0;
        // The coding types of the first two of them, in decode order (-1 for
        // none): 0 intra, 1 predicted, 2 bidirectional, 3 sprite.
        int types[2] = {-1, -1};
        // The first coded picture is an intra picture: decoding can start here.
        bool startsWithIntra() const { return types[0] == 0; }
        // The packet holds picture headers at all; when not, nothing above is known.
        bool recognised = false;
    };

    // Learns the stream's configuration (the length of the time fields) from
    // a video object layer header in `data`, as found in a stream's extradata
    // or at the start of a key packet.
    void readConfiguration(const uint8_t *data, std::size_t size);
    // The pictures of one packet; a configuration found in it is learnt first.
    Pictures inspect(const uint8_t *data, std::size_t size);

private:
    // Bits of vop_time_increment; 0 while no configuration was read.
    int timeIncrementBits = 0;
    // Packets inspected, and whether one held more than one picture header.
    int inspected = 0;
    bool packed = false;
};

} // namespace Quillmark
