#pragma once

#include "formats/ProgressCallback.h"

#include <functional>

namespace Quillmark {

// Runs read(0) ... read(count - 1) on several threads at once, in blocks, for
// readers whose work per item (a picture's header, a label file) is
// independent of every other item's. `read` must touch only what belongs to
// its item. Progress is told on the calling thread as blocks finish. The
// reasons ImportFailure notes on a worker stay on that worker: a reader that
// needs them gathers them per item (an ImportFailure object inside `read`)
// and notes them again on the calling thread.
void readInParallel(int count, const std::function<void(int index)> &read, const ProgressCallback &progress);

} // namespace Quillmark
