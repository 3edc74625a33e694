// Recursive removal of a directory tree.
#pragma once

#include <string>

#include "platform/directory_search.h"

// Removes dir and everything below it; with clear_read_only, read-only
// attributes are cleared on the way so that such entries can be deleted.
// True when the whole tree was removed. A symbolic link, junction or other
// reparse point inside the tree is removed itself; what it points to is
// never touched. An entry that cannot be deleted does not stop the walk;
// the directories above it stay and the result is false.
bool DeleteDirectoryTree(const std::wstring& dir, bool clear_read_only);

// Removes one entry found in dir ("." and ".." count as removed).
bool DeleteTreeEntry(const std::wstring& dir, bool clear_read_only, const DirEntry& entry);

// Sets or clears the read-only attribute of path, keeping its other
// attributes. False when the attributes cannot be read or written.
bool SetPathReadOnly(const std::wstring& path, bool read_only);
