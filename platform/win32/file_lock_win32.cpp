// Held files on Windows: handles opened with no sharing, never through a
// reparse point.
#include <windows.h>

#include "platform/file_lock.h"
#include "platform/win32/dir_handle_win32.h"

struct FileLock {
    HANDLE handle;
    std::wstring path;
};

namespace {

// What an open that failed says about the file.
LockOpenResult ClassifyOpenError(DWORD error) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return LockOpenResult::kHeld;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return LockOpenResult::kAbsent;
    default:
        // Access denied covers a directory and a file whose deletion is
        // pending; neither is a file anyone may take.
        return LockOpenResult::kFailed;
    }
}

bool IsPlainFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           GetFileType(handle) == FILE_TYPE_DISK;
}

// Marks the open file for deletion when its last handle closes: ours, as
// nobody shares it.
bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

}  // namespace

FileLock* CreateLockedFile(const std::wstring& path) {
    // CREATE_NEW with no sharing: the file exists only as held by us.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return new FileLock{handle, path};
}

LockOpenResult OpenLockedFile(const std::wstring& path, FileLock** lock) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A read-only file refuses the delete access; reading is enough to
        // hold it, and its deletion then goes by name.
        if (error == ERROR_ACCESS_DENIED) {
            handle = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (handle == INVALID_HANDLE_VALUE) return ClassifyOpenError(GetLastError());
        } else {
            return ClassifyOpenError(error);
        }
    }
    if (!IsPlainFile(handle)) {
        CloseHandle(handle);
        return LockOpenResult::kNotAFile;
    }
    *lock = new FileLock{handle, path};
    return LockOpenResult::kLocked;
}

LockOpenResult OpenLockedFileIn(const DirHandle* dir, const std::wstring& name, FileLock** lock) {
    DWORD error = 0;
    HANDLE handle = OpenInDir(dir, name, GENERIC_READ | DELETE, 0, FILE_NON_DIRECTORY_FILE, error);
    if (handle == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED) {
        handle = OpenInDir(dir, name, GENERIC_READ, 0, FILE_NON_DIRECTORY_FILE, error);
    }
    if (handle == INVALID_HANDLE_VALUE) return ClassifyOpenError(error);
    if (!IsPlainFile(handle)) {
        CloseHandle(handle);
        return LockOpenResult::kNotAFile;
    }
    // No path: a marker that cannot be deleted through the hold stays for
    // the caller, who holds the directory.
    *lock = new FileLock{handle, std::wstring()};
    return LockOpenResult::kLocked;
}

bool ReleaseLockedFile(FileLock* lock, bool remove) {
    if (!lock) return !remove;
    bool marked = remove && MarkForDeletion(lock->handle);
    CloseHandle(lock->handle);
    bool removed = !remove || marked;
    // Without the delete access (or the disposition call) the file goes by
    // name once the handle is closed.
    if (remove && !marked) removed = !lock->path.empty() && DeleteFileW(lock->path.c_str()) != 0;
    delete lock;
    return removed;
}
