// Low-level file descriptors with wide paths: the C runtime's descriptor
// calls on every system, errno values in every failure report, and the
// time-zone and time-stamp services that extracted files need.
//
// Descriptors are plain ints (-1: none). Functions that can fail report the
// runtime's errno through *error (ENOENT 2, EACCES 13, EEXIST 17, ...: the
// same numbers on Windows and POSIX).
#pragma once

#include <cstdint>
#include <ctime>

// Opens an existing file for reading, binary, sharing allowed for readers
// and writers. -1 on failure. The open itself never waits (a named pipe
// without a writer opens at once); callers that must read only regular
// files check the descriptor (platform/file_identity.h) before reading.
int FileOpenRead(const wchar_t* path, int* error);
// Opens for reading and writing, binary, created if missing and truncated,
// permission read+write, sharing allowed. -1 on failure.
int FileCreateTruncate(const wchar_t* path, int* error);
// Creates a new file for reading and writing; fails (EEXIST) if it exists.
int FileCreateExclusive(const wchar_t* path, int* error);

// Bytes read (0 at the end of the file) or -1.
int32_t FileRead(int fd, void* destination, uint32_t count, int* error);
// Reads at offset without moving the descriptor's position, so that two
// threads can read one descriptor side by side. Bytes read (0 at the end of
// the file) or -1.
int32_t FileReadAt(int fd, void* destination, uint32_t count, uint64_t offset, int* error);
// Writes all count bytes, retrying partial writes. Returns count on success,
// -1 when nothing could be written, or the partial count written before the
// failure (*error set in both failure cases).
int32_t FileWrite(int fd, const void* source, uint32_t count, int* error);
// Moves to position from the start of the file.
bool FileSeek(int fd, uint64_t position, int* error);
// Length of the open file, or -1.
int64_t FileLength(int fd);
bool FileClose(int fd);

// Size and last-modification time (as local broken-down time) by name.
bool FileStatByName(const wchar_t* path, int64_t* size, std::tm* modified_local, int* error);
// Last-modification time by name, in seconds since 1970-01-01 00:00:00 UTC.
bool FileModifiedSeconds(const wchar_t* path, int64_t* seconds, int* error);

bool FileUnlink(const wchar_t* path, int* error);
bool FileRename(const wchar_t* from, const wchar_t* to, int* error);
bool FileMakeDirectory(const wchar_t* path, int* error);

// Minutes to add to local time to get UTC at this moment: the zone's bias,
// plus its daylight bias while daylight time is in force.
int32_t CurrentTimeZoneBiasMinutes();
// Sets the last-write time of an open file from a DOS date and time that
// already express UTC; creation and access times stay as they are.
bool FileSetLastWriteDos(int fd, uint16_t dos_date, uint16_t dos_time);

// Writes the attribute bits (platform/file_attributes.h; 0 stands for
// "normal") to an open file through its own handle. POSIX: read-only is
// the owner's write permission, the other bits are ignored.
bool FileSetAttributes(int fd, uint32_t attributes);

// The attribute bits (platform/file_attributes.h) that this system keeps on
// files: read-only, hidden, system, archive on Windows; read-only on POSIX.
uint32_t NativeFileAttributeMask();
