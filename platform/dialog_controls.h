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

// Icon control `id` shows icon resource `icon_id` of module `instance`
// (null: the program's own module) in the image made for the dialog's
// scale: the large-icon size of 32 pixels at 96 DPI scaled by the dialog's
// DPI (40 at 120, 48 at 144, 64 at 192), never a smaller image stretched.
// An icon that an earlier call put into the control is released. Called
// again when the dialog moves to a display of another scale.
void SetControlIcon(void* dialog, int id, void* instance, int icon_id);
// Releases the icons SetControlIcon loaded into the dialog's controls; the
// platform calls it when a dialog window goes.
void ReleaseControlIcons(void* dialog);
// The dots per inch the dialog is laid out for: 96 at 100 % scale, 144 at
// 150 %. POSIX: always 96.
int DialogDpi(void* dialog);
// The pixel size that SetControlIcon loads at `dpi` (rounded to nearest).
constexpr int kIconSizeAt96Dpi = 32;
constexpr int IconSizeForDpi(int dpi) { return (kIconSizeAt96Dpi * dpi + 48) / 96; }

// Read-back: the text of a control, whether it is shown (its own visibility,
// whatever its parent's), and a progress bar's position, range and step.
// Empty / false / -1 for a null dialog or an unknown id.
std::wstring GetControlText(void* dialog, int id);
bool IsControlShown(void* dialog, int id);
int GetProgressPosition(void* dialog, int id);
// The icon resource id that SetControlIcon put into control `id` and the
// width in pixels of the image the control shows; {0, 0} when none.
struct ControlIcon {
    int resource = 0;
    int size = 0;
};
ControlIcon GetControlIcon(void* dialog, int id);
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
