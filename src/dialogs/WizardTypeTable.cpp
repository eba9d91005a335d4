#include "dialogs/WizardTypeTable.h"

#include <QHash>

namespace Quillmark {

const std::array<WizardTypeRow, 6> wizardTypeTable = {{
    {"object_detection", "Object Detection", ":/images/object_detection.png"},
    {"semantic_segmentation", "Semantic Segm.", ":/images/semantic_segmentation.png"},
    {"segmentation", "Instance Segm.", ":/images/instance_segmentation.png"},
    {"pose", "Pose Estimation", ":/images/key_point_detection.png"},
    {"face", "Face Detection", ":/images/face_detection.png"},
    {"classification", "Classification", ":/images/image_classification.png"},
}};

QString wizardTypeDescription(const QString &typeKey)
{
    static const QHash<QString, QString> descriptions = {
        {"object_detection", "Draw bounding boxes around objects. Supports YOLO, COCO, VOC, and more export formats."},
        {"semantic_segmentation",
         "Assign class labels to image regions using polygons or brush strokes. All pixels of a class share "
         "one label — ideal for scene understanding and pixel-level classification."},
        {"segmentation",
         "Trace individual object boundaries with polygons. Each instance gets its own mask. Exports to COCO, "
         "LabelMe, and similar formats."},
        {"pose", "Label keypoints and skeleton connections. Supports COCO 17, face, hand, or custom schemas."},
        {"face", "Detect faces and annotate 5 facial landmarks (eyes, nose, mouth corners)."},
        {"classification",
         "Assign one category label to each image. No bounding boxes or polygons — image-level labels only."},
    };
    return descriptions.value(typeKey);
}

QString wizardDefaultProjectName(const QString &typeKey)
{
    static const QHash<QString, QString> names = {
        {"object_detection", "My Detection Project"},
        {"semantic_segmentation", "My Semantic Segmentation Project"},
        {"segmentation", "My Instance Segmentation Project"},
        {"pose", "My Pose Project"},
        {"face", "My Face Project"},
        {"classification", "My Classification Project"},
    };
    return names.value(typeKey, QStringLiteral("My Project"));
}

QString wizardSummaryTypeName(const QString &typeKey)
{
    static const QHash<QString, QString> names = {
        {"object_detection", "Object Detection"},
        {"semantic_segmentation", "Semantic Segmentation"},
        {"segmentation", "Instance Segmentation"},
        {"pose", "Pose Estimation"},
        {"face", "Face Detection"},
        {"classification", "Image Classification"},
    };
    return names.value(typeKey, typeKey);
}

} // namespace Quillmark
