// Environment, current directory, attributes, streams, own module, keyboard.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/file_stream.h"
#include "platform/keyboard.h"
#include "platform/module.h"

bool GetEnvVar(const wchar_t* name, size_t capacity, std::wstring& value) {
    std::vector<wchar_t> buffer(capacity + 1, L'\0');
    DWORD n = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(capacity));
    if (n == 0 || n >= capacity) return false;
    value.assign(buffer.data(), n);
    return true;
}

bool SetEnvVar(const wchar_t* name, const std::wstring& value) {
    return SetEnvironmentVariableW(name, value.c_str()) != 0;
}

bool GetCurrentDir(std::wstring& path) {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return false;
    std::vector<wchar_t> buffer(n + 1, L'\0');
    DWORD got = GetCurrentDirectoryW(n + 1, buffer.data());
    if (got == 0 || got > n) return false;
    path.assign(buffer.data(), got);
    return true;
}

bool SetCurrentDir(const std::wstring& path) { return SetCurrentDirectoryW(path.c_str()) != 0; }
bool CreateDir(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }
bool RemoveDir(const std::wstring& path) { return RemoveDirectoryW(path.c_str()) != 0; }

bool GetPathAttributes(const std::wstring& path, uint32_t& attributes) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    attributes = a;
    return true;
}

bool SetPathAttributes(const std::wstring& path, uint32_t attributes) {
    return SetFileAttributesW(path.c_str(), attributes) != 0;
}

bool PathExists(const std::wstring& path) {
    uint32_t a;
    return GetPathAttributes(path, a);
}

bool IsDirectoryPath(const std::wstring& path) {
    uint32_t a;
    return GetPathAttributes(path, a) && (a & kAttrDirectory) != 0;
}

FILE* OpenStream(const std::wstring& path, const char* mode) {
    std::wstring wide_mode(mode, mode + strlen(mode));
    return _wfopen(path.c_str(), wide_mode.c_str());
}

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

std::wstring GetOwnModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() > 32768) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring GetOwnCommandLine() {
    const wchar_t* line = GetCommandLineW();
    return line ? std::wstring(line) : std::wstring();
}

void SaveProgramArguments(int, char**) {}

bool IsControlKeyDown() { return GetKeyState(VK_CONTROL) < 0; }
