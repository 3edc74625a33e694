// Process creation through CreateProcessW.
#include <windows.h>

#include <vector>

#include "platform/process_start.h"

bool StartProcess(const std::wstring& application, const std::wstring& command_line,
                  ProcessInfo& info) {
    // CreateProcessW may write into the command line: give it a copy.
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    // The application is named explicitly: an unquoted launcher path with a
    // space in it must not be read as a shorter program path.
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    info.process = reinterpret_cast<uintptr_t>(process.hProcess);
    info.thread = reinterpret_cast<uintptr_t>(process.hThread);
    info.process_id = process.dwProcessId;
    info.thread_id = process.dwThreadId;
    return true;
}
