#pragma once

namespace Quillmark {

// Drawing and assistance tools, passed around as their int values. The side tool
// bar offers them per project type; the canvas acts on Select to Keypoint.
enum class Tool : int {
    Select = 0,
    BBox = 1,
    Polygon = 2,
    Keypoint = 3,
    Classification = 4,
    AiLabel = 5,
    Pose = 6,
    Face = 7,
};

} // namespace Quillmark
