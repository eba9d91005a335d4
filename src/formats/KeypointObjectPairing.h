#pragma once

#include "model/Dataset.h"

#include <QString>

namespace Quillmark {

// One face or person is one object in an export: in the pose and face
// formats an object is a box with its keypoints, while a project may hold the
// box and the keypoint set as two annotations drawn apart.
//
// In every image, each keypoint set takes the box that holds all its labelled
// points (the smallest such box, of its own class first; each box goes to one
// set) as its object box, and the box is dropped. A box left over whose class
// is a keypoint class (of a set, of a box paired elsewhere in the dataset, or
// the keypoint template's object class) becomes a keypoint set of the
// dataset's keypoint count with every point unlabelled, carrying the box.
// Other annotations, and datasets without keypoint sets or template, are
// returned as they are.
//
// For the formats that write boxes only (`boxesOnly`), a face is its box: a
// keypoint set paired with a box is dropped instead, and left-over boxes stay
// boxes.
Dataset withPairedKeypointObjects(const Dataset &dataset, bool boxesOnly = false);

// How an export treats a face's box and keypoint set drawn apart.
enum class KeypointPairing {
    KeepApart,  // every drawn shape is written on its own (LabelMe, CVAT XML, the package)
    JoinIntoSet, // a keypoint set is written with its box (COCO, YOLO lines)
    BoxOnly,    // only boxes are written (VOC, CreateML, the CSV and token formats)
};
KeypointPairing keypointPairingOf(const QString &format, bool writesYoloLines);

} // namespace Quillmark
