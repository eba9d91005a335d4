#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QFont>
#include <QRectF>

namespace Quillmark {

class ClassTagCache;
class RegionMaskCache;

// The screen rectangle that holds every pixel AnnotationPainter draws for an
// annotation: its shape (every part of an object of several) with pens,
// handles, vertex squares, keypoint dots with rings and numbers, the tray of
// unlabelled keypoints, a crowd region's mask, and its class tag. The canvas
// redraws only such rectangles when a few annotations change.
class AnnotationFootprint {
public:
    AnnotationFootprint(const ViewTransform &view, const QFont &baseFont, bool showLabels,
                        ClassTagCache *tags = nullptr, RegionMaskCache *masks = nullptr);

    // An empty rectangle for an annotation that draws nothing.
    QRectF of(const Annotation &annotation, bool selected) const;

private:
    QRectF tagRect(const QString &name, const QPointF &anchor) const;
    QRectF shapeOf(const Annotation &a, bool selected, QRectF *tag) const;

    ViewTransform view;
    bool showLabels;
    ClassTagCache *tags;
    RegionMaskCache *masks;
    QFont tagFont;
};

} // namespace Quillmark
