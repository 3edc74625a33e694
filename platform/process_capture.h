// Running a helper program to its end and collecting what it prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CapturedRun {
    bool started = false;    // false: the program could not be started at all
    bool timed_out = false;  // the time limit passed and the program was killed
    int32_t exit_code = -1;  // when it ended by itself
    std::string output;      // standard output and standard error, interleaved
};

// Starts program with argv[1...] = arguments (no shell, no quoting rules on
// POSIX; on Windows the command line is built so that the C runtime's
// parser gives back exactly these arguments), writes input to its standard
// input and closes it, and collects its standard output and standard error
// (at most the first 1 MiB is kept). Waits until the program ends, or
// kills it once timeout_ms have passed (0: no limit). No other handles are
// inherited; the environment and current directory are this process's.
CapturedRun RunCaptured(const std::wstring& program, const std::vector<std::wstring>& arguments,
                        const std::string& input, uint32_t timeout_ms);

// Runs command through the system's shell (/bin/sh -c on POSIX, cmd.exe
// /d /s /c on Windows) with empty input, collecting its output as
// RunCaptured does. The shell and everything it starts form one group
// (a process group, a job object), which is killed when the time limit
// passes (timeout_ms, 0: none) and once the shell has ended, so that no
// program it left behind goes on working on the files it was given.
CapturedRun RunShellCommand(const std::wstring& command, uint32_t timeout_ms);

// path as one word of that shell's command line: in single quotes for sh,
// in double quotes for cmd. False when cmd would still expand part of it
// (a path holding '"' or '%').
bool QuoteShellPath(const std::wstring& path, std::wstring& quoted);

// The file name under which a program started by RunCaptured reads its
// standard input as a file ("/dev/stdin"); empty on systems without one.
std::wstring StandardInputFileName();

// The command-line form of one argument as the Microsoft C runtime parses
// it (quotes only where needed, backslashes doubled before a quote).
std::wstring QuoteWindowsArgument(const std::wstring& argument);
