#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QString>

namespace Quillmark {

// One keypoint in picture pixels: the model's score for it and the visibility
// it is given (2 visible, 1 occluded, 0 unlabelled, as in Annotation).
struct PoseKeypoint {
    float x = 0.0f;
    float y = 0.0f;
    float score = 0.0f;
    int visibility = 0;
};

// One person (or hand) found by the pose engine, in picture pixels.
struct PosePerson {
    QRectF box;
    float score = 0.0f;
    QList<PoseKeypoint> keypoints;
};

// Registers QList<Quillmark::PosePerson> with the meta-type system, so lists of
// persons can cross queued connections. Safe to call more than once.
void registerPosePersonType();

// The keypoint annotation of one person: its box, its score as confidence, the
// keypoint positions as points and their visibilities, in keypoint order.
Annotation posePersonToAnnotation(const PosePerson &person, const QString &className);

} // namespace Quillmark

Q_DECLARE_METATYPE(Quillmark::PosePerson)
