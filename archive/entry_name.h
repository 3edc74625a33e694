// The test that keeps extraction inside its target directory. An archive
// member's name is a claim made by whoever wrote the archive; a name that
// would place a file anywhere but below the current directory is refused.
#pragma once

// True when name must not be created relative to the current directory:
//   - empty;
//   - absolute or UNC: a leading '/' or '\\';
//   - drive-qualified: a letter followed by ':' at the start;
//   - any ".." component;
// and with windows_rules also
//   - any ':' (drive letters later in the path, alternate data streams);
//   - a component of dots and blanks only with at least two dots (such as
//     ".. " or "..."), which Windows may trim into "..".
// Both '/' and '\\' separate components under either rule set, because
// ALFile treats both as separators on every system.
bool IsUnsafeEntryName(const wchar_t* name, bool windows_rules);

// The rule set of this system: Windows rules where '\\' is the separator.
bool IsUnsafeEntryName(const wchar_t* name);
