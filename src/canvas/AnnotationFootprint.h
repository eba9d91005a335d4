#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QFont>
#include <QRectF>

namespace Quillmark {

class ClassTagCache;

// The screen rectangle that holds every pixel AnnotationPainter draws for an
// annotation: its shape with pens, handles, vertex squares, keypoint dots with
// rings and numbers, the tray of unlabelled keypoints, and its class tag. The
// canvas redraws only such rectangles when a few annotations change.
class AnnotationFootprint {
public:
    AnnotationFootprint(const ViewTransform &view, const QFont &baseFont, bool showLabels,
                        ClassTagCache *tags = nullptr);

    // An empty rectangle for an annotation that draws nothing.
    QRectF of(const Annotation &annotation, bool selected) const;

private:
    QRectF tagRect(const QString &name, const QPointF &anchor) const;

    ViewTransform view;
    bool showLabels;
    ClassTagCache *tags;
    QFont tagFont;
};

} // namespace Quillmark
