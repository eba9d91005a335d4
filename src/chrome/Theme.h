#pragma once

namespace Quillmark {
namespace Theme {

// The two themes; stored as an int under "ui/theme".
enum Mode : int {
    Light = 0,
    Dark = 1,
};

} // namespace Theme
} // namespace Quillmark
