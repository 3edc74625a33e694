// The log line that names an archive-library status code.
#pragma once

#include <cstdint>

// The code's text ("CRC Error", "Can't open file", ...), or null for codes
// that have none (0 and above, -1983, -1982, and unknown codes).
const wchar_t* StatusCodeText(int32_t code);

// Writes "Code <code> = '<text>'" to the log for a code that has a text;
// nothing for any other code.
void LogStatusCodeText(int32_t code);
