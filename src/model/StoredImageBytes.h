#pragma once

#include <QByteArray>

namespace Quillmark {

// The encoded bytes of an image that are kept outside memory (for one, in the
// package file the image was read from) and read only when the pixels are
// needed: when the image is shown, exported or saved. Implementations are
// immutable and may be read from any thread, several at once.
class StoredImageBytes {
public:
    virtual ~StoredImageBytes() = default;

    // The bytes; an empty array when they can no longer be read (the file was
    // moved, replaced or damaged).
    virtual QByteArray read() const = 0;
};

} // namespace Quillmark
