// The headless modal dialog: the template's controls in memory, timers that
// fire at once, one after the other, and no user. A run ends when a handler
// ends the dialog; a dialog left waiting for an answer is cancelled.
#include <set>

#include "platform/dialog_controls.h"
#include "platform/dialog_host.h"
#include "resources/template_controls.h"

namespace {

constexpr int kCancelCommand = 2;

struct HeadlessDialog {
    void* controls = nullptr;
    DialogProcedure procedure = nullptr;
    std::set<int> timers;
    bool ended = false;
};

// The modal dialog that runs, if any.
HeadlessDialog* g_running = nullptr;

HeadlessDialog* Running(void* dialog) {
    return g_running && dialog && g_running->controls == dialog ? g_running : nullptr;
}

void Send(HeadlessDialog& dialog, DialogEvent event) { dialog.procedure(dialog.controls, event); }

}  // namespace

bool RunModalDialog(void* instance, const wchar_t*, DialogProcedure procedure) {
    if (!procedure) return false;
    HeadlessDialog dialog;
    dialog.controls = CreateControlHost(kTemplateControls, kTemplateControlCount);
    dialog.procedure = procedure;
    HeadlessDialog* saved = g_running;
    g_running = &dialog;

    DialogEvent init{DialogEventKind::kInit};
    init.instance = instance;
    Send(dialog, init);
    while (!dialog.ended && !dialog.timers.empty()) {
        DialogEvent tick{DialogEventKind::kTimer};
        tick.id = *dialog.timers.begin();
        Send(dialog, tick);
    }
    if (!dialog.ended) {
        DialogEvent cancel{DialogEventKind::kCommand};
        cancel.id = kCancelCommand;
        Send(dialog, cancel);
    }

    g_running = saved;
    DestroyControlHost(dialog.controls);
    return true;
}

void EndModalDialog(void* dialog, int) {
    if (HeadlessDialog* running = Running(dialog)) running->ended = true;
}

// The headless dialog has no window to show.
void ShowDialogNow(void*) {}

void StartDialogTimer(void* dialog, int id, unsigned) {
    if (HeadlessDialog* running = Running(dialog)) running->timers.insert(id);
}

void KillDialogTimer(void* dialog, int id) {
    if (HeadlessDialog* running = Running(dialog)) running->timers.erase(id);
}

bool BrowseForFolder(void*, const std::wstring&, std::wstring&) { return false; }

void DrawItemText(void*, const wchar_t*, ItemTextLayout) {}

void PostDialogCommand(void* dialog, int id) {
    HeadlessDialog* running = Running(dialog);
    if (!running) return;
    DialogEvent command{DialogEventKind::kCommand};
    command.id = id;
    Send(*running, command);
}
