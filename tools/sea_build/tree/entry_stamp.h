// What an installer records of each entry besides its bytes and name: the
// time stamp and the attribute set, chosen so that the same tree gives the
// same installer wherever and whenever it is built.
//
// Time stamps are the files' own last-write times, as local time of the
// build machine. With SOURCE_DATE_EPOCH (the reproducible-builds
// convention: seconds since 1970-01-01 UTC) every time stamp is at most that
// moment and is written as UTC, so neither the time of the copy nor the
// build machine's time zone changes the bytes.
//
// Attributes: read-only, hidden and system as the file system reports them.
// The archive bit, which every copy sets anew and backup programs clear,
// says nothing about the tree: it is recorded as set on every file and as
// clear on every directory, on every system.
#pragma once

#include <cstdint>
#include <string>

#include "archive/file.h"
#include "archive/time_date.h"
#include "platform/file_identity.h"

struct StampRule {
    bool clamp = false;  // SOURCE_DATE_EPOCH is set
    int64_t epoch = 0;   // its value, seconds since 1970-01-01 UTC
};

// Reads SOURCE_DATE_EPOCH: absent or empty leaves rule.clamp false. False
// with a one-line reason in error when the value is not a decimal number of
// seconds between 0 and 253402300799 (the end of the year 9999).
bool ReadSourceDateEpoch(StampRule& rule, std::wstring& error);
bool ParseSourceDateEpoch(const std::wstring& text, int64_t& seconds);

// The UTC calendar time of min(modified, epoch); times before 1970 count as
// 1970-01-01 and times after 2106-02-07 as that day (the ZIP writer brings
// both into the DOS range of 1980 to 2107).
ALTimeDate ClampedUtc(int64_t modified, int64_t epoch);

// A file of the tree: opened like any ALFile, then given the time stamp and
// attributes above. It must still be the regular file the walk saw
// (`expected`: its identity), and hold exactly the walk's size when it is
// read to its end: otherwise Open fails with AL_CANT_OPEN_FILE (nothing of
// a swapped-in pipe or device is read) or LoadBuffer with AL_READ_ERROR.
class SourceFile : public ALFile {
public:
    SourceFile(const wchar_t* name, int32_t buffer_size, const StampRule& rule,
               const FileFacts& expected)
        : ALFile(name, buffer_size), rule_(rule), expected_(expected) {}
    int32_t Open() override;
    int32_t LoadBuffer(int32_t position) override;

private:
    const StampRule rule_;
    const FileFacts expected_;
};

// The time stamp and attributes of a directory entry at path (an empty
// directory of the tree), which ALFile::Open does not read.
void StampDirectory(const std::wstring& path, const StampRule& rule, ALStorage& storage);
