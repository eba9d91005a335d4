#include "dialogs/KeypointTemplates.h"

namespace Quillmark {

const QStringList &coco17KeypointNames()
{
    static const QStringList names = {
        "Nose",           "Left Eye",   "Right Eye",   "Left Ear",   "Right Ear",   "Left Shoulder",
        "Right Shoulder", "Left Elbow", "Right Elbow", "Left Wrist", "Right Wrist", "Left Hip",
        "Right Hip",      "Left Knee",  "Right Knee",  "Left Ankle", "Right Ankle",
    };
    return names;
}

const QList<QPair<int, int>> &coco17KeypointEdges()
{
    static const QList<QPair<int, int>> edges = {
        {0, 1}, {0, 2}, {1, 3}, {2, 4},  {5, 6},   {5, 11},  {6, 12},  {11, 12},
        {5, 7}, {7, 9}, {6, 8}, {8, 10}, {11, 13}, {13, 15}, {12, 14}, {14, 16},
    };
    return edges;
}

const QStringList &hand21KeypointNames()
{
    static const QStringList names = {
        "Wrist",     "Thumb CMC", "Thumb MCP",  "Thumb IP",   "Thumb Tip",  "Index MCP",  "Index PIP",
        "Index DIP", "Index Tip", "Middle MCP", "Middle PIP", "Middle DIP", "Middle Tip", "Ring MCP",
        "Ring PIP",  "Ring DIP",  "Ring Tip",   "Pinky MCP",  "Pinky PIP",  "Pinky DIP",  "Pinky Tip",
    };
    return names;
}

const QList<QPair<int, int>> &hand21KeypointEdges()
{
    static const QList<QPair<int, int>> edges = [] {
        QList<QPair<int, int>> list;
        for (int finger = 0; finger < 5; ++finger) {
            const int base = 4 * finger;
            list.append({0, base + 1});
            list.append({base + 1, base + 2});
            list.append({base + 2, base + 3});
            list.append({base + 3, base + 4});
        }
        list.append({5, 9});
        list.append({9, 13});
        list.append({13, 17});
        return list;
    }();
    return edges;
}

const QStringList &face5KeypointNames()
{
    static const QStringList names = {QStringLiteral("Left Eye"), QStringLiteral("Right Eye"), QStringLiteral("Nose"),
                                      QStringLiteral("Left Mouth Corner"), QStringLiteral("Right Mouth Corner")};
    return names;
}

} // namespace Quillmark
