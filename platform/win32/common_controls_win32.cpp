// The common controls library, loaded at run time.
#include <windows.h>
#include <commctrl.h>

#include "platform/common_controls.h"

namespace {

using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

}  // namespace

bool LoadCommonControls() {
    static HMODULE module = nullptr;
    if (!module) {
        // By name, so that the manifest's redirection to version 6 applies;
        // from the system directory only. Systems that do not know the flag
        // load by name alone, which the redirection answers the same way.
        module = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(L"comctl32.dll");
        if (!module) return false;
    }
    auto init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    return init && init(&icc);
}
