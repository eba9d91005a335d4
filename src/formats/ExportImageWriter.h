#pragma once

#include "model/ImageEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

namespace Quillmark {

// Writing an image's pixels into an export: a copy of its file, or the pixels
// it holds in memory. Shared by the export job and the handlers that write
// their own image files.

enum class ExportImageResult {
    Written,  // the file was written (replacing any file of that name)
    IsSource, // the destination is the image's own file; left as it is
    NoPixels, // neither a readable file nor pixels held by the entry
    NotPicture, // the file or the bytes held are no picture; nothing written
    Failed,   // writing failed; an older file there is kept
};

// Writes the image to `destination`, replacing a file of that name (an earlier
// export's image must never stay paired with this export's labels), but never
// the image's own file. The source file is copied byte for byte when its path
// is absolute and the file exists; otherwise the pixels the entry holds are
// written: encoded bytes as they are, decoded pixels in the format the
// destination's suffix names (PNG when that suffix names no writable format).
// A file or encoded bytes that are no picture (a dataset may name any file)
// are never written. The new file takes the destination's place only once it
// is complete.
ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination);

// Whether a handler writing its own images must stop at this result: the
// image was not written although it has pixels (a missing one is checked
// before an export starts).
inline bool stopsExport(ExportImageResult result)
{
    return result == ExportImageResult::Failed || result == ExportImageResult::NotPicture;
}

// The outcome of writing a list of images: the index of the image that
// stopped the list and what writing it came to (-1 when none did).
struct ExportImagesOutcome {
    qsizetype failedIndex = -1;
    ExportImageResult failure = ExportImageResult::Written;
};

// Writes images[i] to destinations[i] with writeExportImage, in order, adding
// one to `done` after each. Stops at the first image that fails or has no
// pixels, setting `stop`, and before the next image once `stop` is set from
// elsewhere (an image that is no picture stops it too). Meant to run on a thread of its own beside other writing.
ExportImagesOutcome writeExportImages(const QList<ImageEntry> &images, const QStringList &destinations,
                                      std::atomic<int> &done, std::atomic<bool> &stop);

// Whether the entry has pixels to export: an existing file at an absolute
// path, or pixels it holds itself. Reads nothing but the file's metadata.
bool hasExportablePixels(const ImageEntry &image);

// Whether the entry's pixels would be refused: its file, or the encoded bytes
// it holds when it has no file, are no picture. Reads the file's header.
bool holdsNoPicture(const ImageEntry &image);

// The line a result adds for entries refused because they are no pictures:
// how many, and the first few of `names`. Empty when there are none.
QString refusedEntriesNote(int count, const QStringList &names);

} // namespace Quillmark
