// 64-bit positions in C streams (long is 32 bits on Windows).
#pragma once

#include <cstdint>
#include <cstdio>

// Position of the stream; -1 on failure.
int64_t StreamTell(FILE* stream);
// fseek with a 64-bit offset; whence as for fseek.
bool StreamSeek(FILE* stream, int64_t offset, int whence);
