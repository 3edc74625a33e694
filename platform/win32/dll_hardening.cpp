// Restricts the DLL search path before any other code of the program runs:
// this object is linked into the program image itself, and its initializer
// runs at static initialisation, ahead of the entry function.
#include <windows.h>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
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
}

// Highest priority among the program's own initializers.
struct DllSearchHardening {
    DllSearchHardening() { HardenDllSearchPath(); }
};
DllSearchHardening hardening __attribute__((init_priority(101)));

}  // namespace
