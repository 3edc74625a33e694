// The running program's own file.
#pragma once

#include <string>

// Full path of the running executable (GetModuleFileNameW of the process's
// module; /proc/self/exe on POSIX). Empty when it cannot be obtained.
std::wstring GetOwnModulePath();

// The process's complete command line as the system reports it, program
// path included (GetCommandLineW; on POSIX the arguments joined with
// spaces, each one containing a space or nothing at all in double quotes).
std::wstring GetOwnCommandLine();

// Records main()'s arguments for GetOwnCommandLine. POSIX programs call it
// first thing; Windows keeps the command line itself, so it does nothing there.
void SaveProgramArguments(int argc, char** argv);
