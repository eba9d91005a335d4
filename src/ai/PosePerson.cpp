#include "ai/PosePerson.h"

namespace Quillmark {

void registerPosePersonType()
{
    qRegisterMetaType<QList<Quillmark::PosePerson>>("QList<Quillmark::PosePerson>");
}

Annotation posePersonToAnnotation(const PosePerson &person, const QString &className)
{
    Annotation annotation;
    annotation.className = className;
    annotation.kind = Keypoint;
    annotation.bbox = person.box;
    annotation.confidence = person.score;
    annotation.points.reserve(person.keypoints.size());
    annotation.keypointVis.reserve(person.keypoints.size());
    for (const PoseKeypoint &keypoint : person.keypoints) {
        annotation.points.append(QPointF(keypoint.x, keypoint.y));
        annotation.keypointVis.append(keypoint.visibility);
    }
    return annotation;
}

} // namespace Quillmark
