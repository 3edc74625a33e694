// Directories held open, and work relative to them: the removal of trees
// in folders that other users may write into.
//
// A held directory is the object that was opened, whatever happens to its
// name afterwards (Windows: a handle without delete sharing, so that it can
// be neither renamed nor replaced while held; POSIX: a descriptor). A child
// is always opened relative to its held parent and never through a link:
// a symbolic link, junction, mount point or any other reparse point is
// never entered, and what an operation does depends on what the opened
// object is, not on what a listing said a moment before.
#pragma once

#include <string>
#include <vector>

#include "platform/directory_search.h"

struct DirHandle;

// Opens the directory `path`. With follow_link false a link as its last
// component is refused; its other components are the caller's to trust.
// Null when it is not a directory or cannot be opened.
DirHandle* OpenDirHandle(const std::wstring& path, bool follow_link);
void CloseDirHandle(DirHandle* dir);

enum class ChildOpenResult {
    kOpened,        // a plain directory on the parent's volume, now held
    kNotDirectory,  // a file, a link or another reparse point: not entered
    kFailed,        // gone, access denied, or a mount point (POSIX)
};
// Opens the child `name` of `parent` as a directory; *child is set only
// with kOpened.
ChildOpenResult OpenChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child);

// Creates the child directory `name` of `parent` unless it exists, with the
// access it inherits, and opens it as OpenChildDir does: a link, a file or
// another reparse point at the name is never entered (kNotDirectory).
ChildOpenResult CreateChildDir(const DirHandle* parent, const std::wstring& name, DirHandle** child);

// Creates or opens the file `name` of `parent` for reading and writing and
// truncates it, never through a link: a link, a directory, a device or a
// file with another name elsewhere (more than one link) is refused before
// anything is written. A read-only file loses its read-only attribute
// through its own handle first. Returns a descriptor of platform/file_io.h
// (-1 on failure, *error set to an errno value: ENOTDIR for what may not
// be written through).
int CreateChildFile(const DirHandle* parent, const std::wstring& name, int* error);
// Opens the plain file `name` of `parent` for reading, never through a
// link. -1 on failure.
int OpenChildFileRead(const DirHandle* parent, const std::wstring& name, int* error);
// Renames the entry `from` of `parent` to `to` in the same directory,
// replacing what `to` named (a link there goes itself, its target stays).
bool RenameChildEntry(const DirHandle* parent, const std::wstring& from, const std::wstring& to);

// A program file held open from its check to its start: readable and
// executable by everyone, but neither written, renamed nor deleted while
// held (Windows; POSIX holds the descriptor of the file it checked).
struct HeldFile;
// Opens the plain file `name` of `parent` that way, never through a link.
HeldFile* HoldChildFile(const DirHandle* parent, const std::wstring& name);
void ReleaseHeldFile(HeldFile* file);

// The entries of a held directory ("." and ".." left out), with the
// kAttr... bits of platform/file_attributes.h as the listing saw them.
bool ListDirHandle(const DirHandle* dir, std::vector<DirEntry>& entries);

// Removes the child `name` of `parent` when it is not a plain directory: a
// file, or a link of any kind as the link itself. A read-only file is
// deleted only with clear_read_only (Windows: the attribute is cleared
// through the file's own handle, and never on a file with more than one
// link, which then stays; POSIX unlinks it as it is). A plain directory is
// never entered nor changed (POSIX: refused; Windows: deleted only when it
// is empty), so the result is false for one with entries.
bool RemoveChildEntry(const DirHandle* parent, const std::wstring& name, bool clear_read_only);

// Removes the empty directory `child`, held and opened as the child `name`
// of `parent`, and ends the hold. With clear_read_only its own read-only
// attribute is cleared first. False when it is not empty, no longer the
// object of that name, or cannot be removed; it stays then.
bool RemoveChildDir(const DirHandle* parent, const std::wstring& name, DirHandle* child,
                    bool clear_read_only);

// Clears the read-only attribute of a held directory (POSIX: gives its
// owner write permission), so that its entries can be removed. True when
// it was not read-only.
bool ClearDirReadOnly(const DirHandle* dir);

// True when a held directory belongs to the user this process runs as and
// no other user may write into it. POSIX: owned by the effective user and
// writable neither by its group nor by others. Windows: owned by the
// token's user or, for an elevated administrator, by BUILTIN\Administrators
// or LocalSystem (owners no standard user can set), and no access entry
// that applies to it grants a right to change it to anyone but those and
// the token's user.
bool IsPrivateToCaller(const DirHandle* dir);
// True when someone but the user this process runs as, LocalSystem and
// BUILTIN\Administrators (POSIX: the superuser) may create, change or
// remove entries of a held directory: its owner is another user, or an
// access entry grants others a right to change it (POSIX: writable by its
// group or by others). False too when that cannot be read.
bool LetsOthersChange(const DirHandle* dir);
// True when a held directory's owner can be read and is someone else than
// the user this process runs as (Windows: or, for an elevated
// administrator, BUILTIN\Administrators and LocalSystem).
bool OwnedByOther(const DirHandle* dir);
