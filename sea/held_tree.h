// Extraction into a held working directory.
//
// Every folder and file of the archive is made relative to its parent,
// which is held while it is used (platform/dir_handle.h): the walk starts at
// the held working directory for each entry and enters each folder through
// the hold of the one above it, never through a link. A link, a file or any
// other reparse point found where a folder is expected fails the entry
// (ENOTDIR, reported like any file that cannot be created), and nothing is
// ever written through it. Files are made new (an existing name is opened
// only when it is a plain file of this tree), and their time stamp and
// attributes are set through their own descriptor when they are closed.
#pragma once

#include <string>

#include "archive/file.h"
#include "platform/dir_handle.h"
#include "platform/thread.h"

class HeldTree {
public:
    // root: the held working directory, or null until it exists (every
    // creation then fails with EBADF). Not owned.
    void SetRoot(const DirHandle* root) { root_ = root; }
    // Creates (or empties) the file `relative` (separators '/' or '\'),
    // making the folders in front of it. A descriptor of platform/file_io.h,
    // or -1 with *error set: ENOTDIR for a link or a file where a folder is
    // expected, EINVAL for a name that would leave the tree ("..").
    int CreateFile(const std::wstring& relative, int* error) const;
    // Makes every folder in front of the last separator of `relative`.
    // False when one cannot be made or entered.
    bool CreateFolders(const std::wstring& relative) const;

private:
    const DirHandle* root_ = nullptr;
    // Entries are made on two threads (extract_lanes.h): one walk at a
    // time, so that both never make the same folder at once.
    mutable ThreadLock lock_;
};

// The archive's file storage for a held tree: names are relative to the
// tree's root, whatever the current directory is.
class HeldTreeFile : public ALFile {
public:
    explicit HeldTreeFile(const HeldTree* tree, const wchar_t* name = L"",
                          int32_t buffer_size = kDefaultBufferSize, ALNameCase mode = NameCaseIgnore);
    ALStorage* Clone(const wchar_t* name, int32_t object_type) const override;
    // True when the name's last component is a file name; false for an
    // empty name, a name ending in a separator, or a folder that cannot be
    // made or entered.
    bool CreateParentDirectories() override;

protected:
    int OpenForWriting(int* error) override;

private:
    const HeldTree* tree_;
};

class TreeWalk;

// A file of a held tree held open, with the folders above it, from its
// check to its start (platform/dir_handle.h, HoldChildFile): nobody writes,
// renames or replaces it, nor a folder above it (Windows), meanwhile.
class HeldTreeEntry {
public:
    HeldTreeEntry() = default;
    ~HeldTreeEntry();
    HeldTreeEntry(const HeldTreeEntry&) = delete;
    HeldTreeEntry& operator=(const HeldTreeEntry&) = delete;

    // Holds the plain file `relative` below root, never through a link.
    // False when it is no plain file of the tree.
    bool Hold(const DirHandle* root, const std::wstring& relative);

private:
    TreeWalk* walk_ = nullptr;
    HeldFile* file_ = nullptr;
};

// Test seam: when set, called with each entry's name just before its file
// or folders are made, so that a test can change the tree between two
// entries. The program itself never sets it.
using TreeEntryProbe = void (*)(const wchar_t* name);
extern TreeEntryProbe g_tree_entry_probe;
