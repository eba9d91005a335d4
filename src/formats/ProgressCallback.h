#pragma once

#include <functional>

namespace Quillmark {

// Progress of a long operation: (current, total), current counting from 1 and
// reaching total at the end. May be empty; call it only when set. It runs on the
// thread of the operation; the caller posts the numbers to the GUI thread.
using ProgressCallback = std::function<void(int current, int total)>;

} // namespace Quillmark
