#pragma once

#include "formats/ProgressCallback.h"

namespace Quillmark {

// A progress callback that passes on at most one report per `intervalMs` to
// `inner`: the first report, then the next one once the interval has passed,
// and always the last one (current reaching total). For workers whose every
// report costs a queued call to the GUI thread: a job over 100,000 images then
// posts a few dozen reports a second instead of one per image, and the bar
// still ends full. The returned callback is meant for one thread (the worker's);
// an empty `inner` gives an empty callback.
ProgressCallback throttledProgress(ProgressCallback inner, int intervalMs = 50);

} // namespace Quillmark
