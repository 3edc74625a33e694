// Process creation on POSIX: posix_spawn with an argument vector taken from
// the Windows-style command line.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

#include "platform/process_start.h"
#include "platform/text.h"

extern char** environ;

namespace {

// ZIP payloads carry DOS attributes, which have no execute permission; any
// file Windows would start (the launcher is a regular file) gets the
// owner's execute bit before it is started.
void MakeOwnerExecutable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IXUSR)) {
        chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR);
    }
}

}  // namespace

bool StartProcess(const std::wstring& application, const std::wstring& command_line,
                  ProcessInfo& info) {
    std::vector<std::string> arguments;
    for (const std::wstring& argument : SplitLaunchArguments(application, command_line)) {
        arguments.push_back(WideToUtf8(argument));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    std::string path = WideToUtf8(application);
    MakeOwnerExecutable(path);
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    info.process = static_cast<uintptr_t>(pid);
    info.thread = 0;
    info.process_id = static_cast<uint32_t>(pid);
    info.thread_id = 0;
    return true;
}
