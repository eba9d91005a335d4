#pragma once

#include "model/ImageEntry.h"

#include <QDir>
#include <QString>

namespace Quillmark {

// The last component of an image name as a dataset file writes it, cut at
// the last "/" or "\" (datasets written on Windows use either).
QString fileNamePart(const QString &name);

// Where a name that is found neither beside the dataset file nor in the
// "images" folder beside it points.
enum class MissingImage {
    InImagesFolder,    // <base>/images/<last component>
    BesideDatasetFile, // <base>/<name>
};

// The image that a dataset file names, resolved against the file's folder
// `base`: an absolute name as it stands; a relative one beside the dataset
// file when that file is there (a name written on Windows, with "\" between
// its folders, too), else in the "images" folder beside it under the whole
// name or else its last component when that file is there, else where
// `missing` says (the entry then keeps a path to a missing file). An empty name gives an empty
// path. A folder of the image's name is no image.
QString resolveDatasetImagePath(const QDir &base, const QString &name,
                                MissingImage missing = MissingImage::InImagesFolder);

// The entry of an image a dataset file names: the id, the path as
// resolveDatasetImagePath gives it (missing images in "images"), and the size
// read from the image file's header (0 x 0 when it cannot be read).
ImageEntry datasetImageEntry(const QDir &base, const QString &name, int id);

} // namespace Quillmark
