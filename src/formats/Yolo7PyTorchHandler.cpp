#include "formats/Yolo7PyTorchHandler.h"

namespace Quillmark {

QString Yolo7PyTorchHandler::name() const { return QStringLiteral("YOLOv7 PyTorch"); }

} // namespace Quillmark
