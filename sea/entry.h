// The program's entry function, called by the platform's entry point.
#pragma once

#include <cstdint>

// instance: the module instance handle (null on POSIX); arguments: the
// command line without the program's own name. Returns the exit code: the
// launcher's, or -1 when no launcher was started.
int SeaEntry(void* instance, const wchar_t* arguments);

// Logs the closing banner when the control key held at start-up asked for
// it (hold flag) and the launcher's exit code is not 106.
void WriteClosingBanner(int32_t exit_code);
