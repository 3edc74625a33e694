// Recursive removal of a directory tree.
//
// The walk works on directories it holds open (platform/dir_handle.h):
// each directory is listed through its hold, each child is opened relative
// to it without following links, and what is done to a child depends on
// what was opened, never on a path resolved again after a check. A tree
// that others may write into, or whose entries are swapped for links while
// it is removed, therefore never costs anything outside itself.
#pragma once

#include <string>

#include "platform/dir_handle.h"
#include "platform/directory_search.h"

// Removes dir and everything below it; with clear_read_only, read-only
// attributes are cleared on the way so that such entries can be deleted.
// True when the whole tree was removed. A symbolic link, junction or other
// reparse point inside the tree is removed itself; what it points to is
// never touched. dir itself must be a directory, not a link to one. An
// entry that cannot be deleted does not stop the walk; the directories
// above it stay and the result is false.
bool DeleteDirectoryTree(const std::wstring& dir, bool clear_read_only);

// Removes one entry found in dir ("." and ".." count as removed). An entry
// listed as a link is removed as a link, never entered.
bool DeleteTreeEntry(const std::wstring& dir, bool clear_read_only, const DirEntry& entry);

// Removes everything in the held directory `dir` except the entry named
// `keep` (empty: none), the directory itself staying. `path` names it, for
// the test seam only. True when nothing else is left.
bool DeleteHeldTreeContents(const DirHandle* dir, const std::wstring& path, bool clear_read_only,
                            const std::wstring& keep);

// Sets or clears the read-only attribute of path, keeping its other
// attributes. False when the attributes cannot be read or written, and for
// a link, whose target is never changed.
bool SetPathReadOnly(const std::wstring& path, bool read_only);

// Test seam: when set, called with the full path of each directory the walk
// has listed and is about to enter, after the listing and before the
// directory is opened, so that a test can swap it for a link right there.
// The program itself never sets it.
using TreeDescentProbe = void (*)(const std::wstring& path);
extern TreeDescentProbe g_tree_descent_probe;
