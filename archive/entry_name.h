// The test that keeps extraction inside its target directory. An archive
// member's name is a claim made by whoever wrote the archive; a name that
// would place a file anywhere but below the current directory is refused.
#pragma once

#include <cstddef>

// True when name must not be created relative to the current directory:
//   - empty;
//   - absolute or UNC: a leading '/' or '\\';
//   - drive-qualified: a letter followed by ':' at the start;
//   - any ".." component;
// and with windows_rules also
//   - any ':' (drive letters later in the path, alternate data streams),
//     any of < > " | ? * and any control character;
//   - a component of dots and blanks only with at least two dots (such as
//     ".. " or "..."), which Windows may trim into "..";
//   - any other component ending in a dot or a blank, which Windows would
//     trim into another name ("." itself and empty components are fine);
//   - a device name in any component, in any letter case and with any
//     extension: CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$.
// Both '/' and '\\' separate components under either rule set, because
// ALFile treats both as separators on every system.
bool IsUnsafeEntryName(const wchar_t* name, bool windows_rules);

// Which of the rules above a name breaks first, reading it from the start.
enum class EntryNameFault {
    kNone,
    kEmpty,                // an empty name
    kAbsolute,             // absolute, UNC or drive-qualified
    kClimbsUp,             // a ".." component (Windows rules: "...", ".. " too)
    kReservedCharacter,    // Windows rules: < > : " | ? * or a control character
    kTrailingDotOrBlank,   // Windows rules: a component ending in '.' or ' '
    kDeviceName,           // Windows rules: CON, NUL, COM1, LPT2.txt, ...
};

// The first fault of name; *at (when given) receives the index of the
// offending character (kReservedCharacter) or of the start of the offending
// component (the others; 0 for kEmpty and kAbsolute).
EntryNameFault FindEntryNameFault(const wchar_t* name, bool windows_rules, size_t* at);

// The rule set of this system: Windows rules where '\\' is the separator.
bool IsUnsafeEntryName(const wchar_t* name);
