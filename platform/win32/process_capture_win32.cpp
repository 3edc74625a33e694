// Helper programs on Windows: anonymous pipes for the standard streams,
// polled with PeekNamedPipe while the process runs.
#include <windows.h>

#include "platform/interrupt.h"
#include "platform/process_capture.h"

namespace {

constexpr size_t kOutputLimit = 1 << 20;

void CloseIf(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// Reads what the pipe holds now; false once it is closed and empty.
bool Drain(HANDLE pipe, std::string& output) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    while (available > 0) {
        char chunk[4096];
        DWORD n = 0;
        const DWORD want = available < sizeof chunk ? available : sizeof chunk;
        if (!ReadFile(pipe, chunk, want, &n, nullptr) || n == 0) {
            return false;
        }
        if (output.size() < kOutputLimit) output.append(chunk, n);
        available -= n;
    }
    return true;
}

// Runs application with the command line `line`; with a job, everything
// it starts belongs to the job, which is killed when the time limit passes
// and once the program has ended.
CapturedRun Run(const std::wstring& application, const std::wstring& line, const std::string& input,
                uint32_t timeout_ms, HANDLE job) {
    CapturedRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr;
    // The input buffer holds all of the input, so writing it never blocks.
    if (!CreatePipe(&in_read, &in_write, &inherit, static_cast<DWORD>(input.size() + 4096))) {
        return run;
    }
    if (!CreatePipe(&out_read, &out_write, &inherit, 0)) {
        CloseIf(in_read);
        CloseIf(in_write);
        return run;
    }
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    std::wstring writable = line;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = out_write;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    {
        // Started and registered in one step: an interrupt kills it (with
        // everything in its job).
        InterruptHold hold;
        run.started = !InterruptRequested() &&
                      CreateProcessW(application.c_str(), &writable[0], nullptr, nullptr, TRUE,
                                     CREATE_NO_WINDOW | (job ? CREATE_SUSPENDED : 0), nullptr,
                                     nullptr, &startup, &process) != 0;
        if (run.started && job) {
            AssignProcessToJobObject(job, process.hProcess);
            ResumeThread(process.hThread);
        }
        if (run.started) {
            TrackChild(reinterpret_cast<uintptr_t>(job ? job : process.hProcess), job != nullptr);
        }
    }
    CloseIf(in_read);
    CloseIf(out_write);
    if (run.started) {
        DWORD written = 0;
        if (!input.empty()) {
            WriteFile(in_write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        }
        CloseIf(in_write);
        const ULONGLONG deadline = timeout_ms == 0 ? 0 : GetTickCount64() + timeout_ms;
        for (;;) {
            Drain(out_read, run.output);
            if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) {
                Drain(out_read, run.output);  // what it wrote just before ending
                break;
            }
            if (deadline != 0 && GetTickCount64() >= deadline) {
                if (job) TerminateJobObject(job, 1);
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, INFINITE);
                run.timed_out = true;
                break;
            }
        }
        DWORD code = 0;
        if (!run.timed_out && GetExitCodeProcess(process.hProcess, &code)) {
            run.exit_code = static_cast<int32_t>(code);
        }
        {
            InterruptHold hold;
            if (job) TerminateJobObject(job, 1);  // whatever the program left running
            ForgetChild(reinterpret_cast<uintptr_t>(job ? job : process.hProcess));
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseIf(in_write);
    CloseIf(out_read);
    return run;
}

// The command interpreter: %ComSpec%, else cmd.exe in the system folder.
std::wstring CommandInterpreter() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableW(L"ComSpec", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return std::wstring(buffer, n);
    n = GetSystemDirectoryW(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"cmd.exe";
    return std::wstring(buffer, n) + L"\\cmd.exe";
}

}  // namespace

CapturedRun RunCaptured(const std::wstring& program, const std::vector<std::wstring>& arguments,
                        const std::string& input, uint32_t timeout_ms) {
    std::wstring line = QuoteWindowsArgument(program);
    for (const std::wstring& argument : arguments) line += L" " + QuoteWindowsArgument(argument);
    return Run(program, line, input, timeout_ms, nullptr);
}

CapturedRun RunShellCommand(const std::wstring& command, uint32_t timeout_ms) {
    const std::wstring interpreter = CommandInterpreter();
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    // /s: cmd takes the text between the first and the last quote as it is.
    const CapturedRun run = Run(interpreter,
                                QuoteWindowsArgument(interpreter) + L" /d /s /c \"" + command + L"\"",
                                std::string(), timeout_ms, job);
    if (job) CloseHandle(job);
    return run;
}

bool QuoteShellPath(const std::wstring& path, std::wstring& quoted) {
    if (path.find_first_of(L"\"%") != std::wstring::npos) return false;
    quoted = L"\"" + path + L"\"";
    return true;
}

std::wstring StandardInputFileName() { return std::wstring(); }
