#pragma once

#include "formats/RoboflowYoloHandler.h"

namespace Quillmark {

// "YOLOv9": reads, writes and detects exactly as "Roboflow YOLO".
class Yolo9Handler : public RoboflowYoloHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
