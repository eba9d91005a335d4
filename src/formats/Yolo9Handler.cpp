#include "formats/Yolo9Handler.h"

namespace Quillmark {

QString Yolo9Handler::name() const { return QStringLiteral("YOLOv9"); }

} // namespace Quillmark
