#pragma once

#include "model/RegularFile.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class QFile;
class QImageReader;

namespace Quillmark {

// The one place where pictures are read. A photo is always seen upright: when
// its EXIF orientation says the camera was turned (or the picture mirrored), the
// pixels are turned back, and the size reported is the upright size. Annotation
// coordinates, stored sizes and exported sizes therefore all refer to the
// upright picture, as common training loaders see it.
//
// Every reader treats its input as hostile and opens nothing but regular
// files (after following symbolic links): a named pipe, a socket or a device
// named as a picture could keep its reader waiting for good, and with it a
// run that waits for that picture, or the program's exit. Such a path is an
// unreadable picture, as a missing file is, with the reason in Result::error.
class PictureLoader {
public:
    // The pixels of a picture, or an empty image and the reason it could not be
    // read (a short lower-case phrase fit to follow "Cannot open <name>: ").
    struct Result {
        QImage image;
        QString error;

        bool ok() const { return !image.isNull(); }
    };

    static Result read(const QString &path);
    static Result read(const QByteArray &encoded);

    // The upright picture scaled down to fit within `bound` (aspect ratio kept,
    // never enlarged). Formats that can decode at a reduced size (JPEG) do so,
    // so a large photo costs little. An empty image when it cannot be read.
    static QImage readFitting(const QString &path, const QSize &bound);
    static QImage readFitting(const QByteArray &encoded, const QSize &bound);

    // The upright size from the picture's header, without decoding its pixels
    // where the header tells it for sure (all but a few GIFs, whose first
    // frame does not fill their screen: those are decoded); an invalid size
    // when the header cannot be read.
    static QSize uprightSize(const QString &path);
    static QSize uprightSize(const QByteArray &encoded);

    // The most megabytes one decoded picture may take, for a machine with this
    // much physical memory: half of it, never less than Qt's own default of
    // 128 MB. A 20,000 x 20,000 panorama (1.6 GB) fits on a 4 GB machine.
    static int allocationLimitFor(qint64 physicalBytes);
    // Sets the limit of every picture reader of the program from the memory of
    // this machine. Called once, at start-up.
    static void raiseAllocationLimit();
    // Physical memory of this machine in bytes, 0 when unknown.
    static qint64 physicalMemory();

private:
    // The upright size the header tells, and whether the decoder is sure to
    // give that size.
    struct HeaderSize {
        QSize upright;
        bool sure = true;
    };

    static Result readWith(QImageReader &reader);
    static QImage readFittingWith(QImageReader &reader, const QSize &bound);
    static HeaderSize headerSizeWith(QImageReader &reader);
    // The header's size when it is sure, else the decoded picture's.
    static QSize uprightSizeWith(QImageReader &reader);
    static QString refusalText(FileRefusal refusal);
    static void aimReaderAt(QImageReader &reader, QFile &file);
};

} // namespace Quillmark
