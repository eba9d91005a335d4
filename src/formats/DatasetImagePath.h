#pragma once

#include <QDir>
#include <QString>

namespace Quillmark {

// The last component of an image name as a dataset file writes it, cut at
// the last "/" or "\" (datasets written on Windows use either).
QString fileNamePart(const QString &name);

// The image that a dataset file names, resolved against the file's folder
// `base`: an absolute name as it stands; a relative one beside the dataset
// file when it is there, else in the "images" folder beside it under its
// last component (where the path then points even when that file is missing
// too). An empty name gives an empty path.
QString resolveDatasetImagePath(const QDir &base, const QString &name);

} // namespace Quillmark
