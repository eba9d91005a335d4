#include "model/VideoEntry.h"

namespace Quillmark {

bool VideoEntry::isLabelled() const
{
    for (const auto &list : frameLabels) {
        if (!list.isEmpty())
            return true;
    }
    return false;
}

} // namespace Quillmark
