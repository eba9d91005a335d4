#include "canvas/KeypointStyle.h"

namespace Quillmark {

namespace {

const QColor centreGreen(85, 199, 114);
const QColor leftBlue(77, 141, 255);
const QColor rightRed(255, 87, 87);
const QColor unlabelledGrey(136, 136, 136);

enum class Side { Centre, Left, Right };

Side sideOf(int index)
{
    if (index == 0)
        return Side::Centre;
    return (index % 2 == 1) ? Side::Left : Side::Right;
}

KeypointStyle::Dot bodyDot(int index, int visibility)
{
    const QColor side = KeypointStyle::bodySideColor(index);
    switch (visibility) {
    case 0:
        return {unlabelledGrey, 3.5};
    case 1:
        return {side.darker(140), 4.5};
    case 2:
        return {side, 5.5};
    default:
        return {side, 3.5};
    }
}

KeypointStyle::Dot handDot(int index, int visibility)
{
    const QColor finger = KeypointStyle::fingerColor(KeypointStyle::fingerOf(index));
    switch (visibility) {
    case 0:
        return {unlabelledGrey, 3.0};
    case 1:
        return {finger.darker(140), 3.8};
    case 2:
        return {finger, 4.5};
    default:
        return {finger, 3.0};
    }
}

KeypointStyle::Dot chainDot(int visibility)
{
    switch (visibility) {
    case 0:
        return {QColor("#888888"), 3.5};
    case 1:
        return {QColor("#ffb23f"), 4.5};
    default:
        return {QColor("#55c772"), 5.5};
    }
}

} // namespace

const QList<QPair<int, int>> &KeypointStyle::bodyEdges()
{
    static const QList<QPair<int, int>> edges = {
        {0, 1},  {0, 2},  {1, 3},   {2, 4},   {5, 6},   {5, 11},  {6, 12},  {11, 12},
        {5, 7},  {7, 9},  {6, 8},   {8, 10},  {11, 13}, {13, 15}, {12, 14}, {14, 16},
    };
    return edges;
}

const QList<QPair<int, int>> &KeypointStyle::handEdges()
{
    static const QList<QPair<int, int>> edges = {
        {0, 1},   {1, 2},   {2, 3},   {3, 4},   {0, 5},   {5, 6},   {6, 7},
        {7, 8},   {9, 10},  {10, 11}, {11, 12}, {13, 14}, {14, 15}, {15, 16},
        {0, 17},  {17, 18}, {18, 19}, {19, 20}, {5, 9},   {9, 13},  {13, 17},
    };
    return edges;
}

QColor KeypointStyle::bodySideColor(int index)
{
    switch (sideOf(index)) {
    case Side::Centre:
        return centreGreen;
    case Side::Left:
        return leftBlue;
    case Side::Right:
        return rightRed;
    }
    return centreGreen;
}

QColor KeypointStyle::bodyEdgeColor(int from, int to)
{
    const Side a = sideOf(from);
    const Side b = sideOf(to);
    QColor c = centreGreen;
    if (a == Side::Left && b == Side::Left)
        c = leftBlue;
    else if (a == Side::Right && b == Side::Right)
        c = rightRed;
    c.setAlpha(200);
    return c;
}

int KeypointStyle::fingerOf(int index)
{
    if (index <= 0)
        return 0;
    if (index <= 4)
        return 1;
    if (index <= 8)
        return 2;
    if (index <= 12)
        return 3;
    if (index <= 16)
        return 4;
    return 5;
}

QColor KeypointStyle::fingerColor(int finger)
{
    switch (finger) {
    case 1:
        return QColor(255, 159, 64);
    case 2:
        return QColor(77, 141, 255);
    case 3:
        return QColor(85, 199, 114);
    case 4:
        return QColor(184, 107, 255);
    case 5:
        return QColor(255, 87, 87);
    default:
        return QColor(232, 212, 77);
    }
}

KeypointStyle::Dot KeypointStyle::dotFor(int count, int index, int visibility)
{
    if (count == BodyPointCount)
        return bodyDot(index, visibility);
    if (count == HandPointCount)
        return handDot(index, visibility);
    return chainDot(visibility);
}

} // namespace Quillmark
