// Building a tree below a held directory on Windows: every file made and
// opened relative to its held parent (NtCreateFile with the parent as root,
// never through a reparse point), and checked through its own handle
// before anything is written to it.
#include <windows.h>
#include <winternl.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>

#include <new>
#include <vector>

#include "platform/win32/dir_handle_win32.h"

struct HeldFile {
    HANDLE handle;
};

namespace {

constexpr ACCESS_MASK kWriteAccess = GENERIC_READ | GENERIC_WRITE;

// NtSetInformationFile and its class FileRenameInformation, whose record
// is laid out as FILE_RENAME_INFO.
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
const FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    default:
        return EIO;
    }
}

// A plain file of this name with no other name: what may be written,
// read or started. A link (Windows: opened as itself; Wine: as its
// target, whose name lies elsewhere) is none.
bool IsPlainNamedFile(HANDLE handle, const DirHandle* parent, const std::wstring& name,
                      DWORD* attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    if (attributes) *attributes = info.dwFileAttributes;
    return !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           info.nNumberOfLinks <= 1 && OpenedAsNamed(handle, parent, name);
}

// Opens an existing plain file for `access`; INVALID_HANDLE_VALUE with
// *error set otherwise (ENOTDIR: something that may not be used).
HANDLE OpenPlain(const DirHandle* parent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                 int* error, DWORD* attributes) {
    DWORD win = 0;
    HANDLE handle = OpenInDir(parent, name, access, share, FILE_NON_DIRECTORY_FILE, win);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ErrnoOf(win);
        return handle;
    }
    if (!IsPlainNamedFile(handle, parent, name, attributes)) {
        CloseHandle(handle);
        *error = ENOTDIR;
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// Clears the read-only attribute of an existing plain file through its
// own handle.
bool ClearReadOnly(const DirHandle* parent, const std::wstring& name) {
    int error = 0;
    DWORD attributes = 0;
    HANDLE handle = OpenPlain(parent, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &error, &attributes);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FILE_BASIC_INFO basic;
    ZeroMemory(&basic, sizeof basic);
    attributes &= ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    bool cleared = SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
    CloseHandle(handle);
    return cleared;
}

// The existing file `name`, opened for writing and emptied.
HANDLE OpenExistingForWriting(const DirHandle* parent, const std::wstring& name, int* error) {
    HANDLE handle = OpenPlain(parent, name, kWriteAccess, FILE_SHARE_READ, error, nullptr);
    if (handle == INVALID_HANDLE_VALUE && *error == EACCES && ClearReadOnly(parent, name)) {
        handle = OpenPlain(parent, name, kWriteAccess, FILE_SHARE_READ, error, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) return handle;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = 0;
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
        CloseHandle(handle);
        *error = EIO;
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

int ToDescriptor(HANDLE handle, int flags, int* error) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        *error = EMFILE;
    }
    return fd;
}

}  // namespace

int CreateChildFile(const DirHandle* parent, const std::wstring& name, int* error) {
    // A new name first: whatever already stands there, a link included, is
    // never followed by the creation.
    DWORD win = 0;
    HANDLE handle = OpenInDir(parent, name, kWriteAccess, FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE,
                              win, FILE_CREATE);
    if (handle == INVALID_HANDLE_VALUE) {
        if (win != ERROR_ALREADY_EXISTS && win != ERROR_FILE_EXISTS) {
            *error = ErrnoOf(win);
            return -1;
        }
        handle = OpenExistingForWriting(parent, name, error);
        if (handle == INVALID_HANDLE_VALUE) return -1;
    }
    return ToDescriptor(handle, _O_RDWR, error);
}

int OpenChildFileRead(const DirHandle* parent, const std::wstring& name, int* error) {
    HANDLE handle = OpenPlain(parent, name, GENERIC_READ, FILE_SHARE_READ, error, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : ToDescriptor(handle, _O_RDONLY, error);
}

bool RenameChildEntry(const DirHandle* parent, const std::wstring& from, const std::wstring& to) {
    static const auto set_information = reinterpret_cast<NtSetInformationFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    DWORD win = 0;
    HANDLE handle = OpenInDir(parent, from, DELETE, FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE, win);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const size_t bytes = to.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = NativeDirHandle(parent);
    info->FileNameLength = static_cast<DWORD>(bytes);
    CopyMemory(info->FileName, to.data(), bytes);
    // The system call itself: the name is relative to the parent's
    // handle, which SetFileInformationByHandle does not take everywhere
    // (Wine reads the name as a path).
    IO_STATUS_BLOCK io;
    const bool renamed = set_information && to.find_first_of(L"\\/:") == std::wstring::npos &&
                         set_information(handle, &io, info, static_cast<ULONG>(buffer.size()),
                                         kFileRenameInformation) >= 0;
    CloseHandle(handle);
    return renamed;
}

HeldFile* HoldChildFile(const DirHandle* parent, const std::wstring& name) {
    int error = 0;
    // Shared for reading and starting only: nobody writes, renames or
    // deletes it while it is held.
    HANDLE handle = OpenPlain(parent, name, GENERIC_READ | FILE_EXECUTE, FILE_SHARE_READ, &error, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    HeldFile* held = new (std::nothrow) HeldFile{handle};
    if (!held) CloseHandle(handle);
    return held;
}

void ReleaseHeldFile(HeldFile* file) {
    if (!file) return;
    CloseHandle(file->handle);
    delete file;
}
