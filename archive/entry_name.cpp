#include "archive/entry_name.h"

#include "platform/path.h"

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The component [begin, end) climbs to the parent directory.
bool ClimbsUp(const wchar_t* begin, const wchar_t* end, bool windows_rules) {
    const long length = end - begin;
    if (length == 2 && begin[0] == L'.' && begin[1] == L'.') return true;
    if (!windows_rules || length < 2) return false;
    // Windows drops trailing dots and blanks from a path component, so
    // ".. " or "..." may end up meaning "..".
    int dots = 0;
    for (const wchar_t* p = begin; p != end; ++p) {
        if (*p == L'.') {
            ++dots;
        } else if (*p != L' ') {
            return false;
        }
    }
    return dots >= 2;
}

}  // namespace

bool IsUnsafeEntryName(const wchar_t* name, bool windows_rules) {
    if (!name || name[0] == L'\0') return true;
    if (IsPathSeparator(name[0])) return true;
    if (IsAsciiLetter(name[0]) && name[1] == L':') return true;
    const wchar_t* component = name;
    for (const wchar_t* p = name;; ++p) {
        if (windows_rules && *p == L':') return true;
        if (*p == L'\0' || IsPathSeparator(*p)) {
            if (ClimbsUp(component, p, windows_rules)) return true;
            if (*p == L'\0') return false;
            component = p + 1;
        }
    }
}

bool IsUnsafeEntryName(const wchar_t* name) {
    return IsUnsafeEntryName(name, kPathSeparator == L'\\');
}
