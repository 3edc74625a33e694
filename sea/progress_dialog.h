// The progress dialog "PROGRESSINDICATOR" of the GUI run mode: it drives
// the extraction. Its first timer tick runs the driver; Cancel (OK, Enter,
// Escape, the close box) raises ExitInEffect and ends it; Choose... lets the
// user pick another folder and runs the driver again; the dialog ends when
// the driver reports that the launcher was started.
//
// One handler per event; ProgressDialogProc dispatches to them. Each returns
// true when it handled its event (false leaves it to the platform's default
// dialog handling). The visible states live in sea/dialog_state.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dialog_host.h"

// What the handlers call outside the dialog. The defaults are ExtractFile
// and the platform's services; tests put fakes in their place.
struct ProgressDialogServices {
    int (*extract)();
    bool (*browse_for_folder)(void* owner, const std::wstring& title, std::wstring& folder);
    void (*show_now)(void* dialog);
    void (*start_timer)(void* dialog, int id, unsigned milliseconds);
    void (*kill_timer)(void* dialog, int id);
    void (*end_dialog)(void* dialog, int result);
    int64_t (*milliseconds)();  // a monotonic clock
};
ProgressDialogServices& DialogServices();
ProgressDialogServices DefaultDialogServices();

// The one-shot extraction timer started at initialisation.
constexpr int kExtractionTimerId = 1;
constexpr unsigned kExtractionTimerDelayMs = 100;

bool ProgressDialogProc(void* dialog, const DialogEvent& event);

// Stores instance and dialog in the run state, starts the extraction timer
// and sets the initial state, with the icons made for the dialog's scale. Returns true (the platform sets the focus).
bool OnInitDialog(void* dialog, void* instance);
// Kills the extraction timer, makes sure the dialog is on screen, empties
// the chosen folder and runs the driver; ends the dialog when it started
// the launcher. Returns false.
bool OnTimer(void* dialog, int timer_id);
// 1 and 2: ExitInEffect = 1, end the dialog, true. 1010 (Choose...): the
// folder browser; a folder picked becomes the chosen folder and the driver
// runs again, ending the dialog when it started the launcher; false.
// Anything else: false.
bool OnCommand(void* dialog, int command);
// The footer strip 1012: its (empty) text drawn with the layout of the
// system's ANSI code page; true. Other controls: false.
bool OnDrawItem(void* dialog, int control_id, void* draw_context);

// The dialog was laid out for a display of another scale: the icons are
// loaded again at the new size. Returns false (the platform's handling
// goes on).
bool OnScaleChanged(void* dialog);

// Right-to-left reading order for the Hebrew (1255) and Arabic (1256) ANSI
// code pages, word breaking for every other.
ItemTextLayout FooterLayout(unsigned code_page);

// Runs the dialog modally (no owner, parameter 0) until it ends. The run
// state's dialog is null again afterwards. False when it could not be shown.
bool RunProgressDialog(void* instance);

// The extraction's progress function (ALMonitorCallback): a job ratio above
// 0 becomes the dialog's percentage; zero or negative ratios (no total
// known) and text messages are ignored. The library reports after every
// buffer, so only a value that differs from the one shown reaches the
// controls, and at most one per kPercentIntervalMs, except 100, which
// always does (OnInitDialog starts the count at the template's 0%). The
// result means nothing.
constexpr int64_t kPercentIntervalMs = 100;
int MonitorCallback(const wchar_t* text, int32_t object_ratio, int32_t job_ratio);
