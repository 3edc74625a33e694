// Replacing a file by another in one step.
#pragma once

#include <string>

// Moves `replacement` over `target` (MoveFileExW with replace-existing;
// rename on POSIX). False leaves both as they were.
bool ReplaceFileWith(const std::wstring& replacement, const std::wstring& target);
