// The current directory and directory creation/removal.
#pragma once

#include <string>

bool GetCurrentDir(std::wstring& path);
bool SetCurrentDir(const std::wstring& path);
// Plain creation with default security; false when it exists or fails.
bool CreateDir(const std::wstring& path);
// Plain (non-recursive) removal: succeeds only for an empty directory.
bool RemoveDir(const std::wstring& path);
