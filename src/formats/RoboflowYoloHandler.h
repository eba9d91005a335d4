#pragma once

#include "formats/YoloHandler.h"

namespace Quillmark {

// "Roboflow YOLO": the YOLO reader and writer, claiming only folders whose
// data.yaml mentions "roboflow:".
class RoboflowYoloHandler : public YoloHandler {
public:
    QString name() const override;
    bool canImport(const QString &path) const override;
};

// Whether <folder>/data.yaml exists and can be read; its text in `text`.
bool readFolderDataYamlText(const QString &folder, QString *text);

} // namespace Quillmark
