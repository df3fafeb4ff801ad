#include "platform/allocator.h"

#include <cstdlib>  // defines __GLIBC__ on glibc systems

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void KeepFreedBlocks() {
#if defined(__GLIBC__)
    // Fixed values also switch off glibc's sliding thresholds.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

}  // namespace platform
