// The progress dialog's handlers. The extraction runs inside them, on the
// dialog's own thread; while it runs, the archive library's progress reports
// pump the window messages, so Cancel is handled in the middle of it (it
// sets ExitInEffect, which the driver tests between its steps).
#include "sea/progress_dialog.h"

#include <chrono>

#include "platform/text.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/extract.h"
#include "sea/run_state.h"

namespace {

// The chosen folder is a buffer of 260 characters, terminator included.
constexpr size_t kChosenFolderCapacity = 260;
constexpr unsigned kHebrewCodePage = 1255;
constexpr unsigned kArabicCodePage = 1256;
constexpr wchar_t kFooterText[] = L"";

// The percentage the dialog shows and when it was set. The library
// reports after every 4 KB buffer, thousands of times per percent, and a
// new value costs the progress bar a repaint on the spot (a millisecond or
// so under Wine), so new values are kept apart in time. (Asking the bar for
// its position instead would cost a trip to the window server per report.)
struct ShownPercent {
    void* dialog = nullptr;
    int32_t value = 0;
    int64_t since_ms = 0;
};
ShownPercent g_shown;
constexpr int32_t kFullPercent = 100;

int64_t SteadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool PercentDue(int32_t value, int64_t now_ms) {
    if (g_shown.dialog != g_run.dialog) return true;
    if (g_shown.value == value) return false;
    return value >= kFullPercent || now_ms - g_shown.since_ms >= kPercentIntervalMs;
}

// Runs the driver; the dialog ends when the launcher was started.
void RunExtraction(void* dialog) {
    if (DialogServices().extract()) DialogServices().end_dialog(dialog, 0);
}

bool OnAbort(void* dialog) {
    g_run.ExitInEffect = 1;
    DialogServices().end_dialog(dialog, 0);
    return true;
}

// Choose...: cancelling the browser, or a pick without a file-system path,
// changes nothing.
bool OnChoose(void* dialog) {
    std::wstring folder;
    if (!DialogServices().browse_for_folder(dialog, LoadText(IDS_BROWSE_TITLE), folder)) return false;
    if (folder.size() > kChosenFolderCapacity - 1) folder.resize(kChosenFolderCapacity - 1);
    g_run.chosen_folder = folder;
    RunExtraction(dialog);
    return false;
}

}  // namespace

ProgressDialogServices DefaultDialogServices() {
    return {ExtractFile,      BrowseForFolder, ShowDialogNow,     StartDialogTimer,
            KillDialogTimer, EndModalDialog,  SteadyMilliseconds};
}

ProgressDialogServices& DialogServices() {
    static ProgressDialogServices services = DefaultDialogServices();
    return services;
}

bool OnInitDialog(void* dialog, void* instance) {
    g_run.instance = instance;
    DialogServices().start_timer(dialog, kExtractionTimerId, kExtractionTimerDelayMs);
    g_run.dialog = dialog;
    ShowInitialState();
    ShowScaledIcons();
    // The template's "0%", long enough ago that the first report shows.
    g_shown = {dialog, 0, DialogServices().milliseconds() - kPercentIntervalMs};
    return true;
}

bool OnTimer(void* dialog, int) {
    // Only the extraction timer exists; killing it makes this happen once.
    DialogServices().kill_timer(dialog, kExtractionTimerId);
    // The extraction keeps this thread until it ends: the dialog must be
    // on screen before it starts.
    DialogServices().show_now(dialog);
    g_run.chosen_folder.clear();
    RunExtraction(dialog);
    return false;
}

bool OnCommand(void* dialog, int command) {
    switch (command) {
    case IDC_OK:
    case IDC_CANCEL:
        return OnAbort(dialog);
    case IDC_CHOOSE:
        return OnChoose(dialog);
    default:
        return false;
    }
}

bool OnDrawItem(void*, int control_id, void* draw_context) {
    if (control_id != IDC_FOOTER) return false;
    DrawItemText(draw_context, kFooterText, FooterLayout(SystemAnsiCodePage()));
    return true;
}

bool OnScaleChanged(void*) {
    ShowScaledIcons();
    return false;
}

ItemTextLayout FooterLayout(unsigned code_page) {
    const bool right_to_left = code_page == kHebrewCodePage || code_page == kArabicCodePage;
    return right_to_left ? ItemTextLayout::kRightToLeft : ItemTextLayout::kWordBreak;
}

bool ProgressDialogProc(void* dialog, const DialogEvent& event) {
    switch (event.kind) {
    case DialogEventKind::kInit:
        return OnInitDialog(dialog, event.instance);
    case DialogEventKind::kTimer:
        return OnTimer(dialog, event.id);
    case DialogEventKind::kCommand:
        return OnCommand(dialog, event.id);
    case DialogEventKind::kDrawItem:
        return OnDrawItem(dialog, event.id, event.draw_context);
    case DialogEventKind::kScaleChanged:
        return OnScaleChanged(dialog);
    }
    return false;
}

bool RunProgressDialog(void* instance) {
    const bool shown = RunModalDialog(instance, IDD_PROGRESSINDICATOR, ProgressDialogProc);
    g_run.dialog = nullptr;
    return shown;
}

int MonitorCallback(const wchar_t*, int32_t, int32_t job_ratio) {
    if (job_ratio <= 0) return 0;
    const int64_t now_ms = DialogServices().milliseconds();
    if (!PercentDue(job_ratio, now_ms)) return 0;
    UpdatePercent(job_ratio);
    g_shown = {g_run.dialog, job_ratio, now_ms};
    return 0;
}
