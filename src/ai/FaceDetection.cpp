#include "ai/FaceDetection.h"

namespace Quillmark {

namespace {

// A landmark is drawn as visible only when the model is somewhat sure of it.
constexpr float visibleLandmarkConfidence = 0.1f;

} // namespace

void registerFaceDetectionType()
{
    qRegisterMetaType<QList<Quillmark::FaceDetection>>("QList<Quillmark::FaceDetection>");
}

Annotation faceToAnnotation(const FaceDetection &face, const QString &className)
{
    Annotation annotation;
    annotation.className = className;
    annotation.bbox = face.box;
    annotation.confidence = face.score;
    if (!face.hasLandmarks) {
        annotation.kind = BoundingBox;
        return annotation;
    }
    annotation.kind = Keypoint;
    for (const FaceLandmark &landmark : face.landmarks) {
        annotation.points.append(QPointF(landmark.x, landmark.y));
        annotation.keypointVis.append(landmark.conf > visibleLandmarkConfidence ? 2 : 0);
    }
    return annotation;
}

} // namespace Quillmark
