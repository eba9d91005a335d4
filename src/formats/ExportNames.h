#pragma once

#include "formats/ProgressCallback.h"
#include "model/FunctionRef.h"
#include "model/ImageEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

// File names under which an export writes each image and its label files.
//
// An image's natural stem is the complete base name of its file path (the file
// name without its last extension; "image" when that is empty). Two images of
// one export must never share a stem, or one image's labels would land in the
// other's label file, or be paired with the other's pixels. The stems are
// therefore made unique in dataset order: the first image keeps its natural
// stem, a later one whose stem is taken gets "_2", "_3", ... appended, skipping
// every stem that another image has naturally. Stems are compared ignoring
// letter case, as on the file systems most datasets end up on. The stems
// "classes" and "train" count as taken from the start, since "classes.txt"
// lies beside the YOLO family's label files and "train.txt" beside Darknet's. Without collisions every image keeps its
// natural stem.
//
// Every writer and the export job's image copies take their names from here,
// computed over the same image list, so labels and pixels stay paired.
QStringList uniqueExportStems(const QList<ImageEntry> &images);

// One image of an export as the writers walk them: its position, the entry,
// its unique export stem and the file name it is written or named under.
struct ExportImage {
    int index;
    const ImageEntry &image;
    const QString &stem;
    QString fileName;
};

// Walks the images in order, calling progress(i + 1, n) and then `each` for
// every one, named by uniqueExportStems and exportFileName. Stops, returning
// false, as soon as `each` returns false.
bool forEachExportImage(const QList<ImageEntry> &images, const ProgressCallback &progress,
                        FunctionRef<bool(const ExportImage &image)> each);

// The natural stem of one image path; control characters (a line break
// would cut every list line that names the picture) become "_".
QString naturalExportStem(const QString &filePath);

// The file name an image is written or named under: its stem, ".", and the
// suffix of its file path, or "png" when the path has none (the format the
// export job saves such pixels in), so that named and written files agree.
QString exportFileName(const QString &stem, const QString &filePath);

// `name` made usable as one file or folder name on the file systems datasets
// travel on: path separators, the characters Windows refuses (<>:"|?* and
// control characters), trailing dots and blanks (which Windows drops) and
// names made only of dots become "_"; a device name that Windows reserves
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension, in any case) gets
// "_" after it; an empty name becomes "_". Other names stay as they are.
QString portableFileName(const QString &name);

} // namespace Quillmark
