// Console output on Windows: a console gets wide text through
// WriteConsoleW (so every character shows whatever the code page); a file
// or pipe gets UTF-8 bytes.
#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "platform/console.h"
#include "platform/text.h"

namespace {

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

}  // namespace

bool StdoutIsTerminal() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

void WriteConsoleText(ConsoleStream stream, const std::wstring& text) {
    const bool output = stream == ConsoleStream::Output;
    FILE* out = output ? stdout : stderr;
    fflush(out);
    HANDLE handle = GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (IsConsole(handle)) {
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = WideToUtf8(text);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fflush(out);
}
