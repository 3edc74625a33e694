// Helper programs on POSIX: posix_spawn with pipes for the standard
// streams, one poll loop that feeds the input and drains the output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/interrupt.h"
#include "platform/process_capture.h"
#include "platform/text.h"

extern char** environ;

namespace {

constexpr size_t kOutputLimit = 1 << 20;

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Ignores SIGPIPE while it lives: a program that ends without reading its
// input must not take this process with it.
class IgnoreBrokenPipe {
public:
    IgnoreBrokenPipe() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &saved_);
    }
    ~IgnoreBrokenPipe() { sigaction(SIGPIPE, &saved_, nullptr); }

private:
    struct sigaction saved_ {};
};

// Starts program; with own_group it leads a process group of its own.
bool Spawn(const std::wstring& program, const std::vector<std::wstring>& arguments, int in_read,
           int out_write, bool own_group, pid_t& pid) {
    std::vector<std::string> strings{WideToUtf8(program)};
    for (const std::wstring& argument : arguments) strings.push_back(WideToUtf8(argument));
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_read, 0);
    posix_spawn_file_actions_adddup2(&actions, out_write, 1);
    posix_spawn_file_actions_adddup2(&actions, out_write, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (own_group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    const int result =
        posix_spawn(&pid, strings[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0;
}

// Feeds input and collects output until the output closes or the deadline
// (0: none) passes; false on the deadline.
bool Exchange(int& in_write, int& out_read, const std::string& input, int64_t deadline,
              std::string& output) {
    size_t written = 0;
    if (input.empty()) CloseFd(in_write);
    while (out_read >= 0) {
        pollfd fds[2] = {{out_read, POLLIN, 0}, {in_write, POLLOUT, 0}};
        const nfds_t count = in_write >= 0 ? 2 : 1;
        int wait = -1;
        if (deadline != 0) {
            const int64_t left = deadline - NowMs();
            if (left <= 0) return false;
            wait = static_cast<int>(left);
        }
        if (poll(fds, count, wait) < 0 && errno != EINTR) return true;
        if (count == 2 && fds[1].revents) {
            const ssize_t n = write(in_write, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) CloseFd(in_write);
        }
        if (fds[0].revents) {
            char chunk[4096];
            const ssize_t n = read(out_read, chunk, sizeof chunk);
            if (n > 0 && output.size() < kOutputLimit) output.append(chunk, static_cast<size_t>(n));
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) CloseFd(out_read);
        }
    }
    return true;
}

// Waits until pid has ended, until the deadline (0: none); false when it
// passed. pid is not reaped: its number, and the number of its process
// group, stay reserved until Reap, so that nothing else is killed by them.
bool AwaitEnd(pid_t pid, int64_t deadline) {
    for (;;) {
        siginfo_t info{};
        const int r = waitid(P_PID, static_cast<id_t>(pid), &info,
                             WEXITED | WNOWAIT | (deadline == 0 ? 0 : WNOHANG));
        if (r == 0 && info.si_pid == pid) return true;
        if (r < 0 && errno != EINTR) return true;
        if (deadline != 0 && NowMs() >= deadline) return false;
        if (deadline != 0) usleep(10000);
    }
}

// Ends what is left of an ended program's group and reaps it.
int Reap(pid_t pid, bool own_group) {
    {
        InterruptHold hold;
        if (own_group) kill(-pid, SIGKILL);  // whatever the shell left running
        ForgetChild(static_cast<uintptr_t>(pid));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// RunCaptured, and RunShellCommand with own_group set.
CapturedRun Run(const std::wstring& program, const std::vector<std::wstring>& arguments,
                const std::string& input, uint32_t timeout_ms, bool own_group) {
    CapturedRun run;
    int in_pipe[2], out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) return run;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        return run;
    }
    int in_read = in_pipe[0], in_write = in_pipe[1], out_read = out_pipe[0],
        out_write = out_pipe[1];
    IgnoreBrokenPipe ignore;
    pid_t pid = 0;
    {
        // Started and registered in one step: an interrupt kills it.
        InterruptHold hold;
        run.started = !InterruptRequested() &&
                      Spawn(program, arguments, in_read, out_write, own_group, pid);
        if (run.started) TrackChild(static_cast<uintptr_t>(pid), own_group);
    }
    CloseFd(in_read);
    CloseFd(out_write);
    if (!run.started) {
        CloseFd(in_write);
        CloseFd(out_read);
        return run;
    }
    const int64_t deadline = timeout_ms == 0 ? 0 : NowMs() + timeout_ms;
    if (!Exchange(in_write, out_read, input, deadline, run.output) || !AwaitEnd(pid, deadline)) {
        kill(own_group ? -pid : pid, SIGKILL);
        AwaitEnd(pid, 0);
        run.timed_out = true;
    }
    const int status = Reap(pid, own_group);
    CloseFd(in_write);
    CloseFd(out_read);
    if (!run.timed_out && WIFEXITED(status)) {
        run.exit_code = WEXITSTATUS(status);
    }
    else if (!run.timed_out && WIFSIGNALED(status))
        run.exit_code = 128 + WTERMSIG(status);
    return run;
}

}  // namespace

CapturedRun RunCaptured(const std::wstring& program, const std::vector<std::wstring>& arguments,
                        const std::string& input, uint32_t timeout_ms) {
    return Run(program, arguments, input, timeout_ms, false);
}

CapturedRun RunShellCommand(const std::wstring& command, uint32_t timeout_ms) {
    return Run(L"/bin/sh", {L"-c", command}, std::string(), timeout_ms, true);
}

bool QuoteShellPath(const std::wstring& path, std::wstring& quoted) {
    quoted = L"'";
    for (wchar_t c : path) quoted += c == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, c);
    quoted += L"'";
    return true;
}

std::wstring StandardInputFileName() { return L"/dev/stdin"; }
