#include "formats/Yolo8Handler.h"

namespace Quillmark {

QString Yolo8Handler::name() const { return QStringLiteral("YOLOv8"); }

} // namespace Quillmark
