#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/process.h"

namespace {
// waitpid reaps the child once; remember its status for the exit-code query.
int g_status = 0;
pid_t g_reaped = 0;
}  // namespace

void CloseThreadHandle(ProcessInfo& info) { info.thread = 0; }
void CloseProcessHandle(ProcessInfo& info) { info.process = 0; }

void WaitForProcess(const ProcessInfo& info) {
    pid_t pid = static_cast<pid_t>(info.process);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r == pid) {
        g_reaped = pid;
        g_status = status;
    }
}

bool GetProcessExitCode(const ProcessInfo& info, int32_t& code) {
    if (g_reaped == 0 || g_reaped != static_cast<pid_t>(info.process)) return false;
    if (WIFEXITED(g_status)) {
        code = WEXITSTATUS(g_status);
        return true;
    }
    if (WIFSIGNALED(g_status)) {
        code = 128 + WTERMSIG(g_status);
        return true;
    }
    return false;
}
