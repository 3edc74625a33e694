// Bounded wide-text formatting shared by the log and the status texts.
//
// The format language is printf's, with two rules that hold on every
// platform, whatever the C library makes of a bare conversion:
//   %s / %c   take a wide string / wide character (wchar_t*, wint_t);
//   %d %i %u %x %X %o with a single 'l' (%ld, %08lx) take a 32-bit int.
// "%%" is a percent sign; "%lld" and friends keep their 64-bit meaning.
// Nothing is ever written past the destination: a text that does not fit is
// cut at capacity - 1 characters and terminated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Formats into out[0..capacity-1] (always terminated when capacity > 0) and
// returns the number of characters stored, without the terminator.
size_t FormatBounded(wchar_t* out, size_t capacity, const wchar_t* format, ...);
size_t FormatBoundedV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

// Formats into a string of at most max_length characters (cut beyond).
std::wstring FormatString(size_t max_length, const wchar_t* format, ...);
std::wstring FormatStringV(size_t max_length, const wchar_t* format, va_list args);
