// The command-line arguments of a console program as wide text.
#pragma once

#include <string>
#include <vector>

// main()'s arguments, program name first: on Windows taken from the
// process's wide command line (argc/argv are ignored there, their bytes
// are in the ANSI code page), on POSIX converted from UTF-8.
std::vector<std::wstring> GetCommandArguments(int argc, char** argv);
