// Temporary folder, random seed and free disk space on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/crypto_random.h"
#include "platform/disk_space.h"
#include "platform/temp_path.h"
#include "platform/text.h"

const wchar_t* const kFallbackTempFolder = L"/tmp";

bool GetTempFolder(std::wstring& path) {
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        const char* value = getenv(name);
        if (value && *value) {
            path = Utf8ToWide(value);
            if (path.back() != L'/') path.push_back(L'/');
            return true;
        }
    }
    path = L"/tmp/";
    return true;
}

bool GetCryptoRandom32(uint32_t& value) {
    uint32_t v = 0;
    ssize_t n;
    do {
        n = getrandom(&v, sizeof v, 0);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof v)) {
        value = v;
        return true;
    }
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    n = read(fd, &v, sizeof v);
    close(fd);
    if (n != static_cast<ssize_t>(sizeof v)) return false;
    value = v;
    return true;
}

bool QueryFreeDiskSpace(uint64_t& free_bytes, FreeSpaceMethod& method) {
    method = FreeSpaceMethod::kExtended;
    struct statvfs vfs;
    if (statvfs(".", &vfs) != 0) return false;
    // All free blocks of the volume, including those reserved for root:
    // the total free space, not the caller's share of it.
    free_bytes = static_cast<uint64_t>(vfs.f_bfree) * static_cast<uint64_t>(vfs.f_frsize);
    return true;
}
