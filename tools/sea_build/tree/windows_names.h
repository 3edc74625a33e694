// The names Windows can hold, checked before an installer is written (the
// tree's files) and when one is read back (--list, --test, --verify).
//
// A name fails when Windows cannot create it (the entry-name rules of
// archive/entry_name.h: device names, reserved characters, trailing dots and
// blanks, names that leave the folder), when two names of one folder are
// equal under Windows' case-insensitive comparison (one would overwrite the
// other), and when its path does not fit the self-extractor's path budget.
//
// Path budget. The self-extractor creates every entry below its working
// directory, BASE\I<digits>\, through the Windows calls that take at most
// MAX_PATH (260) characters with the terminator: a file's full path has at
// most 259 characters, a folder's at most 247 (room for an 8.3 name below
// it). The working directory's name is "I" and up to 10 digits. Lengths
// count UTF-16 units, '\' between components.
//   - shortest base, "C:\" (-tempdir C:\): the prefix C:\I0123456789\ has
//     15 characters, so a file path of more than 244 and a folder path of
//     more than 232 characters can never be extracted: refused;
//   - a typical temporary folder, C:\Users\<name>\AppData\Local\Temp\ with
//     a user name of 20 characters (the longest Windows allows), has 49:
//     a file path of more than 198 or a folder path of more than 186
//     characters fails there: a warning.
//   - a single component of more than 255 characters is refused whatever
//     the base (the file systems' own limit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kMaxFullFilePath = 259;
constexpr size_t kMaxFullFolderPath = 247;
constexpr size_t kMaxComponent = 255;
constexpr size_t kWorkDirName = 12;  // I0123456789 and its separator
constexpr size_t kShortestBase = 3;  // C:\ (a drive root given as -tempdir)
constexpr size_t kTypicalBase = 49;  // C:\Users\<20 characters>\AppData\Local\Temp\ (49)

struct NameEntry {
    std::wstring path;  // relative; '/' or '\\' between components
    bool directory;     // a folder (a trailing separator means one too)
};

struct NameFinding {
    std::wstring path;    // the entry, or the folder of it that fails
    std::wstring reason;
    bool warning;         // fits on most machines, not on every one
};

// Every finding for the entries, in their order; each path at most once,
// and nothing below a folder that fails already.
std::vector<NameFinding> CheckWindowsNames(const std::vector<NameEntry>& entries);

// Why Windows cannot create the single name (no separators in it), by the
// entry-name rules; empty when it can. The walk asks this before it opens
// anything: on Windows a name such as AUX opens a device.
std::wstring NameFault(const std::wstring& name);

// Windows' case-insensitive form of a name: each UTF-16 unit upper-cased
// by the simple mapping (characters beyond U+FFFF stay as they are).
std::wstring WindowsUpcase(const std::wstring& name);
