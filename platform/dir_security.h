// Access control of a new directory, and the elevated-administrator test.
//
// Windows: a protected discretionary access list of three inheritable
// entries (BUILTIN\Users read and execute, BUILTIN\Administrators and
// LocalSystem full control). POSIX: the closest meaningful thing, a
// directory only its owner can use (mode 0700).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Outcome of the administrator test: `elevated` is the answer, `code` tells
// how the test ended (1 token unavailable, error 120; 10 error 0; 2 group
// query needed no buffer; 4 group query failed; 6 second group query
// failed; 8 Administrators SID not built; 11 groups read). POSIX: the
// effective user id 0 counts as the elevated administrator, reported as
// {true, 11}; any other user as {false, 11}.
struct AdminCheck {
    bool elevated;
    int code;
};
AdminCheck CheckElevatedAdmin();

// Security attributes for a new directory. BuildDirSecurity returns null on
// failure, after printing the failing call's error line to standard output
// ("AllocateAndInitializeSid Error %u", "SetEntriesInAcl Error %u", ...).
struct DirSecurity;
DirSecurity* BuildDirSecurity();
// The security of a directory private to the caller, for one made where
// others may write: a protected list of full control for the token's user,
// BUILTIN\Administrators and LocalSystem only, inherited below it (POSIX:
// mode 0700). Null on failure, silently.
DirSecurity* BuildPrivateDirSecurity();
void FreeDirSecurity(DirSecurity* security);

// Creates one directory, with `security` or (null) with default security.
// kSecurityRefused: the system would not apply `security` itself (a file
// system without access lists, a descriptor it rejects); any other failure
// is kFailed, whatever stands at the name.
enum class DirCreateResult { kCreated, kAlreadyExists, kFailed, kSecurityRefused };
DirCreateResult CreateDirWithSecurity(const std::wstring& path, const DirSecurity* security);

// What protects an existing directory (for checks and diagnostics).
struct AccessEntry {
    std::wstring trustee;  // SID text such as "S-1-5-32-545"
    uint32_t mask;
    uint32_t flags;  // ACE flags: 0x1 object inherit, 0x2 container inherit
};
struct DirAccess {
    bool is_protected = false;  // Windows: SE_DACL_PROTECTED; POSIX: mode & 077 == 0
    std::vector<AccessEntry> entries;  // Windows only
    uint32_t mode = 0;  // POSIX only: permission bits
};
bool ReadDirAccess(const std::wstring& path, DirAccess& access);
// The same for security attributes before they are used.
bool DescribeDirSecurity(const DirSecurity* security, DirAccess& access);
