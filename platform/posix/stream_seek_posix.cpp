#include <stdio.h>
#include <sys/types.h>

#include "platform/stream_seek.h"

int64_t StreamTell(FILE* stream) { return static_cast<int64_t>(ftello(stream)); }

bool StreamSeek(FILE* stream, int64_t offset, int whence) {
    return fseeko(stream, static_cast<off_t>(offset), whence) == 0;
}
