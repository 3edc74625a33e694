// Heap behaviour for programs that allocate and free the same large blocks
// over and over (a deflate stream per file takes about 300 KB).
#pragma once

// Asks the C library's allocator to keep freed memory for reuse instead of
// returning it to the system at once, so that the next block of the same
// size costs no fresh (zeroed) pages. glibc: raised trim and mmap
// thresholds; elsewhere nothing to do.
void KeepFreedMemoryForReuse();
