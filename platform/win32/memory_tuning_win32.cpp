// Allocator tuning on Windows: the process heap keeps freed blocks itself.
#include "platform/memory_tuning.h"

void KeepFreedMemoryForReuse() {}
