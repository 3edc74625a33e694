// Held directories on Windows: handles opened with
// FILE_FLAG_OPEN_REPARSE_POINT and without delete sharing, children opened
// relative to them, listed, changed and deleted through their handles.
#include <windows.h>
#include <winternl.h>

#include <new>
#include <vector>

#include "platform/win32/dir_handle_win32.h"

struct DirHandle {
    HANDLE handle;
};

namespace {

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFn = ULONG(NTAPI*)(LONG);

// ntdll is mapped into every process; nothing is loaded.
FARPROC NtdllFunction(const char* name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? GetProcAddress(ntdll, name) : nullptr;
}

// What a held directory may be asked for: its listing, its security and
// attributes, and its own deletion.
constexpr ACCESS_MASK kDirAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL |
                                   FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE | SYNCHRONIZE;
// Other processes may read and write, never rename or delete it.
constexpr ULONG kDirShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool QueryInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(handle, &info) != 0;
}

bool IsReparsePoint(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic;
    ZeroMemory(&basic, sizeof basic);  // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The path an open handle was opened by, from its volume's root.
std::wstring OpenedName(HANDLE handle) {
    std::vector<BYTE> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        return std::wstring();
    }
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    const size_t bytes = info->FileNameLength;
    if (bytes > buffer.size() - offsetof(FILE_NAME_INFO, FileName)) return std::wstring();
    return std::wstring(info->FileName, bytes / sizeof(wchar_t));
}

// Appends the entries of one buffer filled by the directory query.
void ParseListing(const std::vector<BYTE>& buffer, std::vector<DirEntry>& entries) {
    size_t offset = 0;
    const size_t name_offset = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
    while (offset + name_offset <= buffer.size()) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
        const size_t name_bytes = info->FileNameLength;
        if (offset + name_offset + name_bytes > buffer.size()) break;
        std::wstring name(info->FileName, name_bytes / sizeof(wchar_t));
        if (name != L"." && name != L"..") entries.push_back(DirEntry{name, info->FileAttributes});
        if (info->NextEntryOffset == 0) break;
        offset += info->NextEntryOffset;
    }
}

}  // namespace

HANDLE NativeDirHandle(const DirHandle* dir) { return dir->handle; }

// The object opened is the entry `name` of `parent` itself, not what a
// link there points to. Windows opens the link itself already; this holds
// where a host's link is opened as its target (Wine), whose name then
// lies elsewhere.
bool OpenedAsNamed(HANDLE handle, const DirHandle* parent, const std::wstring& name) {
    std::wstring expected = OpenedName(parent->handle);
    const std::wstring path = OpenedName(handle);
    if (expected.empty() || path.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    return CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), path.c_str(),
                                static_cast<int>(path.size()), TRUE) == CSTR_EQUAL;
}

