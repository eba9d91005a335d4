#include "formats/Yolo12Handler.h"

namespace Quillmark {

QString Yolo12Handler::name() const { return QStringLiteral("YOLOv12"); }

} // namespace Quillmark
