#include "formats/ProgressThrottle.h"

#include <QElapsedTimer>

#include <memory>

namespace Quillmark {

ProgressCallback throttledProgress(ProgressCallback inner, int intervalMs)
{
    if (!inner)
        return {};
    auto sinceLast = std::make_shared<QElapsedTimer>();
    return [inner = std::move(inner), sinceLast, intervalMs](int current, int total) {
        const bool due = !sinceLast->isValid() || current >= total || sinceLast->elapsed() >= intervalMs;
        if (!due)
            return;
        sinceLast->start();
        inner(current, total);
    };
}

} // namespace Quillmark
