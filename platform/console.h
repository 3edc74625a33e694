// Text output of the command-line tools: wide text to the standard streams
// (UTF-8 bytes on POSIX and into pipes, the console's own wide output on a
// Windows console), and whether standard output is a terminal.
#pragma once

#include <string>

enum class ConsoleStream { Output, Error };

// True when standard output is an interactive terminal (not a file or pipe).
bool StdoutIsTerminal();
// Writes text as it stands (no line end added) and flushes the stream.
void WriteConsoleText(ConsoleStream stream, const std::wstring& text);
