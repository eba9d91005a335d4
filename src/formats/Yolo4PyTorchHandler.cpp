#include "formats/Yolo4PyTorchHandler.h"

namespace Quillmark {

QString Yolo4PyTorchHandler::name() const
{
    return QStringLiteral("YOLOv4 PyTorch");
}

} // namespace Quillmark
