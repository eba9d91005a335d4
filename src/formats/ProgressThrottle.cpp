#include "formats/ProgressThrottle.h"

#include <QElapsedTimer>

#include <memory>

namespace Quillmark {

ProgressCallback throttledProgress(ProgressCallback inner, int intervalMs)
{
    if (!inner)
        return {};
    auto clock = std::make_shared<QElapsedTimer>();
    return [inner = std::move(inner), clock, intervalMs](int current, int total) {
        const bool last = current >= total;
        if (clock->isValid() && !last && !clock->hasExpired(intervalMs))
            return;
        clock->start();
        inner(current, total);
    };
}

} // namespace Quillmark
