// The file-system walk that collects what goes into an installer, and every
// reason the tree cannot go in as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_identity.h"

struct TreeItem {
    std::wstring path;      // relative to the root, this system's separators
    bool directory;         // only directories that hold nothing are listed
    int64_t size;           // bytes of a file; 0 for a directory
    FileIdentity identity;  // what the walk saw, to check when it is read
};

struct TreeProblem {
    std::wstring path;    // relative to the root (a name that is not UTF-8
                          // as ShownBytes shows it)
    std::wstring reason;
};

struct TreeWalk {
    std::vector<TreeItem> items;         // depth first; the entries of each
                                         // directory in the order of their
                                         // names' UTF-8 bytes
    std::vector<TreeProblem> problems;   // the build must not go on
    std::vector<TreeProblem> skipped;    // left out (skip_unreadable)
    int64_t total_bytes = 0;
};

// Walks root: every file and every empty directory below it. Links are
// followed, files and directories alike, but every directory is entered
// once: a link back to a directory above it (a cycle) or to one entered
// already is a problem, named by the link's path. Named pipes, sockets and
// devices are never opened, and neither is a name Windows cannot create
// (windows_names.h NameFault: a problem of its own). Problems: a broken link, a file or directory
// that cannot be read, a special file, a file of 2 GB or more, a name with
// a backslash (POSIX: no separator on every system), a name that is not
// valid UTF-8 (POSIX; named by shown_name.h's ShownBytes and never opened).
// With skip_unreadable
// unreadable entries, broken links and special files go to `skipped`
// instead. False with a one-line reason in error only when root itself is
// no readable directory.
bool WalkTree(const std::wstring& root, bool skip_unreadable, TreeWalk& walk, std::wstring& error);
