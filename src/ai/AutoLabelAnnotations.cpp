#include "ai/AutoLabelAnnotations.h"

namespace Quillmark {

namespace {

Annotation boxAnnotation(const QString &className, const QRectF &box, float score)
{
    Annotation annotation;
    annotation.className = className;
    annotation.kind = BoundingBox;
    annotation.bbox = box;
    annotation.confidence = score;
    return annotation;
}

} // namespace

bool isBoxOnlyProjectType(const QString &projectType)
{
    return projectType.isEmpty() || projectType == QLatin1String("object_detection") ||
           projectType == QLatin1String("classification");
}

Annotation detectionAnnotation(const Detection &detection)
{
    return boxAnnotation(detection.className, detection.box, detection.score);
}

Annotation segmentationAnnotation(const SegDetection &instance, bool boxOnly)
{
    Annotation annotation = boxAnnotation(instance.className, instance.box, instance.score);
    if (boxOnly)
        return annotation;
    annotation.kind = Polygon;
    annotation.points = instance.polygon;
    return annotation;
}

QList<Annotation> detectionAnnotations(const QList<Detection> &detections)
{
    QList<Annotation> result;
    result.reserve(detections.size());
    for (const Detection &detection : detections)
        result.append(detectionAnnotation(detection));
    return result;
}

QList<Annotation> segmentationAnnotations(const QList<SegDetection> &instances, bool boxOnly)
{
    QList<Annotation> result;
    result.reserve(instances.size());
    for (const SegDetection &instance : instances)
        result.append(segmentationAnnotation(instance, boxOnly));
    return result;
}

} // namespace Quillmark
