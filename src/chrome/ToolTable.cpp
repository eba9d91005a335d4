#include "chrome/ToolTable.h"

namespace Quillmark {

const std::array<ToolTableRow, 8> toolTable = {{
    {Tool::Select, ":/icons/label.svg", "Select / Label (V)", false},
    {Tool::BBox, ":/icons/box.svg", "Bounding Box (B)", false},
    {Tool::Polygon, ":/icons/poly.svg", "Polygon (P)", false},
    {Tool::Keypoint, ":/icons/keypt.svg", "Keypoint (O)", false},
    {Tool::Classification, ":/icons/classification.svg", "Classification (C)", false},
    {Tool::AiLabel, ":/icons/ai_auto_label.svg", "AI Auto Label", true},
    {Tool::Pose, ":/icons/pose.svg", "Pose Annotation", false},
    {Tool::Face, ":/icons/face.svg", "Face Detection", false},
}};

const QMap<QString, QList<int>> &allowedToolsByProjectType()
{
    static const QMap<QString, QList<int>> map = {
        {QStringLiteral("object_detection"), {0, 1, 5}},
        {QStringLiteral("segmentation"), {0, 2, 5}},
        {QStringLiteral("semantic_segmentation"), {0, 2, 5}},
        {QStringLiteral("pose"), {0, 3, 6}},
        {QStringLiteral("face"), {0, 1, 3, 7}},
        {QStringLiteral("classification"), {0}},
    };
    return map;
}

bool isToolAllowed(const QString &projectType, int tool)
{
    if (projectType.isEmpty())
        return false;
    const auto &map = allowedToolsByProjectType();
    const auto it = map.constFind(projectType);
    return it == map.constEnd() || it->contains(tool);
}

} // namespace Quillmark
