#include <cstdio>

#include "platform/stream_seek.h"

int64_t StreamTell(FILE* stream) { return _ftelli64(stream); }

bool StreamSeek(FILE* stream, int64_t offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0;
}
