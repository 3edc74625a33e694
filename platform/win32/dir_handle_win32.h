// Inside the Windows held directory: opening an entry relative to it, for
// the other Windows implementations that work relative to it.
#pragma once

#include <windows.h>

#include <string>

#include "platform/dir_handle.h"

HANDLE NativeDirHandle(const DirHandle* dir);

// Opens the entry `name` of `dir` relative to its handle (NtCreateFile with
// the directory as root), never through a reparse point: a link is opened
// as the link itself. `options` adds NtCreateFile create options such as
// FILE_DIRECTORY_FILE, `disposition` an NtCreateFile disposition (FILE_OPEN
// opens only what exists; FILE_CREATE makes a new entry and fails with
// ERROR_ALREADY_EXISTS for any name taken, a link included, never creating
// what a link points to). INVALID_HANDLE_VALUE on failure, with `error` set
// to the Win32 error code.
HANDLE OpenInDir(const DirHandle* dir, const std::wstring& name, ACCESS_MASK access, ULONG share,
                 ULONG options, DWORD& error, ULONG disposition = FILE_OPEN);

// The entry opened as `handle` is the entry `name` of `parent` itself, not
// what a link there points to (Wine opens a host's link as its target).
bool OpenedAsNamed(HANDLE handle, const DirHandle* parent, const std::wstring& name);

// The rule of IsPrivateToCaller for one security descriptor (owner and
// access list), `user` standing for the token's user.
bool SecurityIsPrivate(PSECURITY_DESCRIPTOR descriptor, PSID user, bool elevated);
