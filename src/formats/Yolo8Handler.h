#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv8": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo8Handler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
