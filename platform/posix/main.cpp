// POSIX entry point: rebuilds the argument string that Windows hands to
// wWinMain (arguments joined by spaces, those with spaces quoted) and runs
// the front end.
#include <string>

#include "platform/module.h"
#include "platform/text.h"
#include "sea/entry.h"

int main(int argc, char** argv) {
    SaveProgramArguments(argc, argv);
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = Utf8ToWide(argv[i]);
        if (i > 1) arguments.push_back(L' ');
        bool quote = arg.empty() || arg.find(L' ') != std::wstring::npos;
        if (quote) arguments.push_back(L'"');
        arguments += arg;
        if (quote) arguments.push_back(L'"');
    }
    return SeaEntry(nullptr, arguments.c_str());
}
