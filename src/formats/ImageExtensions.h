#pragma once

#include <QStringList>

namespace Quillmark {

// The program's image file suffixes, lower case and without the dot, in the
// order "jpg", "jpeg", "png", "bmp", "tiff", "tif", "webp". Compare a file's
// lower-cased suffix against it.
extern const QStringList imageExtensions;

// True when the lower-cased suffix of `path` is one of imageExtensions.
bool hasImageExtension(const QString &path);

} // namespace Quillmark
