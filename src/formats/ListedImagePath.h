#pragma once

#include <QDir>
#include <QString>

namespace Quillmark {

// The image that a dataset file names by a path relative to its own folder
// `base` (the CSV formats, the YOLOv3 Keras list): an absolute name is taken
// as it stands; otherwise <base>/<name> when that file exists, else
// <base>/images/<last component of name>, whether or not that exists (the
// entry then keeps a path to a missing file). An empty name gives an empty path.
QString resolveListedImagePath(const QDir &base, const QString &name);

// The last component of a path written with "/" or "\" separators.
QString lastPathComponent(const QString &name);

} // namespace Quillmark
