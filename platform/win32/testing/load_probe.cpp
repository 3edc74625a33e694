// Loads each DLL named on its command line by name alone, as a program or
// one of its dependencies would with LoadLibraryW, and prints where each
// came from. Built twice for the DLL planting test: with the program's DLL
// search hardening linked in, and without it (the control case).
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        HMODULE module = LoadLibraryW(argv[i]);
        wchar_t path[MAX_PATH] = L"";
        if (module) GetModuleFileNameW(module, path, MAX_PATH);
        wprintf(L"%ls -> %ls\n", argv[i], module ? path : L"(not loaded)");
        if (module) FreeLibrary(module);
    }
    return 0;
}
