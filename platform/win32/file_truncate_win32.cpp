// File truncation on Windows: move the file pointer, set the end there.
#include <windows.h>

#include <errno.h>

#include "platform/file_truncate.h"

bool TruncateFile(const std::wstring& path, uint64_t length, int* error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(length);
    const bool done = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!done) *error = EIO;
    return done;
}
