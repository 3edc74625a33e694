// Started processes: waiting for them and reading their exit codes.
#pragma once

#include <cstdint>

// Handles are opaque values (a HANDLE on Windows, a pid on POSIX).
struct ProcessInfo {
    uintptr_t process = 0;
    uintptr_t thread = 0;
    uint32_t process_id = 0;
    uint32_t thread_id = 0;
};

void CloseThreadHandle(ProcessInfo& info);
void CloseProcessHandle(ProcessInfo& info);
// Blocks until the process has ended; no time-out.
void WaitForProcess(const ProcessInfo& info);
// The exit code of an ended process; false when it cannot be read.
bool GetProcessExitCode(const ProcessInfo& info, int32_t& code);
