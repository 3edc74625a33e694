// Low-level file I/O through the C runtime's wide descriptor calls, plus the
// Win32 time-zone and file-time services.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <time.h>

#include "platform/file_attributes.h"
#include "platform/file_io.h"

namespace {

int OpenWith(const wchar_t* path, int flags, int permission, int* error) {
    int fd = -1;
    errno_t result = _wsopen_s(&fd, path, flags | _O_BINARY, _SH_DENYNO, permission);
    if (result != 0 || fd < 0) {
        *error = result != 0 ? result : errno;
        return -1;
    }
    return fd;
}

bool Succeeded(int result, int* error) {
    if (result == 0) return true;
    *error = errno;
    return false;
}

}  // namespace

int FileOpenRead(const wchar_t* path, int* error) {
    return OpenWith(path, _O_RDONLY, 0, error);
}

int FileCreateTruncate(const wchar_t* path, int* error) {
    return OpenWith(path, _O_RDWR | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE, error);
}

int FileCreateExclusive(const wchar_t* path, int* error) {
    return OpenWith(path, _O_RDWR | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE, error);
}

int32_t FileRead(int fd, void* destination, uint32_t count, int* error) {
    int n = _read(fd, destination, count);
    if (n < 0) *error = errno;
    return n;
}

// ReadFile with an offset reads there on a handle opened for synchronous
// use; it leaves the handle's position after the bytes read, which only
// readers that seek first would notice.
int32_t FileReadAt(int fd, void* destination, uint32_t count, uint64_t offset, int* error) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        *error = EBADF;
        return -1;
    }
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (ReadFile(handle, destination, count, &done, &at)) return static_cast<int32_t>(done);
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    *error = EIO;
    return -1;
}

int32_t FileWrite(int fd, const void* source, uint32_t count, int* error) {
    const char* p = static_cast<const char*>(source);
    uint32_t done = 0;
    while (done < count) {
        int n = _write(fd, p + done, count - done);
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return done == 0 ? -1 : static_cast<int32_t>(done);
        }
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

bool FileSeek(int fd, uint64_t position, int* error) {
    if (_lseeki64(fd, static_cast<__int64>(position), SEEK_SET) >= 0) return true;
    *error = errno;
    return false;
}

int64_t FileLength(int fd) { return _filelengthi64(fd); }

bool FileClose(int fd) { return _close(fd) == 0; }

bool FileStatByName(const wchar_t* path, int64_t* size, std::tm* modified_local, int* error) {
    struct _stat64 st;
    if (!Succeeded(_wstat64(path, &st), error)) return false;
    *size = st.st_size;
    __time64_t modified = st.st_mtime;
    errno_t result = _localtime64_s(modified_local, &modified);
    if (result != 0) {
        *error = result;
        return false;
    }
    return true;
}

bool FileModifiedSeconds(const wchar_t* path, int64_t* seconds, int* error) {
    struct _stat64 st;
    if (!Succeeded(_wstat64(path, &st), error)) return false;
    *seconds = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool FileUnlink(const wchar_t* path, int* error) { return Succeeded(_wunlink(path), error); }

bool FileRename(const wchar_t* from, const wchar_t* to, int* error) {
    return Succeeded(_wrename(from, to), error);
}

bool FileMakeDirectory(const wchar_t* path, int* error) { return Succeeded(_wmkdir(path), error); }

int32_t CurrentTimeZoneBiasMinutes() {
    TIME_ZONE_INFORMATION zone;
    DWORD state = GetTimeZoneInformation(&zone);
    if (state == TIME_ZONE_ID_INVALID) return 0;
    int32_t bias = zone.Bias;
    if (state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    return bias;
}

bool FileSetLastWriteDos(int fd, uint16_t dos_date, uint16_t dos_time) {
    FILETIME written;
    if (!DosDateTimeToFileTime(dos_date, dos_time, &written)) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return false;
    return SetFileTime(handle, nullptr, nullptr, &written) != 0;
}

bool FileSetAttributes(int fd, uint32_t attributes) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return false;
    FILE_BASIC_INFO basic;
    ZeroMemory(&basic, sizeof basic);  // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

uint32_t NativeFileAttributeMask() {
    return kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
}
