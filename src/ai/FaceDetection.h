#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QString>

#include <array>

namespace Quillmark {

// One facial landmark in picture pixels with the model's confidence for it.
struct FaceLandmark {
    float x = 0.0f;
    float y = 0.0f;
    float conf = 0.0f;
};

// One face found by the face engine, in picture pixels. The five landmarks (eyes,
// nose, mouth corners) keep the order of the model's channels; they are all zero
// when the model gives none.
struct FaceDetection {
    static constexpr int landmarkCount = 5;

    QRectF box;
    float score = 0.0f;
    bool hasLandmarks = false;
    std::array<FaceLandmark, landmarkCount> landmarks{};
};

// Registers QList<Quillmark::FaceDetection> with the meta-type system, so lists
// of faces can cross queued connections. Safe to call more than once.
void registerFaceDetectionType();

// The annotation of one face: a box without landmarks, else a keypoint
// annotation whose five points are the landmarks, visible (2) when the model's
// confidence exceeds 0.1 and unlabelled (0) otherwise.
Annotation faceToAnnotation(const FaceDetection &face, const QString &className);

} // namespace Quillmark

Q_DECLARE_METATYPE(Quillmark::FaceDetection)
