#pragma once

#include <QList>
#include <QPair>
#include <QStringList>

namespace Quillmark {

// Skeleton definitions offered on the wizard's keypoint page. The index of a
// name is its keypoint index; edges are pairs of such indices.

// COCO 17 body keypoints ("Nose" to "Right Ankle") and their 16 edges.
const QStringList &coco17KeypointNames();
const QList<QPair<int, int>> &coco17KeypointEdges();

// 21 hand keypoints (wrist, then four joints per finger from thumb to pinky)
// and their 23 edges: each finger chained from the wrist, then the knuckle line.
const QStringList &hand21KeypointNames();
const QList<QPair<int, int>> &hand21KeypointEdges();

// The five face landmarks, in the order the face engine gives them: the eyes,
// the nose tip and the mouth corners. They have no edges.
const QStringList &face5KeypointNames();

} // namespace Quillmark
