// Conversions between the wide text used everywhere and byte encodings.
#pragma once

#include <string>

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& bytes);

// The system ANSI code page (CP_ACP on Windows). POSIX has none: bytes are
// read as UTF-8 and any byte that is not part of a valid sequence is kept as
// the character of the same value (Latin-1), so no byte is lost.
std::wstring AnsiToWide(const char* bytes, size_t length);
std::string WideToAnsi(const std::wstring& text);

// The system default locale's ANSI code page number (1252, 1256, ...).
// POSIX reports 65001 (UTF-8).
unsigned SystemAnsiCodePage();
