// Starting a program as a new process.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

// Starts `application` with the command line `command_line` (which begins
// with the program path, as Windows command lines do), the current
// directory and this process's environment; no handles are inherited.
// Windows: CreateProcessW with both. POSIX: posix_spawn of `application`;
// the arguments are the command line split at spaces outside double quotes,
// quotes removed, with argv[0] the application when the command line begins
// with its path. On success `info` holds the process (and thread) handles.
bool StartProcess(const std::wstring& application, const std::wstring& command_line,
                  ProcessInfo& info);

// The argument vector a POSIX launch passes (computed on every system, so
// that tests can check it anywhere).
std::vector<std::wstring> SplitLaunchArguments(const std::wstring& application,
                                               const std::wstring& command_line);
