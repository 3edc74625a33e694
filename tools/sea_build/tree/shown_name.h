// Names as sea-build prints them. A name may hold whatever its file system
// or a ZIP directory allows; printed as it is, a control character would
// end the line, move the cursor or clear the screen, and a bidirectional
// formatting character would turn the text around it.
#pragma once

#include <string>

// text with every character that must not reach a terminal as an escape:
// C0 controls and DEL as "\x1b", C1 controls, the line and paragraph
// separators, the bidirectional formatting characters (U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069) and unpaired UTF-16 surrogates as
// "\u202e". Other text, backslashes included, stays as it is.
std::wstring ShownName(const std::wstring& text);

// One line of text ending in "\n" (or not) as ShownName shows it, that
// line end kept.
std::wstring ShownLine(const std::wstring& line);

// A name's bytes that are not valid UTF-8 (POSIX) as text: each valid
// sequence as its character, each other byte as "\xff", then as ShownName.
std::wstring ShownBytes(const std::string& bytes);
