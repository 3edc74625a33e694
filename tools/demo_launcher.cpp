// The launcher of the demo installer (demo/): what an installer's real
// launcher would be started with, made visible. It prints its arguments,
// its current directory (the self-extractor's working directory) and the
// location file "sea_loc" found there, writes the same text to
// "demo-launcher.txt" beside it, and exits with 0.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/command_args.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/file_stream.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

std::string ReadAll(const std::wstring& path, bool& found) {
    std::string data;
    FILE* f = OpenStream(path, "rb");
    found = f != nullptr;
    if (!f) return data;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
    fclose(f);
    return data;
}

// The location file's bytes shown as text: the path, its LF as "\n" and
// the terminating zero byte as "\0".
std::wstring Visible(const std::string& bytes) {
    std::string shown;
    for (char c : bytes) {
        if (c == '\n') shown += "\\n";
        else if (c == '\0') shown += "\\0";
        else shown.push_back(c);
    }
    return Utf8ToWide(shown);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::wstring> arguments = GetCommandArguments(argc, argv);
    std::wstring cwd;
    GetCurrentDir(cwd);
    std::wstring report = L"Demo launcher started\n";
    for (size_t i = 0; i < arguments.size(); ++i) {
        report += L"  argument " + std::to_wstring(i) + L": " + arguments[i] + L"\n";
    }
    report += L"  working directory: " + cwd + L"\n";
    bool found = false;
    const std::string location = ReadAll(WithTrailingSeparator(cwd) + L"sea_loc", found);
    report += found ? L"  sea_loc: " + Visible(location) + L" (" + std::to_wstring(location.size()) +
                          L" bytes)\n"
                    : std::wstring(L"  sea_loc: (missing)\n");
    report += L"Demo launcher exits with 0\n";
    WriteConsoleText(ConsoleStream::Output, report);
    FILE* out = OpenStream(WithTrailingSeparator(cwd) + L"demo-launcher.txt", "wb");
    if (out) {
        const std::string bytes = WideToUtf8(report);
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
    }
    return 0;
}
