#pragma once

#include "model/Dataset.h"
#include "model/ImageEntry.h"

#include <QByteArray>
#include <QSize>
#include <QString>

namespace Quillmark {

// The upright pixel size of an image file (EXIF orientation applied), read
// from its header without decoding the pixels. A file that is missing or whose
// header cannot be read gives 0 x 0, the size every record and writer treats
// as unknown.
QSize probeImageSize(const QString &path);

// The upright pixel size of encoded image bytes, from their header, and the format
// they are in (lower case, as Qt names it: "png", "jpeg", ...). Bytes that are
// no image Qt can read give 0 x 0 and an empty format.
QSize probeImageData(const QByteArray &bytes, QByteArray *format = nullptr);

// Whether the bytes are a picture: an image reader recognises their header.
// A dataset may name any file as an image; only pictures are copied, embedded
// or stored.
bool isPictureData(const QByteArray &bytes);

// Whether the path names a regular file whose bytes are a picture. Reads no
// more than the header.
bool isPictureFile(const QString &path);

// The size a writer normalises an image's coordinates by: the entry's own
// size when both sides are known; otherwise the size of its in-memory pixels
// (decoded, or read from the header of the encoded bytes), else of the header
// of its file when the path is absolute (a bare name is never looked up in
// the working folder). 0 x 0 when none of them tells.
QSize knownImageSize(const ImageEntry &entry);

// A copy of the dataset in which every image of unknown size takes the size
// knownImageSize finds. Writers that normalise coordinates by the image size
// are handed this copy, so that they never write pixel values as if they were
// normalised ones. Images whose size stays unknown are left as they are.
Dataset withProbedImageSizes(const Dataset &dataset);

} // namespace Quillmark
