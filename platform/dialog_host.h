// A modal dialog run from a resource template, and the few window services
// its handlers use: a timer, ending the dialog, the system folder browser,
// and text drawing into an owner-drawn control.
//
// The platform translates its window messages into DialogEvents and hands
// them to one portable procedure; what the dialog does lives above this
// layer. On Windows the dialog is a real window (DialogBoxParamW). POSIX has
// no window system: the dialog is an in-memory store of the template's
// controls (see platform/dialog_controls.h), its timers fire one after the
// other without waiting, and nobody can press a button.
#pragma once

#include <string>

enum class DialogEventKind {
    kInit,      // the dialog was created; `instance` is its module
    kTimer,     // timer `id` is due
    kCommand,   // command `id` (a button press, Enter = 1, Escape or close = 2)
    kDrawItem,  // owner-drawn control `id` must be drawn; see DrawItemText
    kScaleChanged,  // the dialog was laid out anew for a display of another
                    // DPI (it moved to another monitor); icons follow here
};

struct DialogEvent {
    DialogEventKind kind;
    int id = 0;
    void* instance = nullptr;      // kInit only
    void* draw_context = nullptr;  // kDrawItem only: the platform's draw record
};

// Returns true when the event was handled; false leaves it to the
// platform's default dialog handling.
using DialogProcedure = bool (*)(void* dialog, const DialogEvent& event);

// On Windows a dialog of a per-monitor DPI aware program is rescaled by
// the platform when it moves to a monitor of another scale (WM_DPICHANGED);
// kScaleChanged follows once that is done. A dialog's icons loaded by
// SetControlIcon are released when it goes.
//
// Runs the dialog `template_name` of module `instance` (null: the program's
// own module) modally, without owner window and with creation parameter 0,
// until EndModalDialog is called. One modal dialog at a time. Returns false
// when the dialog could not be created.
//
// POSIX: creates the headless dialog, sends kInit, then the timer events
// while a timer is set and the dialog has not ended. If it has not ended by
// then, it sends command 2 (Cancel): with nobody at a window, a dialog
// that waits for an answer is answered the way a user closing it would.
bool RunModalDialog(void* instance, const wchar_t* template_name, DialogProcedure procedure);

// Asks the dialog to end; it closes once the running handler has returned.
void EndModalDialog(void* dialog, int result);

// Shows the dialog and paints it now, if it is not shown yet. A modal
// dialog appears when its message queue first runs empty; a slow start can
// put a due timer message before that moment, and work done in that
// timer's handler would then run with the dialog never shown.
void ShowDialogNow(void* dialog);

// A timer without timer procedure: kTimer events with `id` every
// `milliseconds` until it is killed.
void StartDialogTimer(void* dialog, int id, unsigned milliseconds);
void KillDialogTimer(void* dialog, int id);

// The system folder browser, owned by `owner`, rooted at the desktop,
// limited to file-system folders, titled `title`. True with the folder's
// path (at most 259 characters) when the user picked one that has a
// file-system path; false when the browser is unavailable or was
// cancelled. POSIX has none: always false.
bool BrowseForFolder(void* owner, const std::wstring& title, std::wstring& folder);

enum class ItemTextLayout { kWordBreak, kRightToLeft };

// Draws `text` into the item's rectangle on its device context, nothing
// else (no background, frame or focus mark). POSIX: nothing to draw on.
void DrawItemText(void* draw_context, const wchar_t* text, ItemTextLayout layout);

// Queues command `id` for the dialog as a button press would (Windows: a
// posted WM_COMMAND, dispatched by the next message pump). POSIX: sent to
// the running headless dialog at once.
void PostDialogCommand(void* dialog, int id);
