#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv12": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo12Handler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
