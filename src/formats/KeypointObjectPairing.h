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
Dataset withPairedKeypointObjects(const Dataset &dataset);

// Whether the format writes a keypoint set as one object with its box (the
// formats above pairing is for), as opposed to the formats that keep every
// drawn shape apart (LabelMe, CVAT XML, the package) or have no objects.
bool formatPairsKeypointObjects(const QString &format);

} // namespace Quillmark
