// Test helper (Windows builds under Wine): starts a program and ends it
// with TerminateProcess as soon as a signal file appears, the way the task
// manager or a logoff ends a process, with no chance to clean up.
//
//   terminate_runner SIGNAL-FILE PROGRAM [ARGUMENT...]
//
// Exit code: the program's own when it ended by itself; 200 when it was
// terminated; 201 when it could not be started or would not end.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kTerminatedExitCode = 200;
constexpr DWORD kHelperFailedExitCode = 201;
constexpr DWORD kPollMilliseconds = 10;
constexpr DWORD kLimitMilliseconds = 300000;

std::wstring Quoted(const wchar_t* argument) {
    std::wstring text = argument;
    if (text.find_first_of(L" \t") == std::wstring::npos && !text.empty()) return text;
    return L"\"" + text + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return kHelperFailedExitCode;
    std::wstring command_line;
    for (int i = 2; i < argc; ++i) command_line += (i > 2 ? L" " : L"") + Quoted(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[2], &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return kHelperFailedExitCode;
    }
    CloseHandle(process.hThread);
    DWORD result = kHelperFailedExitCode;
    for (DWORD waited = 0; waited < kLimitMilliseconds; waited += kPollMilliseconds) {
        if (WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &result);
            break;
        }
        if (GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES) {
            TerminateProcess(process.hProcess, kTerminatedExitCode);
            WaitForSingleObject(process.hProcess, INFINITE);
            result = kTerminatedExitCode;
            break;
        }
    }
    CloseHandle(process.hProcess);
    return static_cast<int>(result);
}
