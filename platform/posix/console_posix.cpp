// Console output on POSIX: UTF-8 bytes on the standard streams.
#include <stdio.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/text.h"

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void WriteConsoleText(ConsoleStream stream, const std::wstring& text) {
    FILE* out = stream == ConsoleStream::Output ? stdout : stderr;
    const std::string bytes = WideToUtf8(text);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fflush(out);
}
