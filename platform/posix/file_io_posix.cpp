// Low-level file I/O on POSIX descriptors; paths are passed as UTF-8.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace {

std::string Native(const wchar_t* path) { return WideToUtf8(path ? path : L""); }

int OpenWith(const wchar_t* path, int flags, int* error) {
    int fd;
    do {
        fd = open(Native(path).c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) *error = errno;
    return fd;
}

bool Succeeded(int result, int* error) {
    if (result == 0) return true;
    *error = errno;
    return false;
}

}  // namespace

// O_NONBLOCK: opening a named pipe would otherwise wait for a writer. It is
// cleared again, so that reads behave as always.
int FileOpenRead(const wchar_t* path, int* error) {
    const int fd = OpenWith(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, error);
    if (fd >= 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

int FileCreateTruncate(const wchar_t* path, int* error) {
    return OpenWith(path, O_RDWR | O_CREAT | O_TRUNC, error);
}

int FileCreateExclusive(const wchar_t* path, int* error) {
    return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, error);
}

int32_t FileRead(int fd, void* destination, uint32_t count, int* error) {
    ssize_t n;
    do {
        n = read(fd, destination, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        *error = errno;
        return -1;
    }
    return static_cast<int32_t>(n);
}

int32_t FileReadAt(int fd, void* destination, uint32_t count, uint64_t offset, int* error) {
    ssize_t n;
    do {
        n = pread(fd, destination, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        *error = errno;
        return -1;
    }
    return static_cast<int32_t>(n);
}

int32_t FileWrite(int fd, const void* source, uint32_t count, int* error) {
    const char* p = static_cast<const char*>(source);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return done == 0 ? -1 : static_cast<int32_t>(done);
        }
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

bool FileSeek(int fd, uint64_t position, int* error) {
    if (lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0) return true;
    *error = errno;
    return false;
}

int64_t FileLength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FileClose(int fd) { return close(fd) == 0; }

bool FileStatByName(const wchar_t* path, int64_t* size, std::tm* modified_local, int* error) {
    struct stat st;
    if (!Succeeded(stat(Native(path).c_str(), &st), error)) return false;
    *size = static_cast<int64_t>(st.st_size);
    time_t modified = st.st_mtime;
    if (!localtime_r(&modified, modified_local)) {
        *error = errno;
        return false;
    }
    return true;
}

bool FileModifiedSeconds(const wchar_t* path, int64_t* seconds, int* error) {
    struct stat st;
    if (!Succeeded(stat(Native(path).c_str(), &st), error)) return false;
    *seconds = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool FileUnlink(const wchar_t* path, int* error) {
    return Succeeded(unlink(Native(path).c_str()), error);
}

bool FileRename(const wchar_t* from, const wchar_t* to, int* error) {
    return Succeeded(rename(Native(from).c_str(), Native(to).c_str()), error);
}

bool FileMakeDirectory(const wchar_t* path, int* error) {
    return Succeeded(mkdir(Native(path).c_str(), 0777), error);
}

int32_t CurrentTimeZoneBiasMinutes() {
    // tm_gmtoff is the offset east of UTC, daylight saving included.
    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local)) return 0;
    return static_cast<int32_t>(-local.tm_gmtoff / 60);
}

bool FileSetLastWriteDos(int fd, uint16_t dos_date, uint16_t dos_time) {
    struct tm utc = {};
    utc.tm_year = 80 + (dos_date >> 9);
    utc.tm_mon = ((dos_date >> 5) & 15) - 1;
    utc.tm_mday = dos_date & 31;
    utc.tm_hour = dos_time >> 11;
    utc.tm_min = (dos_time >> 5) & 63;
    utc.tm_sec = (dos_time & 31) * 2;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time untouched
    times[1].tv_sec = timegm(&utc);
    times[1].tv_nsec = 0;
    return futimens(fd, times) == 0;
}

uint32_t NativeFileAttributeMask() { return kAttrReadOnly; }

bool FileSetAttributes(int fd, uint32_t attributes) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    return fchmod(fd, mode) == 0;
}
