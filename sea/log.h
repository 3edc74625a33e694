// The diagnostic log "sea.log": off by default, one appended line per call.
#pragma once

// Appends the formatted message and a line break to "sea.log" in the log
// directory when logging is on; does nothing (not even formatting) when off.
// Format rules are those of FormatBounded: %s takes a wide string, %ld a
// 32-bit int. Never fails visibly.
void WriteLog(const wchar_t* format, ...);

// Deletes "vorn.log" in the log directory when logging is on.
void RemoveOldLog();
