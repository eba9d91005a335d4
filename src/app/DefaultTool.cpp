#include "app/DefaultTool.h"

#include <QList>
#include <QPair>

namespace Quillmark {

Tool defaultToolForProjectType(const QString &projectType)
{
    if (projectType == QLatin1String("segmentation") || projectType == QLatin1String("semantic_segmentation"))
        return Tool::Polygon;
    if (projectType == QLatin1String("pose"))
        return Tool::Keypoint;
    // The face and classification tools do nothing on the canvas: a face
    // project starts drawing boxes (the face tool needs its model first), and a
    // classification project, labelled from the class list, selects.
    if (projectType == QLatin1String("classification"))
        return Tool::Select;
    return Tool::BBox;
}

QString projectTypeTitle(const QString &projectType)
{
    static const QList<QPair<QString, QString>> titles = {
        {QStringLiteral("object_detection"), QStringLiteral("Object Detection")},
        {QStringLiteral("semantic_segmentation"), QStringLiteral("Semantic Segmentation")},
        {QStringLiteral("segmentation"), QStringLiteral("Instance Segmentation")},
        {QStringLiteral("pose"), QStringLiteral("Pose Estimation")},
        {QStringLiteral("face"), QStringLiteral("Face Detection")},
        {QStringLiteral("classification"), QStringLiteral("Image Classification")},
    };
    for (const auto &[key, title] : titles) {
        if (key == projectType)
            return title;
    }
    return projectType;
}

} // namespace Quillmark
