// Interrupts on Windows: the console's control handler runs on a thread of
// its own, so it does the cleanup itself and ends the process before it
// returns. After a closed window (and at logoff or shutdown) Windows ends
// the process about five seconds after the event: the cleanup is done, and
// the process ended, well before.
#include <windows.h>

#include "platform/interrupt.h"
#include "platform/interrupt_parts.h"
#include "platform/text.h"

namespace {

// STATUS_CONTROL_C_EXIT: how Windows ends a console program on Ctrl-C.
constexpr int kInterruptedExitCode = static_cast<int>(0xC000013AU);
// How long the files another thread still writes may take to be let go.
constexpr uint32_t kFileGraceMs = 3000;
// How long a killed helper program may take to end.
constexpr DWORD kChildEndMs = 1000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    RecordInterrupt(kInterruptedExitCode);
    const std::wstring message = CleanUpInterrupted(kFileGraceMs);
    EndInterrupted(message, InterruptExitCode());
}

}  // namespace

void StartInterruptWatch() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void KillTrackedChild(uintptr_t handle, bool group) {
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    if (group) {
        TerminateJobObject(h, 1);
    } else {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, kChildEndMs);
    }
}

bool RemoveTrackedFile(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void EndInterrupted(const std::wstring& message, int exit_code) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (error && error != INVALID_HANDLE_VALUE && GetConsoleMode(error, &mode)) {
        WriteConsoleW(error, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    } else if (error && error != INVALID_HANDLE_VALUE) {
        // UTF-8 with CR LF, as the C runtime's text streams write it.
        std::string bytes = WideToUtf8(message);
        if (!bytes.empty() && bytes.back() == '\n') bytes.insert(bytes.size() - 1, "\r");
        WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
    ExitProcess(static_cast<UINT>(exit_code));  // not reached
}
