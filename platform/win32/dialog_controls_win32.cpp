// Dialog controls through the Win32 dialog-item functions.
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "platform/common_controls.h"
#include "platform/dialog_controls.h"

namespace {

HWND Item(void* dialog, int id) {
    return dialog ? GetDlgItem(static_cast<HWND>(dialog), id) : nullptr;
}

}  // namespace

void SetControlText(void* dialog, int id, const std::wstring& text) {
    if (HWND item = Item(dialog, id)) SetWindowTextW(item, text.c_str());
}

void ShowControl(void* dialog, int id, bool visible) {
    if (HWND item = Item(dialog, id)) ShowWindow(item, visible ? SW_SHOW : SW_HIDE);
}

void SetProgressRange(void* dialog, int id, int low, int high) {
    if (HWND item = Item(dialog, id)) SendMessageW(item, PBM_SETRANGE32, low, high);
}

void SetProgressStep(void* dialog, int id, int step) {
    if (HWND item = Item(dialog, id)) SendMessageW(item, PBM_SETSTEP, step, 0);
}

void SetProgressPosition(void* dialog, int id, int position) {
    if (HWND item = Item(dialog, id)) SendMessageW(item, PBM_SETPOS, position, 0);
}

std::wstring LoadStringResource(void* instance, int id, size_t capacity) {
    if (capacity == 0) return std::wstring();
    std::vector<wchar_t> buffer(capacity, L'\0');
    HINSTANCE module = instance ? static_cast<HINSTANCE>(instance) : GetModuleHandleW(nullptr);
    int n = LoadStringW(module, static_cast<UINT>(id), buffer.data(), static_cast<int>(capacity));
    return n > 0 ? std::wstring(buffer.data(), static_cast<size_t>(n)) : std::wstring();
}

std::wstring GetControlText(void* dialog, int id) {
    HWND item = Item(dialog, id);
    if (!item) return std::wstring();
    int length = GetWindowTextLengthW(item);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    int n = GetWindowTextW(item, buffer.data(), length + 1);
    return std::wstring(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

bool IsControlShown(void* dialog, int id) {
    HWND item = Item(dialog, id);
    return item && (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

int GetProgressPosition(void* dialog, int id) {
    HWND item = Item(dialog, id);
    return item ? static_cast<int>(SendMessageW(item, PBM_GETPOS, 0, 0)) : -1;
}

bool GetProgressRange(void* dialog, int id, int* low, int* high) {
    HWND item = Item(dialog, id);
    if (!item) return false;
    PBRANGE range = {};
    SendMessageW(item, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    *low = range.iLow;
    *high = range.iHigh;
    return true;
}

int GetProgressStep(void* dialog, int id) {
    // PBM_GETSTEP (Common Controls 6); the headers name it only for Vista on.
    const UINT get_step = WM_USER + 13;
    HWND item = Item(dialog, id);
    return item ? static_cast<int>(SendMessageW(item, get_step, 0, 0)) : -1;
}

void* CreateControlHost(const ControlSpec* controls, size_t count) {
    LoadCommonControls();
    HINSTANCE module = GetModuleHandleW(nullptr);
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 120, nullptr, nullptr,
                                module, nullptr);
    if (!host) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        const ControlSpec& spec = controls[i];
        const wchar_t* window_class = L"STATIC";
        DWORD style = WS_CHILD | (spec.visible ? WS_VISIBLE : 0);
        if (spec.kind == ControlKind::kButton) window_class = L"BUTTON";
        if (spec.kind == ControlKind::kProgress) window_class = PROGRESS_CLASSW;
        if (spec.kind == ControlKind::kIcon) style |= SS_ICON;
        HWND child = CreateWindowExW(0, window_class, spec.text ? spec.text : L"", style, 0, 0, 50,
                                     10, host, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                                     module, nullptr);
        if (!child) {
            DestroyWindow(host);
            return nullptr;
        }
    }
    return host;
}

void DestroyControlHost(void* host) {
    if (host) DestroyWindow(static_cast<HWND>(host));
}
