// Files held with exclusive access: the marker of a run in progress.
//
// Windows: a handle opened with no sharing at all, so that no other open of
// the file succeeds while it is held. POSIX: a descriptor holding an
// advisory lock (flock, exclusive), which every holder of this interface
// respects. Either hold ends when the holding process ends, however it
// ends; the file itself stays.
//
// Links are never followed: a symbolic link, junction or other reparse
// point in the last component, a directory, or anything else that is not a
// plain file is refused. The path's other components are the caller's to
// trust.
#pragma once

#include <string>

struct DirHandle;
struct FileLock;

// Creates `path`, which must not exist yet, and holds it. The file appears
// under its name already held (POSIX: created under a temporary name,
// locked, then renamed), so no other process can take it in between. Null
// when the file cannot be created or held; nothing is left behind then.
FileLock* CreateLockedFile(const std::wstring& path);

enum class LockOpenResult {
    kLocked,    // the hold is ours now
    kHeld,      // another holder has it
    kAbsent,    // no such file (or it was deleted while we opened it)
    kNotAFile,  // a link, a directory or another special file
    kFailed,    // any other failure
};

// Opens the existing plain file `path` and takes the hold without waiting.
// *lock is set only with kLocked.
LockOpenResult OpenLockedFile(const std::wstring& path, FileLock** lock);
// The same for the entry `name` of a held directory (platform/dir_handle.h),
// opened relative to it; its deletion on release goes through the same
// directory.
LockOpenResult OpenLockedFileIn(const DirHandle* dir, const std::wstring& name, FileLock** lock);

// Ends the hold and frees the lock. With `remove` the file is deleted
// before the hold ends, so no other process can take the hold of a file
// that is about to go. True when that deletion succeeded (always true
// without `remove`). A null lock is ignored (false with `remove`).
bool ReleaseLockedFile(FileLock* lock, bool remove);
