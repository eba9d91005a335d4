#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QByteArray>

class QIODevice;

namespace Quillmark {

// The COCO document of a dataset: "annotations", "categories" and "images".
// Categories are the dataset's classes in class order (ids from 1); keypoint
// classes carry the schema's names and skeleton. A polygon object is written
// with every part it came with, its box and its area as they came; a crowd
// region with its flag and its run-length mask; polylines and points by the
// box of their points, without a segmentation. Flags an annotation came with
// from a COCO file are written back. Progress (i + 1, n) comes before each
// image.
// Writes it to `device`; false when a write failed.
bool writeCocoJson(QIODevice &device, const Dataset &dataset, const ProgressCallback &progress = ProgressCallback());

// The same document as bytes.
QByteArray cocoJsonBytes(const Dataset &dataset, const ProgressCallback &progress = ProgressCallback());

} // namespace Quillmark
