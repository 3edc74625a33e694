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

// Characters that Windows does not allow in a file name, or reads as
// wildcards, stream separators and device syntax.
bool IsReservedWindowsCharacter(wchar_t c) {
    if (c >= 1 && c < 32) return true;
    switch (c) {
    case L'<': case L'>': case L'"': case L'|': case L'?': case L'*': case L':':
        return true;
    default:
        return false;
    }
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? c - L'a' + L'A' : c; }

// [begin, end) equals the upper-case word, ignoring the case of ASCII letters.
bool EqualsIgnoringAsciiCase(const wchar_t* begin, const wchar_t* end, const wchar_t* word) {
    for (; begin != end; ++begin, ++word) {
        if (*word == L'\0' || AsciiUpper(*begin) != *word) return false;
    }
    return *word == L'\0';
}

// A device name of Windows, whatever follows its first dot: CON, PRN, AUX,
// NUL, COM0-9, LPT0-9 (also with a superscript 1-3), CONIN$, CONOUT$.
// Windows ignores blanks before the dot ("nul .txt" is NUL as well).
bool IsWindowsDeviceName(const wchar_t* begin, const wchar_t* end) {
    const wchar_t* stem_end = begin;
    while (stem_end != end && *stem_end != L'.') ++stem_end;
    while (stem_end != begin && stem_end[-1] == L' ') --stem_end;
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (EqualsIgnoringAsciiCase(begin, stem_end, device)) return true;
    }
    if (stem_end - begin != 4) return false;
    if (!EqualsIgnoringAsciiCase(begin, begin + 3, L"COM") &&
        !EqualsIgnoringAsciiCase(begin, begin + 3, L"LPT")) {
        return false;
    }
    const wchar_t digit = begin[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
}

// The component [begin, end) would not name the file it spells on Windows:
// a device, or a name whose trailing dots or blanks Windows drops. "." and
// empty components (from "a//b") stay harmless.
bool IsUnsafeWindowsComponent(const wchar_t* begin, const wchar_t* end) {
    const long length = end - begin;
    if (length == 0 || (length == 1 && begin[0] == L'.')) return false;
    if (end[-1] == L'.' || end[-1] == L' ') return true;
    return IsWindowsDeviceName(begin, end);
}

}  // namespace

EntryNameFault FindEntryNameFault(const wchar_t* name, bool windows_rules, size_t* at) {
    size_t unused = 0;
    size_t& where = at ? *at : unused;
    where = 0;
    if (!name || name[0] == L'\0') return EntryNameFault::kEmpty;
    if (IsPathSeparator(name[0])) return EntryNameFault::kAbsolute;
    if (IsAsciiLetter(name[0]) && name[1] == L':') return EntryNameFault::kAbsolute;
    const wchar_t* component = name;
    for (const wchar_t* p = name;; ++p) {
        if (windows_rules && IsReservedWindowsCharacter(*p)) {
            where = static_cast<size_t>(p - name);
            return EntryNameFault::kReservedCharacter;
        }
        if (*p == L'\0' || IsPathSeparator(*p)) {
            where = static_cast<size_t>(component - name);
            if (ClimbsUp(component, p, windows_rules)) return EntryNameFault::kClimbsUp;
            if (windows_rules && IsUnsafeWindowsComponent(component, p)) {
                return IsWindowsDeviceName(component, p) ? EntryNameFault::kDeviceName
                                                         : EntryNameFault::kTrailingDotOrBlank;
            }
            if (*p == L'\0') return EntryNameFault::kNone;
            component = p + 1;
        }
    }
}

bool IsUnsafeEntryName(const wchar_t* name, bool windows_rules) {
    return FindEntryNameFault(name, windows_rules, nullptr) != EntryNameFault::kNone;
}

bool IsUnsafeEntryName(const wchar_t* name) {
    return IsUnsafeEntryName(name, kPathSeparator == L'\\');
}
