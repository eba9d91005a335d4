#pragma once

#include <QColor>
#include <QList>
#include <QPair>

namespace Quillmark {

// Colours, dot sizes and skeletons of keypoint sets. A set of 17 points is drawn
// as a human body (left side blue, right side red, centre green), a set of 21 as
// a hand (one colour per finger); any other count as a numbered chain.
class KeypointStyle {
public:
    static constexpr int BodyPointCount = 17;
    static constexpr int HandPointCount = 21;

    // The 16 limbs of the body skeleton and the 21 bones of the hand, as index pairs.
    static const QList<QPair<int, int>> &bodyEdges();
    static const QList<QPair<int, int>> &handEdges();

    // Body side of a keypoint index: centre (0) green, odd (left) blue, even (right) red.
    static QColor bodySideColor(int index);
    // Colour of a body limb: blue when both ends are left, red when both are right,
    // green otherwise; alpha 200.
    static QColor bodyEdgeColor(int from, int to);

    // Finger of a hand keypoint: 0 wrist, 1 thumb ... 5 little finger.
    static int fingerOf(int index);
    static QColor fingerColor(int finger);

    // Colour and radius (screen pixels) of keypoint `index` of a set of
    // `count` points with the given visibility.
    struct Dot {
        QColor color;
        double radius;
    };
    static Dot dotFor(int count, int index, int visibility);
};

} // namespace Quillmark
