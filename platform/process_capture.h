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

// The file name under which a program started by RunCaptured reads its
// standard input as a file ("/dev/stdin"); empty on systems without one.
std::wstring StandardInputFileName();

// The command-line form of one argument as the Microsoft C runtime parses
// it (quotes only where needed, backslashes doubled before a quote).
std::wstring QuoteWindowsArgument(const std::wstring& argument);
