#include "platform/LargeAllocations.h"

#include <malloc.h>

namespace platform {

void returnLargeAllocationsWhenFreed()
{
#ifdef __GLIBC__
    // A fixed threshold (256 KiB) also stops the C library from moving it.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

} // namespace platform
