// A DLL to plant beside a program under the name of a system DLL: when any
// process loads it, it leaves "<its own path>.loaded" beside itself and
// then refuses to be loaded (DllMain returns FALSE), so that whoever asked
// for it sees a missing DLL instead of running on a stand-in. It exports
// stand-ins for what programs import from the DLLs it poses as, so that a
// loader that picks it up for an import gets as far as running DllMain.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        lstrcatW(path, L".loaded");
        HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    return FALSE;
}

// bcrypt.dll
extern "C" __declspec(dllexport) LONG WINAPI BCryptGenRandom(void*, unsigned char* buffer,
                                                             ULONG size, ULONG) {
    for (ULONG i = 0; i < size; ++i) buffer[i] = 0;
    return 0;
}
