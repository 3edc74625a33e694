// POSIX has no windows: a dialog is an in-memory store of its controls.
// The driver changes it exactly as it would change a real dialog, and tests
// read the result back.
#include <map>

#include "platform/dialog_controls.h"

namespace {

struct Control {
    ControlKind kind = ControlKind::kText;
    std::wstring text;
    bool visible = false;
    int low = 0;
    int high = 100;
    int step = 10;
    int position = 0;
    ControlIcon icon;
};

struct ControlStore {
    std::map<int, Control> controls;
};

Control* Find(void* dialog, int id) {
    if (!dialog) return nullptr;
    auto& controls = static_cast<ControlStore*>(dialog)->controls;
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
}

// The English string table of the program's resources.
struct StringEntry {
    int id;
    const wchar_t* text;
};
const StringEntry kEnglishStrings[] = {
    {1, L"Please get another copy of the installer and try again."},
    {2, L"There is not enough free disk space in the temporary folder."},
    {3, L"Please select a temporary location to extract the installer to:"},
    {4, L"Please select another location to extract the installer to:"},
    {5, L"Quillora is preparing to install..."},
    {6, L"Quillora Self Installer"},
    {9, L"Unable to extract the compressed file."},
    {10, L"There was no compressed file in this executable."},
    {11, L"The magic number did not match."},
    {12, L"There is no EXE name buffer to be found."},
    {13, L"Unable check free space."},
    {14, L"Not enough room for a complete install."},
    {15, L"Unable to create the compressed file."},
    {16, L"There is no compressed file found."},
    {17, L"We ran out of space while creating the compressed file."},
    {18, L"Unable to execute the desired program."},
    {20, L"Select a temporary folder for this installation"},
    {21, L"Unable to create the path pointer file (sea_loc)."},
};

}  // namespace

void SetControlText(void* dialog, int id, const std::wstring& text) {
    if (Control* c = Find(dialog, id)) c->text = text;
}

void ShowControl(void* dialog, int id, bool visible) {
    if (Control* c = Find(dialog, id)) c->visible = visible;
}

void SetProgressRange(void* dialog, int id, int low, int high) {
    Control* c = Find(dialog, id);
    if (!c || c->kind != ControlKind::kProgress) return;
    c->low = low;
    c->high = high;
}

void SetProgressStep(void* dialog, int id, int step) {
    Control* c = Find(dialog, id);
    if (c && c->kind == ControlKind::kProgress) c->step = step;
}

void SetProgressPosition(void* dialog, int id, int position) {
    Control* c = Find(dialog, id);
    if (!c || c->kind != ControlKind::kProgress) return;
    // A progress bar keeps its position inside its range.
    if (position < c->low) position = c->low;
    if (position > c->high) position = c->high;
    c->position = position;
}

std::wstring LoadStringResource(void*, int id, size_t capacity) {
    if (capacity == 0) return std::wstring();
    for (const StringEntry& entry : kEnglishStrings) {
        if (entry.id != id) continue;
        std::wstring text = entry.text;
        if (text.size() > capacity - 1) text.resize(capacity - 1);
        return text;
    }
    return std::wstring();
}

std::wstring GetControlText(void* dialog, int id) {
    Control* c = Find(dialog, id);
    return c ? c->text : std::wstring();
}

bool IsControlShown(void* dialog, int id) {
    Control* c = Find(dialog, id);
    return c && c->visible;
}

int GetProgressPosition(void* dialog, int id) {
    Control* c = Find(dialog, id);
    return c && c->kind == ControlKind::kProgress ? c->position : -1;
}

// No displays: every dialog is laid out at 96 DPI.
constexpr int kHeadlessDpi = 96;

void SetControlIcon(void* dialog, int id, void*, int icon_id) {
    Control* c = Find(dialog, id);
    if (c && c->kind == ControlKind::kIcon) c->icon = {icon_id, IconSizeForDpi(DialogDpi(dialog))};
}

void ReleaseControlIcons(void* dialog) {
    if (!dialog) return;
    for (auto& entry : static_cast<ControlStore*>(dialog)->controls) entry.second.icon = ControlIcon();
}

int DialogDpi(void*) { return kHeadlessDpi; }

ControlIcon GetControlIcon(void* dialog, int id) {
    Control* c = Find(dialog, id);
    return c ? c->icon : ControlIcon();
}

bool GetProgressRange(void* dialog, int id, int* low, int* high) {
    Control* c = Find(dialog, id);
    if (!c || c->kind != ControlKind::kProgress) return false;
    *low = c->low;
    *high = c->high;
    return true;
}

int GetProgressStep(void* dialog, int id) {
    Control* c = Find(dialog, id);
    return c && c->kind == ControlKind::kProgress ? c->step : -1;
}

void* CreateControlHost(const ControlSpec* controls, size_t count) {
    auto* store = new ControlStore;
    for (size_t i = 0; i < count; ++i) {
        Control c;
        c.kind = controls[i].kind;
        c.text = controls[i].text ? controls[i].text : L"";
        c.visible = controls[i].visible;
        store->controls[controls[i].id] = c;
    }
    return store;
}

void DestroyControlHost(void* host) { delete static_cast<ControlStore*>(host); }
