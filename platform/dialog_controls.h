// The controls of the progress dialog, addressed by dialog and control id.
//
// Every operation takes the dialog as an opaque value (a window handle on
// Windows). A null dialog, or an id the dialog does not hold, makes the
// operation do nothing, so code that changes the dialog runs unchanged when
// there is none. On POSIX there are no windows: a dialog is an in-memory
// store of texts, visibility and progress positions (see CreateControlHost),
// which tests inspect with the read-back operations below.
#pragma once

#include <cstddef>
#include <string>

void SetControlText(void* dialog, int id, const std::wstring& text);
void ShowControl(void* dialog, int id, bool visible);
void SetProgressRange(void* dialog, int id, int low, int high);
void SetProgressStep(void* dialog, int id, int step);
void SetProgressPosition(void* dialog, int id, int position);

// Loads string-table entry `id` of module `instance` (null: the program's
// own module), cut to capacity - 1 characters like LoadStringW. POSIX has
// no resources: the English string table is compiled in. Empty when absent.
std::wstring LoadStringResource(void* instance, int id, size_t capacity = 256);

// Read-back: the text of a control, whether it is shown (its own visibility,
// whatever its parent's), and a progress bar's position, range and step.
// Empty / false / -1 for a null dialog or an unknown id.
std::wstring GetControlText(void* dialog, int id);
bool IsControlShown(void* dialog, int id);
int GetProgressPosition(void* dialog, int id);
bool GetProgressRange(void* dialog, int id, int* low, int* high);
int GetProgressStep(void* dialog, int id);

// A stand-in for a dialog holding the listed controls in their listed state:
// a hidden window with child controls on Windows (null when no window can be
// created, for example without a display), an in-memory store on POSIX.
enum class ControlKind { kText, kButton, kProgress, kIcon };
struct ControlSpec {
    int id;
    ControlKind kind;
    const wchar_t* text;
    bool visible;
};
void* CreateControlHost(const ControlSpec* controls, size_t count);
void DestroyControlHost(void* host);
