#pragma once

#include "canvas/ViewTransform.h"
#include "model/Annotation.h"

#include <QPointF>
#include <QPolygonF>

namespace Quillmark {

// Where the keypoints of a set appear on the screen. A labelled keypoint sits
// where it is stored. An unlabelled one (visibility 0) has no place in the
// picture: its stored point, often the image origin, means nothing, so it is
// neither drawn nor picked there. The unlabelled keypoints of the selected set
// wait in a row just below its box instead, from where they can be dragged onto
// the picture.
class KeypointTray {
public:
    static constexpr double Gap = 16.0;     // from the box's bottom edge to the row
    static constexpr double Spacing = 18.0; // between neighbours in the row
    static constexpr double Indent = 8.0;   // from the box's left edge to the first one

    // Screen position of every keypoint of the set, in order. Unlabelled ones
    // are in the tray when `withTray`, else at a non-finite point that is never
    // drawn or hit.
    static QPolygonF screenPositions(const Annotation &set, const ViewTransform &view, bool withTray);

    // True for a position that is shown (finite).
    static bool isShown(const QPointF &screen);
};

} // namespace Quillmark
