#pragma once

#include "model/AnnotationKind.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariantMap>

namespace Quillmark {

// One annotation of an image or of a video frame. Coordinates are image pixels,
// origin top left.
struct Annotation {
    int id = -1;                  // row id in the package it was read from, else -1
    QString className;
    int kind = BoundingBox;       // AnnotationKind
    QRectF bbox;
    QList<QPointF> points;        // polygon/polyline vertices, the point, or keypoints
    QList<int> keypointVis;       // per keypoint: 2 visible, 1 occluded, 0 unlabelled
    float confidence = 1.0f;
    // Free attributes: the flags a dataset came with, and geometry the
    // drawing cannot hold (GeometryAttributes.h). The project file and the
    // package keep them all.
    QVariantMap attributes;

    bool operator==(const Annotation &) const = default;
};

} // namespace Quillmark
