#include "formats/Yolo11Handler.h"

namespace Quillmark {

QString Yolo11Handler::name() const { return QStringLiteral("YOLOv11"); }

} // namespace Quillmark
