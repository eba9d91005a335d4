#include "model/ProjectTypeTable.h"

namespace Quillmark {

const std::array<ProjectTypeInfo, 5> projectTypeTable = {{
    {QStringLiteral("object_detection"), QStringLiteral("Object Detection"),
     QStringLiteral("Draw bounding boxes around objects"), QStringLiteral(":/icons/box.svg"),
     QColor(0x3B, 0x82, 0xF6)},
    {QStringLiteral("segmentation"), QStringLiteral("Instance Segmentation"),
     QStringLiteral("Annotate objects with precise polygon masks"), QStringLiteral(":/icons/poly.svg"),
     QColor(0x8B, 0x5C, 0xF6)},
    {QStringLiteral("pose"), QStringLiteral("Pose Estimation"),
     QStringLiteral("Label body keypoints and skeletal joints"), QStringLiteral(":/icons/pose.svg"),
     QColor(0xF9, 0x73, 0x16)},
    {QStringLiteral("face"), QStringLiteral("Face Detection"),
     QStringLiteral("Detect faces with landmark coordinates"), QStringLiteral(":/icons/face.svg"),
     QColor(0xEC, 0x48, 0x99)},
    {QStringLiteral("classification"), QStringLiteral("Classification"),
     QStringLiteral("Assign category labels to entire images"), QStringLiteral(":/icons/classification.svg"),
     QColor(0x10, 0xB9, 0x81)},
}};

} // namespace Quillmark
