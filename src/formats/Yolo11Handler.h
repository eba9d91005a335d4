#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv11": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo11Handler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
