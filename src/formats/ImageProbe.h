#pragma once

#include <QSize>
#include <QString>

namespace Quillmark {

// The upright pixel size of an image file (EXIF orientation applied), read
// from its header without decoding the pixels. A file that is missing or whose header cannot be read gives 0 x 0,
// the size every record and writer treats as unknown.
QSize probeImageSize(const QString &path);

} // namespace Quillmark
