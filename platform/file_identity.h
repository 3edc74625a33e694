// What a path names, learnt without reading it: its kind, its size and its
// identity (device and inode number on POSIX; volume serial number and
// file index on Windows), so that a walk can tell a directory it has seen
// from a new one and never opens a named pipe, socket or device.
#pragma once

#include <cstdint>
#include <string>

enum class FileKind {
    kRegular,
    kDirectory,
    kLink,     // a symbolic link, junction or other reparse point (not followed)
    kSpecial,  // a named pipe, socket or device
};

struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}
inline bool operator<(const FileIdentity& a, const FileIdentity& b) {
    return a.volume < b.volume || (a.volume == b.volume && a.index < b.index);
}

struct FileFacts {
    FileKind kind = FileKind::kRegular;
    int64_t size = 0;  // bytes of a regular file, else 0
    FileIdentity identity;
};

// The facts of path: with follow_links those of what links lead to (stat),
// else of a link itself (lstat). False with the errno value (ENOENT 2,
// EACCES 13, ELOOP 40 on POSIX, ...) in error. Nothing is opened for
// reading: on Windows the object is opened for its attributes only.
bool QueryPathFacts(const std::wstring& path, bool follow_links, FileFacts& facts, int& error);

// The facts of an open descriptor (platform/file_io.h).
bool QueryDescriptorFacts(int fd, FileFacts& facts, int& error);
