// File kinds and identities from GetFileInformationByHandle, on handles
// opened for attributes only (no read access: nothing is read, no device
// is started).
#include <windows.h>

#include <errno.h>
#include <io.h>

#include "platform/file_identity.h"

namespace {

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EIO;
    }
}

// links: a reparse point reads as a link (the handle was opened on the
// link itself), else as the file or folder it is.
bool FromHandle(HANDLE handle, bool links, FileFacts& facts, int& error) {
    const DWORD type = GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (type != FILE_TYPE_DISK) {
        facts = FileFacts();
        facts.kind = FileKind::kSpecial;
        return true;
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        error = ErrnoOf(GetLastError());
        return false;
    }
    if (links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        facts.kind = FileKind::kLink;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        facts.kind = FileKind::kDirectory;
    } else {
        facts.kind = FileKind::kRegular;
    }
    facts.size = facts.kind == FileKind::kRegular
                     ? static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                            info.nFileSizeLow)
                     : 0;
    facts.identity.volume = info.dwVolumeSerialNumber;
    facts.identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

}  // namespace

bool QueryPathFacts(const std::wstring& path, bool follow_links, FileFacts& facts, int& error) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ErrnoOf(GetLastError());
        return false;
    }
    const bool ok = FromHandle(handle, !follow_links, facts, error);
    CloseHandle(handle);
    return ok;
}

bool QueryDescriptorFacts(int fd, FileFacts& facts, int& error) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1) {
        error = EBADF;
        return false;
    }
    return FromHandle(reinterpret_cast<HANDLE>(handle), false, facts, error);
}
