#include "model/LeftBehindThreads.h"

#include <atomic>

namespace Quillmark {

namespace {

std::atomic<bool> someLeftBehind{false};

} // namespace

void LeftBehindThreads::leave(std::thread &thread)
{
    if (!thread.joinable())
        return;
    thread.detach();
    someLeftBehind = true;
}

bool LeftBehindThreads::any()
{
    return someLeftBehind;
}

} // namespace Quillmark
