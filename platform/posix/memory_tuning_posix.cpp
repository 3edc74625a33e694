// Allocator tuning on POSIX: glibc's malloc returns the top of its heap to
// the system whenever more than the trim threshold is free, and serves big
// blocks with mmap; both make every deflate stream fault in new pages.
#include "platform/memory_tuning.h"

#include <stdlib.h>  // defines __GLIBC__ on glibc systems

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
#endif
}
