#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
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

    // The end of a worker told to stop: waits up to `grace` on `ended` (with
    // `lock` held on its mutex) for `hasEnded`, then joins the thread, or
    // leaves it behind when it did not end. Unlocks `lock`.
    template <typename Rep, typename Period, typename HasEnded>
    static void joinOrLeave(std::thread &thread, std::unique_lock<std::mutex> &lock, std::condition_variable &ended,
                            std::chrono::duration<Rep, Period> grace, HasEnded hasEnded)
    {
        const bool done = ended.wait_for(lock, grace, hasEnded);
        lock.unlock();
        if (done)
            thread.join();
        else
            leave(thread);
    }
};

} // namespace Quillmark
