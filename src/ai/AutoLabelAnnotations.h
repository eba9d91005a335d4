#pragma once

#include "ai/Detection.h"
#include "model/Annotation.h"

#include <QList>
#include <QString>

namespace Quillmark {

// Project types whose annotations are boxes only: "object_detection",
// "classification" and the empty key (no type chosen). A segmentation model
// gives boxes there too.
bool isBoxOnlyProjectType(const QString &projectType);

// A detection as an annotation: a box of the result's class, with its score as
// confidence.
Annotation detectionAnnotation(const Detection &detection);

// An instance as an annotation: a polygon with the instance's outline (which may
// be empty) and the detection's box, or, when boxOnly, just the box.
Annotation segmentationAnnotation(const SegDetection &instance, bool boxOnly);

QList<Annotation> detectionAnnotations(const QList<Detection> &detections);
QList<Annotation> segmentationAnnotations(const QList<SegDetection> &instances, bool boxOnly);

} // namespace Quillmark
