// The modal dialog through DialogBoxParamW, its timer, the shell's folder
// browser and owner drawing with DrawTextW.
#include <windows.h>
#include <shlobj.h>

#include "platform/common_controls.h"
#include "platform/dialog_controls.h"
#include "platform/dialog_host.h"

namespace {

// The procedure of the one modal dialog that runs. DialogBoxParamW's
// creation parameter stays 0, so the thunk finds the procedure here.
DialogProcedure g_procedure = nullptr;

constexpr size_t kPathCapacity = MAX_PATH;  // 260, terminator included

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
// Posted to the dialog on WM_DPICHANGED: handled after the default dialog
// handling has laid the dialog out for the new scale.
constexpr UINT kScaleChangedMessage = WM_APP + 0x51;

bool Dispatch(HWND dialog, const DialogEvent& event) {
    return g_procedure && g_procedure(dialog, event);
}

INT_PTR CALLBACK DialogThunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    DialogEvent event{DialogEventKind::kInit};
    switch (message) {
    case WM_INITDIALOG:
        event.instance = reinterpret_cast<void*>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
        break;
    case WM_TIMER:
        event.kind = DialogEventKind::kTimer;
        event.id = static_cast<int>(wparam);
        break;
    case WM_COMMAND:
        event.kind = DialogEventKind::kCommand;
        event.id = LOWORD(wparam);
        break;
    case WM_DRAWITEM:
        event.kind = DialogEventKind::kDrawItem;
        event.id = static_cast<int>(wparam);
        event.draw_context = reinterpret_cast<void*>(lparam);
        break;
    case WM_DPICHANGED:
        // Left to the default handling, which rescales the dialog, its
        // controls and their font; the icons come after.
        PostMessageW(dialog, kScaleChangedMessage, 0, 0);
        return FALSE;
    case kScaleChangedMessage:
        event.kind = DialogEventKind::kScaleChanged;
        break;
    case WM_DESTROY:
        ReleaseControlIcons(dialog);
        return FALSE;
    default:
        return FALSE;
    }
    return Dispatch(dialog, event) ? TRUE : FALSE;
}

}  // namespace

bool RunModalDialog(void* instance, const wchar_t* template_name, DialogProcedure procedure) {
    HINSTANCE module = instance ? static_cast<HINSTANCE>(instance) : GetModuleHandleW(nullptr);
    LoadCommonControls();  // the template's progress bar class
    DialogProcedure saved = g_procedure;
    g_procedure = procedure;
    INT_PTR result = DialogBoxParamW(module, template_name, nullptr, DialogThunk, 0);
    g_procedure = saved;
    return result != -1;
}

void EndModalDialog(void* dialog, int result) {
    if (dialog) EndDialog(static_cast<HWND>(dialog), result);
}

void ShowDialogNow(void* dialog) {
    HWND window = static_cast<HWND>(dialog);
    if (!window || IsWindowVisible(window)) return;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
}

void StartDialogTimer(void* dialog, int id, unsigned milliseconds) {
    if (dialog) SetTimer(static_cast<HWND>(dialog), static_cast<UINT_PTR>(id), milliseconds, nullptr);
}

void KillDialogTimer(void* dialog, int id) {
    if (dialog) KillTimer(static_cast<HWND>(dialog), static_cast<UINT_PTR>(id));
}

bool BrowseForFolder(void* owner, const std::wstring& title, std::wstring& folder) {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator) return false;

    wchar_t display_name[kPathCapacity] = {0};
    BROWSEINFOW info = {};
    info.hwndOwner = static_cast<HWND>(owner);
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = display_name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    info.lpfn = nullptr;

    bool picked = false;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item) {
        wchar_t path[kPathCapacity] = {0};
        if (SHGetPathFromIDListW(item, path)) {
            path[kPathCapacity - 1] = L'\0';
            folder = path;
            picked = true;
        }
        allocator->Free(item);
    }
    allocator->Release();
    return picked;
}

void DrawItemText(void* draw_context, const wchar_t* text, ItemTextLayout layout) {
    auto* item = static_cast<DRAWITEMSTRUCT*>(draw_context);
    if (!item) return;
    RECT area = item->rcItem;
    UINT format = layout == ItemTextLayout::kRightToLeft ? DT_RTLREADING : DT_WORDBREAK;
    DrawTextW(item->hDC, text, -1, &area, format);
}

void PostDialogCommand(void* dialog, int id) {
    if (dialog) PostMessageW(static_cast<HWND>(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}
