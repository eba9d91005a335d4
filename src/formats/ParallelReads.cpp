#include "formats/ParallelReads.h"

#include "model/JobQueue.h"

#include <QThread>

#include <algorithm>
#include <atomic>

namespace Quillmark {

void readInParallel(int count, const std::function<void(int index)> &read, const ProgressCallback &progress)
{
    constexpr int blockSize = 64;
    constexpr int progressEveryMs = 50;
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    if (threads < 2 || count <= blockSize) {
        for (int i = 0; i < count; ++i) {
            read(i);
            if (progress)
                progress(i + 1, count);
        }
        return;
    }
    std::atomic<int> done{0};
    const auto tell = [&] {
        if (progress)
            progress(done.load(), count);
    };
    JobQueue queue(threads, 2 * threads);
    for (int first = 0; first < count; first += blockSize) {
        const int end = std::min(count, first + blockSize);
        queue.submit([&read, &done, first, end](int) {
            for (int i = first; i < end; ++i)
                read(i);
            done += end - first;
        });
        tell();
    }
    while (!queue.finishWithin(progressEveryMs))
        tell();
    tell();
}

} // namespace Quillmark
