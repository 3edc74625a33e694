// Restricts the DLL search path before any other code of the program runs:
// this object is linked into the program image itself, and its initializer
// runs at static initialisation, ahead of the entry function.
#include <windows.h>

#include "platform/common_controls.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// DLLs that are no Known DLLs and that system components (theming, the
// window manager's effects, version checks, the folder browser) load by
// name after start-up. A load by name searches the program's folder first
// wherever SetDefaultDllDirectories is missing, and some components bypass
// it; a DLL already in memory is taken from there instead. So each is
// loaded once, now, by its full path in the system directory.
const wchar_t* const kPreloadedDlls[] = {
    L"uxtheme.dll", L"dwmapi.dll", L"version.dll",  L"msimg32.dll", L"oleacc.dll",
    L"propsys.dll", L"userenv.dll", L"cryptbase.dll", L"apphelp.dll", L"ole32.dll",
};

void PreloadSystemDlls() {
    wchar_t directory[MAX_PATH + 1] = {0};
    UINT n = GetSystemDirectoryW(directory, MAX_PATH);
    if (n == 0 || n > MAX_PATH - 32) return;
    for (const wchar_t* name : kPreloadedDlls) {
        wchar_t path[MAX_PATH + 1];
        lstrcpyW(path, directory);
        lstrcatW(path, L"\\");
        lstrcatW(path, name);
        // Kept for the life of the process. Missing ones (older systems) are
        // skipped; the altered search path resolves their own imports from
        // the system directory too.
        LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

void HardenDllSearchPath() {
    HMODULE kernel = GetModuleHandleW(L"KERNEL32");
    if (!kernel) return;
    if (auto fn = Lookup<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories")) {
        fn(0x800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
    }
    if (auto fn = Lookup<SetDllDirectoryWFn>(kernel, "SetDllDirectoryW")) {
        fn(L"");  // drop the current directory from the search order
    }
    if (auto fn = Lookup<SetSearchPathModeFn>(kernel, "SetSearchPathMode")) {
        fn(0x8001);  // BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | _PERMANENT
    }
    PreloadSystemDlls();
    // The common controls are not in the import table (their start-up loads
    // further DLLs by name); they come in now, behind the hardening.
    LoadCommonControls();
}

// Highest priority among the program's own initializers.
struct DllSearchHardening {
    DllSearchHardening() { HardenDllSearchPath(); }
};
DllSearchHardening hardening __attribute__((init_priority(101)));

}  // namespace
