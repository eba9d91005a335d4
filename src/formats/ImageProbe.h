#pragma once

#include "model/Dataset.h"

#include <QByteArray>
#include <QSize>
#include <QString>

namespace Quillmark {

// The pixel size of an image file, read from its header without decoding the
// pixels. A file that is missing or whose header cannot be read gives 0 x 0,
// the size every record and writer treats as unknown.
QSize probeImageSize(const QString &path);

// The same for the encoded bytes of an image held in memory.
QSize probeImageSize(const QByteArray &encoded);

// A copy of the dataset in which every image of unknown size (0 x 0) takes
// the size its pixels have: its file's header, its encoded bytes' header, or
// its decoded pixels. Writers that normalise coordinates by the image size
// are handed this copy, so that they never write pixel values as if they were
// normalised ones. Images whose size stays unknown are left as they are.
Dataset withProbedImageSizes(const Dataset &dataset);

} // namespace Quillmark
