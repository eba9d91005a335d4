#pragma once

#include <cstddef>
#include <cstdint>

namespace Quillmark {

// Reads the coding type of the first picture in a packet of an MPEG-1 or
// MPEG-2 video stream (as DVDs, program streams and transport streams of TV
// carry them).
class Mpeg12PictureReader {
public:
    enum Type { Unknown = 0, Intra = 1, Predicted = 2, Bidirectional = 3 };
    static Type firstPicture(const uint8_t *data, std::size_t size);
};

} // namespace Quillmark
