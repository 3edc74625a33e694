// Temporary folder, random seed and free disk space on Windows.
#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "platform/crypto_random.h"
#include "platform/disk_space.h"
#include "platform/temp_path.h"

const wchar_t* const kFallbackTempFolder = L"C:\\Temp";

bool GetTempFolder(std::wstring& path) {
    wchar_t buffer[MAX_PATH + 1] = {0};
    DWORD n = GetTempPathW(MAX_PATH, buffer);
    if (n == 0 || n > MAX_PATH) return false;
    path.assign(buffer, n);
    return true;
}

namespace {

using BCryptGenRandomFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);

// A system DLL by its name, from the system directory only; failing that
// (systems that do not know the flag), by its full path there. Never from
// the program's folder or the current directory: the program's import
// table names only DLLs that Windows always takes from the system, and
// everything else is loaded this way.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module) return module;
    wchar_t system_dir[MAX_PATH + 1] = {0};
    UINT n = GetSystemDirectoryW(system_dir, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr;
    std::wstring path = std::wstring(system_dir, n) + L"\\" + name;
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}

}  // namespace

bool GetCryptoRandom32(uint32_t& value) {
    HMODULE bcrypt = LoadSystemLibrary(L"bcrypt.dll");
    if (!bcrypt) return false;
    auto generate = reinterpret_cast<BCryptGenRandomFn>(
        reinterpret_cast<void*>(GetProcAddress(bcrypt, "BCryptGenRandom")));
    uint32_t v = 0;
    bool ok = generate && generate(nullptr, reinterpret_cast<PUCHAR>(&v), sizeof v,
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
    FreeLibrary(bcrypt);
    if (ok) value = v;
    return ok;
}

namespace {

using GetDiskFreeSpaceExAFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                            PULARGE_INTEGER);

// The current directory with a trailing backslash, in the ANSI code page:
// the query then measures the volume that holds it, also one mounted in a
// folder (a null root would measure the current drive's root). False when
// the name does not fit or the code page cannot carry it.
bool CurrentDirectoryForQuery(char (&directory)[MAX_PATH + 2]) {
    wchar_t wide[MAX_PATH + 1] = {0};
    DWORD n = GetCurrentDirectoryW(MAX_PATH, wide);
    if (n == 0 || n >= MAX_PATH) return false;
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, directory, MAX_PATH,
                                    nullptr, &lossy);
    if (bytes <= 1 || lossy) return false;
    size_t length = static_cast<size_t>(bytes - 1);
    if (directory[length - 1] != '\\') {
        directory[length] = '\\';
        directory[length + 1] = '\0';
    }
    return true;
}

// The extended query needs a system newer than the first Windows 95 (major
// version above 3; NT family, or the 9x family from build 1001 on).
bool SystemHasExtendedQuery() {
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    if (version.dwMajorVersion <= 3) return false;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return true;
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
           (version.dwBuildNumber & 0xFFFF) > 1000;
}

// KERNEL32 by its full path in the system directory, loaded from there only;
// failing that, the same full path without the restriction (systems that do
// not know the flag).
HMODULE LoadSystemKernel32() {
    wchar_t system_dir[MAX_PATH + 1] = {0};
    UINT n = GetSystemDirectoryW(system_dir, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return nullptr;
    std::wstring path = std::wstring(system_dir, n) + L"\\KERNEL32.dll";
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) module = LoadLibraryExW(path.c_str(), nullptr, 0);
    return module;
}

bool BasicQuery(uint64_t& free_bytes) {
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceW(nullptr, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &total_clusters)) {
        return false;
    }
    free_bytes = static_cast<uint64_t>(free_clusters) * sectors_per_cluster * bytes_per_sector;
    return true;
}

}  // namespace

bool QueryFreeDiskSpace(uint64_t& free_bytes, FreeSpaceMethod& method) {
    if (!SystemHasExtendedQuery()) {
        method = FreeSpaceMethod::kOldSystem;
        return BasicQuery(free_bytes);
    }
    HMODULE kernel = LoadSystemKernel32();
    if (!kernel) {
        method = FreeSpaceMethod::kLibraryUnavailable;
        return false;
    }
    auto extended = reinterpret_cast<GetDiskFreeSpaceExAFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    bool ok;
    if (!extended) {
        method = FreeSpaceMethod::kExtendedMissing;
        ok = BasicQuery(free_bytes);
    } else {
        method = FreeSpaceMethod::kExtended;
        ULARGE_INTEGER available, total, total_free;
        char directory[MAX_PATH + 2] = {0};
        const char* root = CurrentDirectoryForQuery(directory) ? directory : nullptr;
        ok = extended(root, &available, &total, &total_free) != 0;
        if (ok) free_bytes = total_free.QuadPart;
    }
    FreeLibrary(kernel);
    return ok;
}
