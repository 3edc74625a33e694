// Windows entry point of the program: hands the module instance and the
// argument string (the command line without the program's own name) to the
// front end.
#include <windows.h>

#include "sea/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR arguments, int) {
    return SeaEntry(reinterpret_cast<void*>(instance), arguments ? arguments : L"");
}
