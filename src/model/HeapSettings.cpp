#include "model/HeapSettings.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Quillmark {

void configureHeap()
{
#if defined(__GLIBC__)
    constexpr int growthStep = 16 << 20;
    constexpr int ownMappingFrom = 32 << 20;
    mallopt(M_TOP_PAD, growthStep);
    mallopt(M_MMAP_THRESHOLD, ownMappingFrom);
#endif
}

} // namespace Quillmark
