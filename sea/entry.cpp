// The run from start to exit: options, environment, log, run mode,
// extraction (directly or under the progress dialog), the wait for the
// launcher, the clean-up after an abort, and the exit code.
#include "sea/entry.h"

#include <string>

#include "platform/environment.h"
#include "platform/keyboard.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "sea/extract.h"
#include "sea/extract_context.h"
#include "sea/log.h"
#include "sea/options.h"
#include "sea/own_file.h"
#include "sea/progress_dialog.h"
#include "sea/run_state.h"
#include "sea/tree_removal.h"

namespace {

constexpr wchar_t kWindowClassName[] = L"Quillora Self Extractor";
constexpr int32_t kNoLauncherExitCode = -1;
// A launcher that ends with this code gets no closing banner.
constexpr int32_t kNoBannerExitCode = 106;
constexpr size_t kBannerRuleLength = 47;

void CopyHeapOptions(const Options& options) {
    g_run.min_heap_given = options.MinHeapGiven();
    g_run.min_heap = options.MinHeap();
    g_run.max_heap_given = options.MaxHeapGiven();
    g_run.max_heap = options.MaxHeap();
}

// An accepted "-tempdir" becomes TMP and TEMP of this process, and so of
// every temporary path that follows and of the launcher.
void ApplyTempDir(const Options& options) {
    if (!options.TempDirAccepted()) return;
    SetEnvVar(L"TMP", options.TempDir());
    SetEnvVar(L"TEMP", options.TempDir());
}

void OnWindowDestroyed() { WriteLog(L"Self Extractor shutting down."); }

// Silent and console run modes: no window; the installer learns the mode
// from the arguments passed on to it.
void RunWithoutWindow(RunMode mode) {
    WriteLog(mode == RunMode::Silent ? L"Running in Silent Mode" : L"Running in Console Mode");
    ExtractFile();
}

void RunWithDialog(void* instance) {
    g_run.instance = instance;
    RegisterAppWindowClass(instance, kWindowClassName, OnWindowDestroyed);
    WriteLog(L"Window class registered.");
    // The dialog runs the extraction from its start timer and closes when
    // the launcher has been started or the user cancels. A dialog that
    // cannot be created at all (no desktop to put it on) must not leave the
    // user with nothing: the extraction then runs without a window.
    if (!RunProgressDialog(instance)) {
        WriteLog(L"The progress dialog could not be created: extracting without it.");
        ExtractFile();
    }
    WriteLog(L"Dialog initialized.");
}

// Waits for the launcher the driver started; its exit code becomes ours.
int32_t WaitForLauncher() {
    if (!g_run.launched) return kNoLauncherExitCode;
    int32_t exit_code = 0;
    CloseThreadHandle(g_run.process);
    WriteLog(L"Initiating self-extraction...");
    WaitForProcess(g_run.process);
    int32_t code = 0;
    if (GetProcessExitCode(g_run.process, code)) exit_code = code;
    WriteLog(L"*** The process has terminated with an exit code of %ld ***", exit_code);
    CloseProcessHandle(g_run.process);
    return exit_code;
}

// After a user abort the working directory of the last attempt goes.
void CleanUpAfterAbort() {
    if (!g_run.ExitInEffect || g_run.work_dir_path.empty()) return;
    WriteLog(L"User requested ABORT: Clean up temporary directory");
    if (g_abort_cleanup_probe) g_abort_cleanup_probe();
    DeleteDirectoryTree(g_run.work_dir_path, true);
}

}  // namespace

void WriteClosingBanner(int32_t exit_code) {
    if (!g_run.logging || !g_run.hold || exit_code == kNoBannerExitCode) return;
    const std::wstring rule(kBannerRuleLength, L'=');
    const std::wstring banner =
        L"\n\n" + rule + L"\nPlease press a key to close this window.\n" + rule + L"\n";
    WriteLog(L"%s", banner.c_str());
}

int SeaEntry(void* instance, const wchar_t* arguments) {
    // Before anything reads a file: the own file stays held until the
    // launcher has been started.
    HoldOwnFile();
    const Options options(arguments ? arguments : L"");
    const RunMode mode = options.GetRunMode();
    CopyHeapOptions(options);
    g_run.ExitInEffect = 0;
    const bool control_key = IsControlKeyDown();
    ApplyTempDir(options);
    StartLogging(RuxDebugRequested(), control_key);

    WriteLog(L"Self Extractor execution begins.");
    if (mode == RunMode::Silent || mode == RunMode::Console) {
        RunWithoutWindow(mode);
    } else {
        RunWithDialog(instance);
    }
    ReleaseOwnFile();

    const int32_t exit_code = WaitForLauncher();
    CleanUpAfterAbort();
    WriteClosingBanner(exit_code);
    return exit_code;
}
