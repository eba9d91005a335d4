#pragma once

#include "formats/YoloHandler.h"

namespace Quillmark {

// "YOLOv4 Scaled": the YOLO reader and writer, claiming folders with a
// data.yaml that does not mention "roboflow:" and that do not hold both a
// top-level "images" and a "labels" folder.
class Yolo4ScaledHandler : public YoloHandler {
public:
    QString name() const override;
    bool canImport(const QString &path) const override;
};

} // namespace Quillmark
