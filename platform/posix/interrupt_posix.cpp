// Interrupts on POSIX: the handler records the signal and writes one byte
// into a pipe; a watcher thread reading the pipe does the cleanup (which a
// signal handler could not: it takes locks and allocates).
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/interrupt.h"
#include "platform/interrupt_parts.h"
#include "platform/text.h"

namespace {

// How long a killed helper program may take to end.
constexpr int kChildEndMs = 2000;

int g_wake[2] = {-1, -1};

void OnSignal(int signal_number) {
    const int saved = errno;
    RecordInterrupt(128 + signal_number);
    const char byte = 0;
    if (write(g_wake[1], &byte, 1) < 0) {
        // The pipe holds a byte already: the watcher is on its way.
    }
    errno = saved;
}

void Watch() {
    char byte;
    while (read(g_wake[0], &byte, 1) < 0 && errno == EINTR) {
    }
    const std::wstring message = CleanUpInterrupted(0);
    EndInterrupted(message, InterruptExitCode());
}

// Whether pid has ended (it is not reaped: the thread that started it does
// that, and until then neither its number nor its group's is reused).
bool Ended(pid_t pid) {
    siginfo_t info{};
    const int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | WNOHANG);
    return r != 0 || info.si_pid == pid;
}

}  // namespace

void StartInterruptWatch() {
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) return;
    fcntl(g_wake[0], F_SETFL, 0);  // the watcher blocks; the handler never does
    std::thread(Watch).detach();
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        sigaction(signal_number, nullptr, &current);
        // A signal ignored by whoever started us (nohup, a background job
        // of a non-interactive shell) stays ignored.
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
    }
}

void KillTrackedChild(uintptr_t handle, bool group) {
    const pid_t pid = static_cast<pid_t>(handle);
    kill(group ? -pid : pid, SIGKILL);
    for (int waited = 0; waited < kChildEndMs && !Ended(pid); waited += 5) {
        const timespec pause{0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

bool RemoveTrackedFile(const std::wstring& path) {
    return unlink(WideToUtf8(path).c_str()) == 0 || errno == ENOENT;
}

void EndInterrupted(const std::wstring& message, int exit_code) {
    const std::string bytes = WideToUtf8(message);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) done += static_cast<size_t>(n);
    }
    _exit(exit_code);
}
