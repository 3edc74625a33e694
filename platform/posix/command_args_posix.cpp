// Command-line arguments on POSIX: argv converted from UTF-8.
#include "platform/command_args.h"
#include "platform/text.h"

std::vector<std::wstring> GetCommandArguments(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8ToWide(argv[i]));
    return arguments;
}
