// How many kernel objects this process holds open: file descriptors on
// POSIX, handles on Windows. For leak checks around repeated work.
#pragma once

#include <cstdint>

// The current count, or -1 when the system cannot tell.
int64_t CountOpenHandles();
