// The own file on Windows: held through a handle that shares reading only,
// so that no one can rename, replace or change the file while it is open,
// and compared with the image the process runs.
//
// The comparison asks the kernel first (ProcessImageFileMapping: is this
// handle's file the process's image file?). Where that question is not
// known (before Windows 8.1) or not answered yes, the names decide: the
// name the file system gives the mapped image now, and the name of the
// open file. The open file cannot be renamed or unlinked while it is held
// (no delete sharing), so its name stays its own from the open on; the
// image's name, asked after the open, equals it only when both are one
// file. Opening the image's name again and comparing file indexes would
// not do: a name can be made to lead elsewhere between the two steps.
// Wine reports the name an image was started under, not its name now, so
// there the file is held but the check cannot be made.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

#include "platform/format.h"
#include "platform/own_image.h"

namespace {

constexpr size_t kDetailLength = 400;
constexpr ULONG kProcessImageFileMapping = 44;
constexpr ULONG kMemoryMappedFilenameInformation = 2;
constexpr ULONG kObjectNameInformation = 1;
constexpr LONG kStatusSuccess = 0;

// The kernel's counted string (UNICODE_STRING), at the start of the
// buffers that the name queries fill.
struct CountedName {
    USHORT length;  // bytes
    USHORT maximum_length;
    PWSTR buffer;
};

using QueryProcessFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using QueryMemoryFn = LONG(WINAPI*)(HANDLE, PVOID, ULONG, PVOID, SIZE_T, PSIZE_T);
using QueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using EqualNamesFn = BOOLEAN(WINAPI*)(const CountedName*, const CountedName*, BOOLEAN);

// ntdll is mapped into every process; nothing is loaded.
template <typename Fn>
Fn NtdllFunction(const char* name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)))
                 : nullptr;
}

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        default:
            return EIO;
    }
}

bool KernelSaysSame(HANDLE file) {
    auto query = NtdllFunction<QueryProcessFn>("NtQueryInformationProcess");
    HANDLE input = file;
    ULONG returned = 0;
    return query && query(GetCurrentProcess(), kProcessImageFileMapping, &input, sizeof(input),
                          &returned) == kStatusSuccess;
}

// A buffer for a counted name of up to 32,767 characters, suitably aligned.
using NameBuffer = std::vector<ULONG_PTR>;
constexpr size_t kNameBufferBytes = sizeof(CountedName) + 65536 + sizeof(ULONG_PTR);
const CountedName* AsName(const NameBuffer& buffer) {
    return reinterpret_cast<const CountedName*>(buffer.data());
}

bool MappedImageName(NameBuffer& buffer) {
    auto query = NtdllFunction<QueryMemoryFn>("NtQueryVirtualMemory");
    buffer.assign(kNameBufferBytes / sizeof(ULONG_PTR), 0);
    SIZE_T returned = 0;
    return query && query(GetCurrentProcess(), reinterpret_cast<PVOID>(GetModuleHandleW(nullptr)),
                          kMemoryMappedFilenameInformation, buffer.data(), kNameBufferBytes,
                          &returned) == kStatusSuccess;
}

bool OpenFileName(HANDLE file, NameBuffer& buffer) {
    auto query = NtdllFunction<QueryObjectFn>("NtQueryObject");
    buffer.assign(kNameBufferBytes / sizeof(ULONG_PTR), 0);
    ULONG returned = 0;
    return query && query(file, kObjectNameInformation, buffer.data(),
                          static_cast<ULONG>(kNameBufferBytes), &returned) == kStatusSuccess;
}

std::wstring Text(const CountedName* name) {
    return name->buffer ? std::wstring(name->buffer, name->length / sizeof(wchar_t))
                        : std::wstring();
}

// Names of one kind: both are device paths ("\Device\HarddiskVolume2\...").
bool IsDevicePath(const std::wstring& name) { return name.rfind(L"\\Device\\", 0) == 0; }

OwnImageMatch CompareNames(HANDLE file, std::wstring& detail) {
    if (NtdllFunction<FARPROC>("wine_get_version")) {
        detail = L"Wine does not report the running image's current name";
        return OwnImageMatch::kUnknown;
    }
    NameBuffer image;
    NameBuffer held;
    auto equal = NtdllFunction<EqualNamesFn>("RtlEqualUnicodeString");
    if (!equal || !MappedImageName(image) || !OpenFileName(file, held)) {
        detail = L"the system does not report the running image's name";
        return OwnImageMatch::kUnknown;
    }
    const std::wstring image_name = Text(AsName(image));
    const std::wstring held_name = Text(AsName(held));
    if (!IsDevicePath(image_name) || !IsDevicePath(held_name)) {
        detail = FormatString(kDetailLength, L"names of different kinds: %s, %s",
                              image_name.c_str(), held_name.c_str());
        return OwnImageMatch::kUnknown;
    }
    // Letter case is ignored as the file system ignores it.
    if (equal(AsName(image), AsName(held), TRUE)) return OwnImageMatch::kSame;
    detail = FormatString(kDetailLength, L"the open file is %s, the running image %s",
                          held_name.c_str(), image_name.c_str());
    return OwnImageMatch::kDifferent;
}

}  // namespace

bool OpenOwnImage(const std::wstring& path, OwnImage& image) {
    image = OwnImage();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        image.error = ErrnoOf(GetLastError());
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        image.match = OwnImageMatch::kDifferent;
        image.detail = L"the open file is not a disk file";
    } else if (KernelSaysSame(file)) {
        image.match = OwnImageMatch::kSame;
    } else {
        image.match = CompareNames(file, image.detail);
    }
    image.descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (image.descriptor == -1) {
        CloseHandle(file);
        image = OwnImage();
        image.error = EMFILE;
        return false;
    }
    return true;
}

void CloseOwnImage(OwnImage& image) {
    if (image.descriptor != -1) _close(image.descriptor);
    image.descriptor = -1;
}
