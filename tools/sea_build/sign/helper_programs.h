// The outside programs the builder runs for signing and checking
// (osslsigncode, openssl): finding them and reading what they print.
#pragma once

#include <string>
#include <vector>

// The first file named name (".exe" appended on Windows) in the
// directories of PATH; empty when there is none.
std::wstring FindProgram(const std::wstring& name);

// The most telling line of a failed run's output for a one-line message:
// the first line that is neither empty, a bare "Failed", a progress note
// ("Connecting to URL"), nor one of
// OpenSSL's error-queue lines ("40B0...:error:..."), which follow the
// program's own words; the first error-queue line's reason when there is
// nothing else. Empty when the output is empty.
std::wstring ReasonLine(const std::string& output);

// The output split into lines (line ends of either kind removed).
std::vector<std::string> OutputLines(const std::string& output);
