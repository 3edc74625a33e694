// Path text helpers that need no system call.
#pragma once

#include <string>

// The separator this system's own paths use ('\\' on Windows, '/' on POSIX).
extern const wchar_t kPathSeparator;
// The separator as a string, for composing formats such as "%s" SEP "%s".
extern const wchar_t* const kPathSeparatorText;

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A path split like _wsplitpath: drive ("C:" or empty), directory (with its
// trailing separator), file name without extension, extension (with '.').
struct PathParts {
    std::wstring drive;
    std::wstring directory;
    std::wstring name;
    std::wstring extension;
};
PathParts SplitPath(const std::wstring& path);

// path with one separator appended unless it already ends with one.
std::wstring WithTrailingSeparator(const std::wstring& path);
