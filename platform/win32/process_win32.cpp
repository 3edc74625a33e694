#include <windows.h>

#include "platform/process.h"

namespace {
HANDLE AsHandle(uintptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

void CloseThreadHandle(ProcessInfo& info) {
    if (info.thread) CloseHandle(AsHandle(info.thread));
    info.thread = 0;
}

void CloseProcessHandle(ProcessInfo& info) {
    if (info.process) CloseHandle(AsHandle(info.process));
    info.process = 0;
}

void WaitForProcess(const ProcessInfo& info) {
    WaitForSingleObject(AsHandle(info.process), INFINITE);
}

bool GetProcessExitCode(const ProcessInfo& info, int32_t& code) {
    DWORD value = 0;
    if (!GetExitCodeProcess(AsHandle(info.process), &value)) return false;
    code = static_cast<int32_t>(value);
    return true;
}
