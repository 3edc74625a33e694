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
    if (!host) return;
    ReleaseControlIcons(host);
    DestroyWindow(static_cast<HWND>(host));
}

// --- icons at the dialog's scale -----------------------------------------
//
// An icon loaded here is owned by its control until it is replaced or the
// dialog goes; the control carries it, and the resource id it came from,
// as window properties. (The icon a template's control loads by itself is
// the system's shared copy and is never released.)

namespace {

constexpr wchar_t kIconProperty[] = L"Quillora.ScaledIcon";
constexpr wchar_t kIconIdProperty[] = L"Quillora.ScaledIconId";
constexpr int kDefaultDpi = 96;

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// GetDpiForWindow exists from Windows 10 version 1607 on; older systems
// (and the system-aware fallback) lay every window out at the system DPI.
int SystemDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return kDefaultDpi;
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

void ReleaseOwnIcon(HWND control) {
    HICON own = static_cast<HICON>(RemovePropW(control, kIconProperty));
    RemovePropW(control, kIconIdProperty);
    if (own) DestroyIcon(own);
}

BOOL CALLBACK ReleaseChildIcon(HWND child, LPARAM) {
    ReleaseOwnIcon(child);
    return TRUE;
}

int IconWidth(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    HBITMAP image = info.hbmColor ? info.hbmColor : info.hbmMask;
    int width = GetObjectW(image, sizeof bitmap, &bitmap) ? bitmap.bmWidth : 0;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return width;
}

}  // namespace

int DialogDpi(void* dialog) {
    static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dialog && get_dpi_for_window) {
        UINT dpi = get_dpi_for_window(static_cast<HWND>(dialog));
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

void SetControlIcon(void* dialog, int id, void* instance, int icon_id) {
    HWND control = Item(dialog, id);
    if (!control) return;
    HINSTANCE module = instance ? static_cast<HINSTANCE>(instance) : GetModuleHandleW(nullptr);
    const int size = IconSizeForDpi(DialogDpi(dialog));
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(icon_id), IMAGE_ICON, size, size, 0));
    if (!icon) return;  // the control keeps the icon it shows
    SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    ReleaseOwnIcon(control);
    SetPropW(control, kIconProperty, icon);
    SetPropW(control, kIconIdProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(icon_id)));
}

void ReleaseControlIcons(void* dialog) {
    if (dialog) EnumChildWindows(static_cast<HWND>(dialog), ReleaseChildIcon, 0);
}

ControlIcon GetControlIcon(void* dialog, int id) {
    ControlIcon shown;
    HWND control = Item(dialog, id);
    if (!control || !GetPropW(control, kIconProperty)) return shown;
    shown.resource = static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(control, kIconIdProperty)));
    shown.size = IconWidth(reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)));
    return shown;
}
