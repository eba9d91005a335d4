#pragma once

#include "model/Annotation.h"

#include <QList>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace Quillmark {

// Geometry rules shared by the canvas's tools, in image pixels: the box that
// follows a shape's points, the visibility of a keypoint, and how edits are kept
// within the picture.
//
// The box of a keypoint set is the object's box (a person's box, larger than
// the hull of its keypoints in imported data). Edits never replace it by the
// hull: moving the set moves the box, and placing a keypoint outside it grows
// the box only as far as needed.
class AnnotationGeometry {
public:
    // Bounding rectangle of the points; a null rectangle for none.
    static QRectF pointBounds(const QList<QPointF> &points);

    // Visibility of keypoint `index`: the stored value, or 2 (visible) when the
    // list stops before it.
    static int visibilityAt(const Annotation &annotation, int index);
    static bool isLabelled(const Annotation &annotation, int index) { return visibilityAt(annotation, index) > 0; }

    // Bounds of the labelled keypoints (visibility above 0); nothing when none
    // is labelled. Unlabelled keypoints are often stored at the origin, which
    // would otherwise stretch the bounds there.
    static std::optional<QRectF> labelledBounds(const Annotation &annotation);

    // The box of a new keypoint set: the bounds of its labelled points, of all
    // points when none is labelled.
    static QRectF keypointBounds(const Annotation &annotation);

    // The rectangle grown just enough to hold the point.
    static QRectF grownToHold(const QRectF &rect, const QPointF &point);
    // True when a keypoint set carries an object box: one of zero width and
    // height (a set stored without a box, or of a single keypoint) does not.
    static bool hasObjectBox(const Annotation &set) { return set.bbox.width() != 0 || set.bbox.height() != 0; }
    // The box of a keypoint set after keypoint `index` was placed or made
    // visible: its object box grown just enough to hold the keypoint, or the
    // bounds of its labelled keypoints when it has no object box.
    static QRectF boxAfterKeypointEdit(const Annotation &set, int index);

    // What the canvas keeps within the picture when a shape moves: the box of a
    // box, every polygon of a polygon object, the labelled keypoints and the box
    // of a keypoint set.
    static QRectF extent(const Annotation &annotation);

    // The frame whose handles resize the annotation: a box's box, the bounds of
    // every polygon of a polygon object, a keypoint set's object box. Nothing
    // for a keypoint set without a box and for the kinds the canvas does not
    // draw.
    static std::optional<QRectF> handleFrame(const Annotation &annotation);

    // Whether the annotation carries a run-length mask: a crowd region. Such a
    // mask lies on the picture's pixels, so the region moves and resizes by
    // whole pixels.
    static bool carriesMask(const Annotation &annotation);

    // The annotation moved by `d` with everything it keeps (the shared
    // mappedAnnotation): a box's box, a polygon's points and kept parts (its box
    // following them), a keypoint set's labelled keypoints and its box, a
    // crowd region's mask and area. Unlabelled keypoints stay where they are
    // stored.
    static Annotation translated(const Annotation &annotation, const QPointF &d);

    // The polygon mapped from the rectangle `from` onto `to` (either may be
    // flipped) with every kept part, kept within `picture`, its box following
    // the new points: a handle resize of a polygon scales it, so the box
    // always bounds the points.
    static Annotation scaled(const Annotation &polygon, const QRectF &from, const QRectF &to,
                             const QRectF &picture = QRectF());

    // Clamping to the picture (0, 0, width, height); an empty picture rectangle
    // (size unknown) leaves everything as it is.
    static QPointF clamped(const QPointF &point, const QRectF &picture);
    static QRectF clamped(const QRectF &rect, const QRectF &picture);
    // The shift `d` limited so that `extent` moved by it stays in the picture;
    // an extent larger than the picture may only move towards covering it.
    static QPointF clampedShift(const QRectF &extent, const QPointF &d, const QRectF &picture);
    // The same in whole pixels, for a crowd region.
    static QPointF clampedWholeShift(const QRectF &extent, const QPointF &d, const QRectF &picture);
};

} // namespace Quillmark
