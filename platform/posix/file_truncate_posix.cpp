// File truncation on POSIX.
#include <errno.h>
#include <unistd.h>

#include "platform/file_truncate.h"
#include "platform/text.h"

bool TruncateFile(const std::wstring& path, uint64_t length, int* error) {
    if (truncate(WideToUtf8(path).c_str(), static_cast<off_t>(length)) == 0) return true;
    *error = errno;
    return false;
}
