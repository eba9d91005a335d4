#pragma once

#include "formats/YoloKerasHandler.h"

namespace Quillmark {

// "YOLOv4 PyTorch": reads, writes and detects exactly as "YOLOv3 Keras".
class Yolo4PyTorchHandler : public YoloKerasHandler {
public:
    QString name() const override;
};

} // namespace Quillmark
