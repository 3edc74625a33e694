// File attributes in the Windows bit layout, on every system.
//
// POSIX has no hidden, system or archive bits: read-only is the owner's
// write permission, directory and reparse point (symbolic link) come from
// lstat, and the other bits read as 0 and are ignored when written.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t kAttrReadOnly = 0x0001;
constexpr uint32_t kAttrHidden = 0x0002;
constexpr uint32_t kAttrSystem = 0x0004;
constexpr uint32_t kAttrDirectory = 0x0010;
constexpr uint32_t kAttrArchive = 0x0020;
constexpr uint32_t kAttrNormal = 0x0080;
constexpr uint32_t kAttrReparsePoint = 0x0400;

bool GetPathAttributes(const std::wstring& path, uint32_t& attributes);
bool SetPathAttributes(const std::wstring& path, uint32_t attributes);
// True when the attributes of path can be read (a file or a directory).
bool PathExists(const std::wstring& path);
bool IsDirectoryPath(const std::wstring& path);
