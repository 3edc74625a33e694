// The argument vector of a launch on systems whose processes take one.
#include "platform/process_start.h"

namespace {

// Splits at spaces outside double quotes; the quotes are removed. A pair of
// quotes with nothing between them is an empty argument.
void SplitAtSpaces(const std::wstring& text, std::vector<std::wstring>& out) {
    std::wstring current;
    bool in_argument = false;
    bool quoted = false;
    for (wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
            in_argument = true;
        } else if (c == L' ' && !quoted) {
            if (in_argument) out.push_back(current);
            current.clear();
            in_argument = false;
        } else {
            current.push_back(c);
            in_argument = true;
        }
    }
    if (in_argument) out.push_back(current);
}

}  // namespace

std::vector<std::wstring> SplitLaunchArguments(const std::wstring& application,
                                               const std::wstring& command_line) {
    std::vector<std::wstring> arguments;
    // The program path leads the command line unquoted, spaces and all; it
    // is taken whole so that a space in it cannot split it.
    const std::wstring& app = application;
    if (!app.empty() && command_line.compare(0, app.size(), app) == 0 &&
        (command_line.size() == app.size() || command_line[app.size()] == L' ')) {
        arguments.push_back(app);
        SplitAtSpaces(command_line.substr(app.size()), arguments);
    } else {
        SplitAtSpaces(command_line, arguments);
        if (arguments.empty()) arguments.push_back(app);
    }
    return arguments;
}
