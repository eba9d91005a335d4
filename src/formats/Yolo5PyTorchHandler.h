#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv5 PyTorch": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo5PyTorchHandler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
