// Building a tree below a held directory on POSIX: every directory and file
// made and opened relative to its held parent (mkdirat, openat with
// O_NOFOLLOW), and checked through its own descriptor before it is used.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/posix/dir_handle_posix.h"
#include "platform/text.h"

struct HeldFile {
    int fd;
};

namespace {

constexpr int kFileFlags = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// A plain file with no other name: what may be written, read or started.
bool IsPlainFile(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

// Opens name in dir with flags; -1 with *error set unless it is a plain
// file with one name. A link is refused by O_NOFOLLOW (ELOOP), reported
// as ENOTDIR like every other object that may not be written through.
int OpenPlain(const DirHandle* dir, const std::string& name, int flags, int* error) {
    int fd = openat(DirHandleDescriptor(dir), name.c_str(), flags | kFileFlags, 0666);
    if (fd < 0) {
        *error = errno == ELOOP ? ENOTDIR : errno;
        return -1;
    }
    if (!IsPlainFile(fd)) {
        close(fd);
        *error = ENOTDIR;
        return -1;
    }
    // Reads and writes wait as on any file.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Gives a read-only file of dir its owner's write permission back, through
// the file's own descriptor.
bool ClearReadOnly(const DirHandle* dir, const std::string& name) {
    int error = 0;
    int fd = OpenPlain(dir, name, O_RDONLY, &error);
    if (fd < 0) return false;
    struct stat info;
    bool cleared = fstat(fd, &info) == 0 && fchmod(fd, (info.st_mode & 07777) | S_IWUSR) == 0;
    close(fd);
    return cleared;
}

}  // namespace

ChildOpenResult CreateChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child) {
    // Most folders of a tree exist by the time their second entry comes:
    // opened first, made only when missing (one call less per entry).
    errno = 0;
    const ChildOpenResult opened = OpenChildDir(parent, name, child);
    if (opened != ChildOpenResult::kFailed || errno != ENOENT) return opened;
    if (mkdirat(DirHandleDescriptor(parent), WideToUtf8(name).c_str(), 0777) != 0 && errno != EEXIST) {
        return ChildOpenResult::kFailed;
    }
    return OpenChildDir(parent, name, child);
}

int CreateChildFile(const DirHandle* parent, const std::wstring& name, int* error) {
    const std::string native = WideToUtf8(name);
    // A new name first: O_EXCL never follows what already stands there.
    int fd = OpenPlain(parent, native, O_RDWR | O_CREAT | O_EXCL, error);
    if (fd >= 0 || *error != EEXIST) return fd;
    fd = OpenPlain(parent, native, O_RDWR, error);
    if (fd < 0 && *error == EACCES && ClearReadOnly(parent, native)) {
        fd = OpenPlain(parent, native, O_RDWR, error);
    }
    if (fd >= 0 && ftruncate(fd, 0) != 0) {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

int OpenChildFileRead(const DirHandle* parent, const std::wstring& name, int* error) {
    return OpenPlain(parent, WideToUtf8(name), O_RDONLY, error);
}

bool RenameChildEntry(const DirHandle* parent, const std::wstring& from, const std::wstring& to) {
    const int fd = DirHandleDescriptor(parent);
    return renameat(fd, WideToUtf8(from).c_str(), fd, WideToUtf8(to).c_str()) == 0;
}

HeldFile* HoldChildFile(const DirHandle* parent, const std::wstring& name) {
    int error = 0;
    int fd = OpenChildFileRead(parent, name, &error);
    if (fd < 0) return nullptr;
    HeldFile* held = new (std::nothrow) HeldFile{fd};
    if (!held) close(fd);
    return held;
}

void ReleaseHeldFile(HeldFile* file) {
    if (!file) return;
    close(file->fd);
    delete file;
}

bool LetsOthersChange(const DirHandle* dir) {
    struct stat info;
    if (fstat(DirHandleDescriptor(dir), &info) != 0) return false;
    const bool owner_trusted = info.st_uid == geteuid() || info.st_uid == 0;
    return !owner_trusted || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}
