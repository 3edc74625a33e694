// Command-line arguments on Windows: the wide command line split by the
// system's own rules (CommandLineToArgvW), so no character is lost to the
// ANSI code page.
#include <windows.h>

#include <shellapi.h>

#include "platform/command_args.h"

std::vector<std::wstring> GetCommandArguments(int, char**) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}
