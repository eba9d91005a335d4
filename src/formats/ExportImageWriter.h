#pragma once

#include "model/ImageEntry.h"

#include <QString>

namespace Quillmark {

// Writing an image's pixels into an export: a copy of its file, or the pixels
// it holds in memory. Shared by the export job and the handlers that write
// their own image files.

enum class ExportImageResult {
    Written,         // the file was written
    AlreadyExists,   // a file of that name was there; it is kept
    NoPixels,        // neither a readable file nor pixels in memory
    Failed,          // writing failed; nothing was left at the destination
};

// Writes the image to `destination` unless a file exists there. The source
// file is copied byte for byte when its path is absolute and the file exists;
// otherwise the in-memory pixels are written: encoded bytes as they are,
// decoded pixels in the format the destination's suffix names (PNG when that
// suffix names no writable format).
ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination);

} // namespace Quillmark
