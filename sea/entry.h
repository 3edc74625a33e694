// The program's entry function, called by the platform's entry point.
#pragma once

// instance: the module instance handle (null on POSIX); arguments: the
// command line without the program's own name. Returns the exit code.
int SeaEntry(void* instance, const wchar_t* arguments);
