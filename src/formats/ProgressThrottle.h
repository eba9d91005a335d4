#pragma once

#include "formats/ProgressCallback.h"

namespace Quillmark {

// A callback that hands `inner` the first report, the last one (current ==
// total), and otherwise at most one report per `intervalMs`, dropping the ones
// between. A reader of 100,000 files then posts a few hundred reports to the
// GUI thread instead of 100,000. To be called from one thread at a time, as
// the handlers do. An empty `inner` gives an empty callback.
ProgressCallback throttledProgress(ProgressCallback inner, int intervalMs = 40);

} // namespace Quillmark
