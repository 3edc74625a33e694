// The diagnostic log "sea.log": off by default, one appended line per call.
#pragma once

// Appends the formatted message and a line break to "sea.log" in the log
// directory when logging is on; does nothing (not even formatting) when off.
// Format rules are those of FormatBounded: %s takes a wide string, %ld a
// 32-bit int. The line is written in the system's narrow (ANSI) encoding,
// with CR LF line ends on Windows. Never fails visibly.
void WriteLog(const wchar_t* format, ...);

// Deletes "vorn.log" in the log directory when logging is on.
void RemoveOldLog();

// True when the environment variable RUX_DEBUG holds "TRUE" in any letter
// case (read into 255 characters: a longer value counts as absent).
bool RuxDebugRequested();

// The start-up switch of the log. rux_debug: logging on, the current
// directory becomes the log directory and "vorn.log" there is removed.
// control_key: logging on and the hold flag set (closing banner). When the
// control key alone switched logging on, the log also goes to the current
// directory, without removing "vorn.log". Neither: logging stays off.
void StartLogging(bool rux_debug, bool control_key);
