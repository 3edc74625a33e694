// Starting the installer's launcher from the working directory.
#pragma once

#include <string>

#include "sea/extract_context.h"

// Removes -jvmxms and -jvmxmx with the word after each from a command line
// cut into words at spaces (double quotes have no special meaning); the
// result is the remaining words, each followed by one space.
void StripHeapOptions(std::wstring& command_line);

// The launcher's command line: `launcher` with its separators made the
// system's own, one space, then everything after the program path of
// `own_command_line` (a quoted path ends at its closing quote, an unquoted
// one at the first space).
std::wstring BuildLaunchCommandLine(const std::wstring& launcher, const std::wstring& own_command_line);

// The launcher choice from ctx.launcher (the first candidate, built by the
// own-file check): "Windows" + own name, else the first executable in
// "Windows_Pure_64_Bit", else the first in "Windows". Prints "Unable to
// locate 32 bit installer to execute" / "... 64 bit ..." when the folders
// hold none. Returns the launcher path.
std::wstring ChooseLauncher(ExtractContext& ctx);

// The launch: enters the working directory, chooses the
// launcher, builds its command line from the program's own command line
// (heap options stripped when given) and starts it. On success the run
// state holds the process and the launch flag, "Success. The extracted file
// execution has begun." is logged and 1 returned; otherwise ShowError 18,
// restore, remove, "*** FAILURE: Unable to execute the EXE program." and 0.
int LaunchInstaller(ExtractContext& ctx);

// The same with a given own command line (tests).
int LaunchInstallerWith(ExtractContext& ctx, const std::wstring& own_command_line);
