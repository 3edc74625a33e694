// Free space on the volume of the current directory.
#pragma once

#include <cstdint>

// How the query was answered (Windows picks by system version and by the
// presence of GetDiskFreeSpaceExA in KERNEL32; POSIX uses statvfs and
// reports kExtended).
enum class FreeSpaceMethod {
    kLibraryUnavailable,  // KERNEL32 could not be loaded: no answer
    kOldSystem,           // system too old for the extended query
    kExtendedMissing,     // extended query not exported: basic query used
    kExtended,            // extended query used
};

// Total free bytes on the volume (not the caller's quota). False when the
// library could not be loaded or the query itself failed; `method` says
// which query was tried in either case.
bool QueryFreeDiskSpace(uint64_t& free_bytes, FreeSpaceMethod& method);