HANDLE OpenInDir(const DirHandle* dir, const std::wstring& name, ACCESS_MASK access, ULONG share,
                 ULONG options, DWORD& error, ULONG disposition) {
    static const auto create = reinterpret_cast<NtCreateFileFn>(
        reinterpret_cast<void*>(NtdllFunction("NtCreateFile")));
    static const auto to_error = reinterpret_cast<NtStatusToErrorFn>(
        reinterpret_cast<void*>(NtdllFunction("RtlNtStatusToDosError")));
    // One name, nothing that the system would read as a path or a stream.
    if (!create || !to_error || name.empty() || name.size() > 255 ||
        name.find_first_of(L"\\/:") != std::wstring::npos) {
        error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, dir->handle, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    LONG status = create(&handle, access | SYNCHRONIZE, &object, &io, nullptr, 0, share, disposition,
                         options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                             FILE_SYNCHRONOUS_IO_NONALERT,
                         nullptr, 0);
    if (status < 0) {
        error = to_error(status);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

DirHandle* OpenDirHandle(const std::wstring& path, bool follow_link) {
    // A folder the caller trusts may be shared for deletion; a held one not.
    const DWORD share = follow_link ? kDirShare | FILE_SHARE_DELETE : kDirShare;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(path.c_str(), kDirAccess & ~(DELETE | FILE_WRITE_ATTRIBUTES), share,
                                nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!QueryInfo(handle, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!follow_link && IsReparsePoint(info))) {
        CloseHandle(handle);
        return nullptr;
    }
    DirHandle* held = new (std::nothrow) DirHandle{handle};
    if (!held) CloseHandle(handle);
    return held;
}

void CloseDirHandle(DirHandle* dir) {
    if (!dir) return;
    CloseHandle(dir->handle);
    delete dir;
}

namespace {

// Holds a directory opened (or made) as the child `name` of `parent`: a
// junction, mount point or directory link is the link itself, and not
// entered.
ChildOpenResult HoldChild(HANDLE handle, const DirHandle* parent, const std::wstring& name,
                          bool made, DirHandle** child) {
    BY_HANDLE_FILE_INFORMATION info;
    bool plain = QueryInfo(handle, info) && !IsReparsePoint(info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!plain) {
        CloseHandle(handle);
        return ChildOpenResult::kNotDirectory;
    }
    if (!made && !OpenedAsNamed(handle, parent, name)) {
        CloseHandle(handle);
        return ChildOpenResult::kFailed;
    }
    *child = new (std::nothrow) DirHandle{handle};
    if (!*child) {
        CloseHandle(handle);
        return ChildOpenResult::kFailed;
    }
    return ChildOpenResult::kOpened;
}

}  // namespace

ChildOpenResult OpenChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child) {
    DWORD error = 0;
    HANDLE handle = OpenInDir(parent, name, kDirAccess, kDirShare, FILE_DIRECTORY_FILE, error);
    if (handle == INVALID_HANDLE_VALUE) {
        return error == ERROR_DIRECTORY ? ChildOpenResult::kNotDirectory : ChildOpenResult::kFailed;
    }
    return HoldChild(handle, parent, name, false, child);
}

ChildOpenResult CreateChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child) {
    DWORD error = 0;
    // A new directory gets the access its parent passes on.
    HANDLE handle =
        OpenInDir(parent, name, kDirAccess, kDirShare, FILE_DIRECTORY_FILE, error, FILE_CREATE);
    if (handle != INVALID_HANDLE_VALUE) return HoldChild(handle, parent, name, true, child);
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return ChildOpenResult::kFailed;
    return OpenChildDir(parent, name, child);
}

bool ListDirHandle(const DirHandle* dir, std::vector<DirEntry>& entries) {
    entries.clear();
    std::vector<BYTE> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(dir->handle, query, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        ParseListing(buffer, entries);
        query = FileIdBothDirectoryInfo;
    }
}

bool RemoveChildEntry(const DirHandle* parent, const std::wstring& name, bool clear_read_only) {
    DWORD error = 0;
    HANDLE handle = OpenInDir(parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, error);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool removable = QueryInfo(handle, info);
    // A link of any kind goes as it is. What reads as a plain directory (one
    // put in since the listing) is never changed: its deletion succeeds only
    // while it is empty. A name whose object reads as no link must be the
    // name it was opened by.
    const bool plain_file = !IsReparsePoint(info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (removable && !IsReparsePoint(info)) {
        removable = OpenedAsNamed(handle, parent, name);
    }
    if (removable && plain_file && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        // The attribute belongs to the file, not to this name: with another
        // link it would change for that one too.
        removable = clear_read_only && info.nNumberOfLinks <= 1 &&
                    SetAttributes(handle, info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    }
    bool removed = removable && MarkForDeletion(handle);
    CloseHandle(handle);
    return removed;
}

bool RemoveChildDir(const DirHandle*, const std::wstring&, DirHandle* child, bool clear_read_only) {
    // Held without delete sharing, the directory is still the parent's
    // entry of that name; it is deleted through its own handle.
    if (clear_read_only) ClearDirReadOnly(child);
    bool removed = MarkForDeletion(child->handle);
    CloseDirHandle(child);
    return removed;
}

bool ClearDirReadOnly(const DirHandle* dir) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!QueryInfo(dir->handle, info)) return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
    return SetAttributes(dir->handle, info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
}
