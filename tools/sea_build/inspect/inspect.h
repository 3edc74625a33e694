// Reading an installer back with the archive library: list its entries, or
// check every entry against its CRC-32 without writing anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ALEntryList;
struct NameFinding;

// Prints the launcher name of the payload header (when there is one) and a
// line per entry: size, packed size, method, date and time, attributes and
// name; then, on standard error, every entry name Windows cannot create
// (windows_names.h) and the paths that fit only below a short temporary
// folder. Returns the exit code: 0, or 1 with a one-line error or when a
// name cannot be created.
int ListInstaller(const std::wstring& path);

// Decodes every entry into a storage that keeps only a CRC-32 and compares
// it with the directory's. Entries whose names would leave the target
// directory fail as they would when extracted, and so do names that
// Windows cannot create. Prints each failure and a
// summary line; returns 0 when every entry is sound, otherwise 1.
int TestInstaller(const std::wstring& path, bool progress);

// What checking every entry's CRC-32 found.
struct EntryCheck {
    int32_t entries = 0;
    std::vector<std::wstring> failures;  // "name: reason", one per failed entry
    std::vector<std::wstring> names;     // "name: reason", names Windows cannot create
    std::wstring archive_error;          // the directory or the archive could not be read
};

// The Windows name findings (windows_names.h) of the entries of list.
std::vector<NameFinding> EntryNameFindings(ALEntryList& list);

// The check behind --test and --verify, printing nothing but the progress
// bar (when progress is set). True when every entry is sound.
bool CheckEntries(const std::wstring& path, bool progress, EntryCheck& check);
