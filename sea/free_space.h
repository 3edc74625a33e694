// The free-space rule: the volume of the working directory must hold three
// times the compressed size.
#pragma once

#include <cstdint>
#include <string>

#include "sea/extract_context.h"

// Free bytes on the volume of the current directory. Logs "Checking free
// disk space", the query used and "Free disk space: %ld Kilobytes".
// Returns 1, or 0 when the system library or the query itself failed.
int GetFreeDiskSpace(uint64_t& free_bytes);

// R = 3 x S in 64-bit unsigned arithmetic.
uint64_t RequiredSpace(int64_t compressed_size);

// "*** FAILURE: Not enough free disk space available: Required disc space
// is <R/1024> KB, available is <F/1024> KB".
std::wstring NotEnoughSpaceMessage(uint64_t required, uint64_t available);

// The rule with abort test 6: enters the working directory, queries
// the free space and compares. The own file is closed on every path.
// Returns 0 after ShowError 13 (no answer) or 14 (too little room).
int CheckFreeSpace(ExtractContext& ctx);

// The comparison for a known free space (the part of CheckFreeSpace after
// the query), with abort test 6.
int ApplyFreeSpaceRule(ExtractContext& ctx, uint64_t free_bytes);
