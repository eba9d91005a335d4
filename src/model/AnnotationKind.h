#pragma once

namespace Quillmark {

// Kind of an annotation; stored as an int in records and files.
enum AnnotationKind : int {
    BoundingBox = 0,
    Polygon = 1,
    Polyline = 2,
    Point = 3,
    Keypoint = 4,
};

} // namespace Quillmark
