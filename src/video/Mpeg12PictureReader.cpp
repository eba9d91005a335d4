#include "video/Mpeg12PictureReader.h"

namespace Quillmark {

Mpeg12PictureReader::Type Mpeg12PictureReader::firstPicture(const uint8_t *data, std::size_t size)
{
    if (!data)
        return Unknown;
    // Picture start code 00 00 01 00, then temporal_reference (10 bits) and
    // picture_coding_type (3 bits).
    for (std::size_t i = 0; i + 5 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || data[i + 3] != 0)
            continue;
        const int type = (data[i + 5] >> 3) & 0x7;
        return type >= Intra && type <= Bidirectional ? Type(type) : Unknown;
    }
    return Unknown;
}

} // namespace Quillmark
