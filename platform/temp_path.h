// The system temporary folder.
#pragma once

#include <string>

// GetTempPathW on Windows (TMP, TEMP, USERPROFILE, then the Windows folder);
// on POSIX the first non-empty of TMP, TEMP and TMPDIR (the Windows order,
// so that "-tempdir" wins over a TMPDIR of the session), else "/tmp". The
// path always ends with a separator. False when it cannot be obtained.
bool GetTempFolder(std::wstring& path);

// The folder used when the temporary folder cannot be obtained: "C:\Temp"
// on Windows, "/tmp" on POSIX.
extern const wchar_t* const kFallbackTempFolder;
