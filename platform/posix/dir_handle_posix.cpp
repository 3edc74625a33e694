// Held directories on POSIX: descriptors opened with O_NOFOLLOW, and every
// step relative to them (openat, fstatat, unlinkat, fchmod).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/file_attributes.h"
#include "platform/posix/dir_handle_posix.h"
#include "platform/text.h"

struct DirHandle {
    int fd;
    dev_t device;
};

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

DirHandle* Hold(int fd) {
    struct stat info;
    if (fd < 0) return nullptr;
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    DirHandle* held = new (std::nothrow) DirHandle{fd, info.st_dev};
    if (!held) close(fd);
    return held;
}

uint32_t AttributesOf(const struct stat& info) {
    uint32_t attributes = 0;
    if (S_ISLNK(info.st_mode)) {
        attributes |= kAttrReparsePoint;
    } else if (S_ISDIR(info.st_mode)) {
        attributes |= kAttrDirectory;
    }
    if (!(info.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
    return attributes == 0 ? kAttrNormal : attributes;
}

}  // namespace

int DirHandleDescriptor(const DirHandle* dir) { return dir->fd; }

DirHandle* OpenDirHandle(const std::wstring& path, bool follow_link) {
    return Hold(open(WideToUtf8(path).c_str(), kDirFlags | (follow_link ? 0 : O_NOFOLLOW)));
}

void CloseDirHandle(DirHandle* dir) {
    if (!dir) return;
    close(dir->fd);
    delete dir;
}

ChildOpenResult OpenChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child) {
    int fd = openat(parent->fd, WideToUtf8(name).c_str(), kDirFlags | O_NOFOLLOW);
    if (fd < 0) {
        return errno == ENOTDIR || errno == ELOOP ? ChildOpenResult::kNotDirectory
                                                  : ChildOpenResult::kFailed;
    }
    DirHandle* held = Hold(fd);
    if (!held) return ChildOpenResult::kFailed;
    // Another volume mounted here is not part of the tree.
    if (held->device != parent->device) {
        CloseDirHandle(held);
        return ChildOpenResult::kFailed;
    }
    *child = held;
    return ChildOpenResult::kOpened;
}

bool ListDirHandle(const DirHandle* dir, std::vector<DirEntry>& entries) {
    // The stream reads through its own descriptor of the same directory.
    int fd = openat(dir->fd, ".", kDirFlags);
    if (fd < 0) return false;
    DIR* stream = fdopendir(fd);
    if (!stream) {
        close(fd);
        return false;
    }
    entries.clear();
    while (dirent* d = readdir(stream)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        uint32_t attributes = 0;
        if (fstatat(dir->fd, d->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) attributes = AttributesOf(info);
        entries.push_back(DirEntry{Utf8ToWide(name), attributes});
    }
    closedir(stream);
    return true;
}

bool RemoveChildEntry(const DirHandle* parent, const std::wstring& name, bool) {
    // Without AT_REMOVEDIR a directory is refused (EISDIR); a link goes
    // itself. Unlinking never needs the file's own permissions, so no mode
    // is changed.
    return unlinkat(parent->fd, WideToUtf8(name).c_str(), 0) == 0;
}

bool RemoveChildDir(const DirHandle* parent, const std::wstring& name, DirHandle* child,
                    bool clear_read_only) {
    if (clear_read_only) ClearDirReadOnly(child);
    const std::string native = WideToUtf8(name);
    struct stat held, named;
    bool same = fstat(child->fd, &held) == 0 &&
                fstatat(parent->fd, native.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    CloseDirHandle(child);
    // Should the name be given to another directory in between, rmdir takes
    // only an empty one, and never what a link points to.
    return same && unlinkat(parent->fd, native.c_str(), AT_REMOVEDIR) == 0;
}

bool ClearDirReadOnly(const DirHandle* dir) {
    struct stat info;
    if (fstat(dir->fd, &info) != 0) return false;
    if (info.st_mode & S_IWUSR) return true;
    return fchmod(dir->fd, (info.st_mode & 07777) | S_IWUSR) == 0;
}

bool OwnedByOther(const DirHandle* dir) {
    struct stat info;
    return fstat(dir->fd, &info) == 0 && info.st_uid != geteuid();
}

bool IsPrivateToCaller(const DirHandle* dir) {
    struct stat info;
    if (fstat(dir->fd, &info) != 0) return false;
    return info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
