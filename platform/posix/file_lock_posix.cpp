// Held files on POSIX: exclusive flock locks on descriptors that never
// follow a symbolic link.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_lock.h"
#include "platform/posix/dir_handle_posix.h"
#include "platform/text.h"

// `path` is relative to `dir_fd`: AT_FDCWD for an open by path, else a
// descriptor of the directory that the lock owns.
struct FileLock {
    int fd;
    std::string path;
    int dir_fd;
};

namespace {

bool TakeLock(int fd) {
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// The open descriptor is still the file the path names: not deleted, and
// not replaced by another file under the same name.
bool StillNamedBy(int fd, int dir_fd, const std::string& path) {
    struct stat held, named;
    if (fstat(fd, &held) != 0 || held.st_nlink == 0) return false;
    if (fstatat(dir_fd, path.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock* CreateLockedFile(const std::wstring& path) {
    const std::string target = WideToUtf8(path);
    // The temporary name differs per process so that two creators never
    // share it.
    const std::string staging = target + "." + std::to_string(static_cast<long>(getpid())) + ".new";
    int fd = open(staging.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // link() refuses an existing target, where rename() would replace it;
    // rename() serves file systems without hard links.
    bool placed = TakeLock(fd);
    if (placed && link(staging.c_str(), target.c_str()) != 0) {
        placed = errno != EEXIST && rename(staging.c_str(), target.c_str()) == 0;
    }
    unlink(staging.c_str());
    if (!placed) {
        close(fd);
        return nullptr;
    }
    return new FileLock{fd, target, AT_FDCWD};
}

namespace {

LockOpenResult OpenLockedAt(int dir_fd, const std::string& target, FileLock** lock) {
    // O_NONBLOCK: a FIFO under the marker's name must not stall the open.
    int fd = openat(dir_fd, target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return LockOpenResult::kAbsent;
        if (errno == ELOOP || errno == EISDIR) return LockOpenResult::kNotAFile;
        return LockOpenResult::kFailed;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return LockOpenResult::kNotAFile;
    }
    if (!TakeLock(fd)) {
        int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? LockOpenResult::kHeld : LockOpenResult::kFailed;
    }
    // A holder deletes its file before it lets go: a file that is gone by
    // now was released on purpose, not abandoned.
    if (!StillNamedBy(fd, dir_fd, target)) {
        close(fd);
        return LockOpenResult::kAbsent;
    }
    *lock = new FileLock{fd, target, dir_fd};
    return LockOpenResult::kLocked;
}

}  // namespace

LockOpenResult OpenLockedFile(const std::wstring& path, FileLock** lock) {
    return OpenLockedAt(AT_FDCWD, WideToUtf8(path), lock);
}

LockOpenResult OpenLockedFileIn(const DirHandle* dir, const std::wstring& name, FileLock** lock) {
    int dir_fd = fcntl(DirHandleDescriptor(dir), F_DUPFD_CLOEXEC, 0);
    if (dir_fd < 0) return LockOpenResult::kFailed;
    LockOpenResult result = OpenLockedAt(dir_fd, WideToUtf8(name), lock);
    if (result != LockOpenResult::kLocked) close(dir_fd);
    return result;
}

bool ReleaseLockedFile(FileLock* lock, bool remove) {
    if (!lock) return !remove;
    bool removed = !remove || unlinkat(lock->dir_fd, lock->path.c_str(), 0) == 0;
    close(lock->fd);
    if (lock->dir_fd != AT_FDCWD) close(lock->dir_fd);
    delete lock;
    return removed;
}
