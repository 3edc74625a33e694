// Directory search by pattern.
#pragma once

#include <cstdint>
#include <string>

struct DirEntry {
    std::wstring name;     // name only, no directory
    uint32_t attributes;   // kAttr... bits of platform/file_attributes.h
    // POSIX: the name's bytes when they are not valid UTF-8 (name then
    // holds U+FFFD for each bad byte and leads to no file); else empty.
    std::string bytes_not_utf8{};
};

// Entries of one directory whose names match a pattern "dir<sep>*" or
// "dir<sep>*.ext" (FindFirstFileW / FindNextFileW; opendir / readdir on
// POSIX, where the extension is compared without regard to letter case and
// a symbolic link reports kAttrReparsePoint). "." and ".." are returned too.
class DirectorySearch {
public:
    explicit DirectorySearch(const std::wstring& pattern);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // False when the search could not start (no such directory).
    bool started() const;
    // The next entry in the order the system returns them; false at the end.
    bool Next(DirEntry& entry);

private:
    struct Impl;
    Impl* impl_;
};

// Name of the first entry matching pattern that is not a directory; false
// when there is none.
bool FindFirstMatch(const std::wstring& pattern, std::wstring& name);
