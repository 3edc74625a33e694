// Buffered C streams on wide paths, and file deletion.
#pragma once

#include <cstdio>
#include <string>

// fopen with a wide path; mode as for fopen ("r", "a", "wb", ...).
FILE* OpenStream(const std::wstring& path, const char* mode);
bool DeleteFilePath(const std::wstring& path);
