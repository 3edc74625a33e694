// The file-system walk that collects what goes into an installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TreeItem {
    std::wstring path;   // relative to the root, this system's separators
    bool directory;      // only directories that hold nothing are listed
    int64_t size;        // bytes of a file; 0 for a directory
};

struct TreeWalk {
    std::vector<TreeItem> items;        // depth first; the entries of each
                                        // directory in the order of their
                                        // names' UTF-8 bytes
    std::vector<std::wstring> warnings; // things skipped, one line each
    int64_t total_bytes = 0;
};

// Walks root: every file (symbolic links are followed) and every empty
// directory below it. Links that lead nowhere are skipped with a warning.
// False with a one-line reason in error when root is not a directory, a
// directory cannot be read, a file is 2 GB or larger, a name holds a
// backslash (not a separator everywhere), or the tree nests deeper than 64
// levels (a link loop).
bool WalkTree(const std::wstring& root, TreeWalk& walk, std::wstring& error);
