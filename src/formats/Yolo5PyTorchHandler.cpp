#include "formats/Yolo5PyTorchHandler.h"

namespace Quillmark {

QString Yolo5PyTorchHandler::name() const { return QStringLiteral("YOLOv5 PyTorch"); }

} // namespace Quillmark
