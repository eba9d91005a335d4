#pragma once

#include "formats/ProgressCallback.h"
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
// is complete. The source file is opened once, without a lookup before: the
// head it is told a picture by and the bytes copied come from that one open.
ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination);

// The outcome of writing a list of images: the first image (in list order)
// whose writing failed and stopped the rest (-1 when none did), the images
// left unwritten because they are no pictures or have no pixels, and for each
// image whether this writing put a file at its destination (not the image's
// own file found there).
struct ExportImagesOutcome {
    qsizetype failedIndex = -1;
    QList<qsizetype> notPictures;
    QList<qsizetype> missing;
    QList<bool> written;
};

// Writes images[i] to destinations[i] with writeExportImage on several
// threads at once, adding one to `done` after each. A failed write stops the
// writing, setting `stop`; so does `stop` set from elsewhere. An image that is
// no picture, or has no pixels, is passed over and named in the outcome, for
// the caller to leave out or to fail on. Waits until the writing has ended;
// meant to run beside other writing.
ExportImagesOutcome writeExportImages(const QList<ImageEntry> &images, const QStringList &destinations,
                                      std::atomic<int> &done, std::atomic<bool> &stop);

// writeExportImages for the handlers that write their own images: progress
// (i, n) for every i from 1 on, told on the calling thread as the pictures are
// written. Images without pixels are passed over (a missing one is checked
// before an export starts). False when a write failed or an image is no
// picture.
bool writeExportImagesReporting(const QList<ImageEntry> &images, const QStringList &destinations,
                                const ProgressCallback &progress);

// What an export finds of an entry's pixels before it writes anything.
enum class ExportSource {
    Picture,    // a picture file, or pixels held in memory
    NotPicture, // its file, or the encoded bytes it holds, are no picture
    Missing,    // neither a file at an absolute path nor pixels held
};

// The entry's pixels looked at once: with `readHead`, its file is opened and
// its head read (one open, no other lookup); without, only its kind is asked
// (one lookup), and a file's content is left to writeExportImage to judge.
ExportSource examineExportSource(const ImageEntry &image, bool readHead);

// The line a result adds for entries refused because they are no pictures:
// how many, and the first few of `names`. Empty when there are none.
QString refusedEntriesNote(int count, const QStringList &names);

} // namespace Quillmark
