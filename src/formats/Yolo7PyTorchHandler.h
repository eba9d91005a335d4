#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv7 PyTorch": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo7PyTorchHandler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
