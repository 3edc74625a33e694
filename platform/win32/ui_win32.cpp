#include <windows.h>

#include "platform/ui.h"

namespace {

// The destruction callback of the one registered class; the window
// procedure has no other way to reach it (the class has no extra bytes).
void (*g_on_destroy)() = nullptr;

LRESULT OnCreate() { return 0; }

LRESULT OnDestroy() {
    if (g_on_destroy) g_on_destroy();
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_DESTROY:
        return OnDestroy();
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

void RegisterAppWindowClass(void* instance, const wchar_t* class_name, void (*on_destroy)()) {
    HINSTANCE module = static_cast<HINSTANCE>(instance);
    g_on_destroy = on_destroy;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = AppWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = module;
    wc.hIcon = LoadIconW(module, class_name);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = class_name;
    wc.lpszClassName = class_name;
    wc.hIconSm = LoadIconW(module, class_name);
    RegisterClassExW(&wc);
}
