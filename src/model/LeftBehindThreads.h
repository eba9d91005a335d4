#pragma once

#include <thread>

namespace Quillmark {

// Workers that could not be waited for. A worker stuck in a read of a file that
// stopped answering (a network share gone) is let go of rather than joined, so
// that neither the window nor the end of the program waits for it. Once any was
// let go of, the program ends without running its static destructors, which
// such a worker could still be using when its read returns.
class LeftBehindThreads {
public:
    // Detaches `thread` and remembers that one was left behind.
    static void leave(std::thread &thread);
    static bool any();
};

} // namespace Quillmark
