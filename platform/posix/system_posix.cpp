// Environment, current directory, attributes, streams, own module, keyboard.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/file_stream.h"
#include "platform/keyboard.h"
#include "platform/module.h"
#include "platform/text.h"

namespace {
std::string Native(const std::wstring& path) { return WideToUtf8(path); }
}  // namespace

bool GetEnvVar(const wchar_t* name, size_t capacity, std::wstring& value) {
    const char* v = getenv(WideToUtf8(name).c_str());
    if (!v) return false;
    std::wstring wide = Utf8ToWide(v);
    if (wide.size() + 1 > capacity || wide.empty()) return false;
    value = wide;
    return true;
}

bool SetEnvVar(const wchar_t* name, const std::wstring& value) {
    return setenv(WideToUtf8(name).c_str(), WideToUtf8(value).c_str(), 1) == 0;
}

bool GetCurrentDir(std::wstring& path) {
    std::vector<char> buffer(PATH_MAX + 1);
    if (!getcwd(buffer.data(), buffer.size())) return false;
    path = Utf8ToWide(buffer.data());
    return true;
}

bool SetCurrentDir(const std::wstring& path) { return chdir(Native(path).c_str()) == 0; }
bool CreateDir(const std::wstring& path) { return mkdir(Native(path).c_str(), 0777) == 0; }
bool RemoveDir(const std::wstring& path) { return rmdir(Native(path).c_str()) == 0; }

bool GetPathAttributes(const std::wstring& path, uint32_t& attributes) {
    struct stat st;
    if (lstat(Native(path).c_str(), &st) != 0) return false;
    uint32_t a = 0;
    if (S_ISLNK(st.st_mode)) {
        a |= kAttrReparsePoint;
        struct stat target;
        if (stat(Native(path).c_str(), &target) == 0 && S_ISDIR(target.st_mode)) a |= kAttrDirectory;
    } else if (S_ISDIR(st.st_mode)) {
        a |= kAttrDirectory;
    }
    if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
    if (a == 0) a = kAttrNormal;
    attributes = a;
    return true;
}

bool SetPathAttributes(const std::wstring& path, uint32_t attributes) {
    struct stat st;
    std::string native = Native(path);
    if (lstat(native.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;  // links carry no permissions of their own
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    return chmod(native.c_str(), mode) == 0;
}

bool PathExists(const std::wstring& path) {
    uint32_t a;
    return GetPathAttributes(path, a);
}

bool IsDirectoryPath(const std::wstring& path) {
    struct stat st;
    return stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FILE* OpenStream(const std::wstring& path, const char* mode) {
    return fopen(Native(path).c_str(), mode);
}

bool DeleteFilePath(const std::wstring& path) { return unlink(Native(path).c_str()) == 0; }

std::wstring GetOwnModulePath() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return std::wstring();
    return Utf8ToWide(std::string(buffer.data(), static_cast<size_t>(n)));
}

namespace {
std::vector<std::wstring>& SavedArguments() {
    static std::vector<std::wstring> arguments;
    return arguments;
}
}  // namespace

void SaveProgramArguments(int argc, char** argv) {
    SavedArguments().clear();
    for (int i = 0; i < argc; ++i) SavedArguments().push_back(Utf8ToWide(argv[i]));
}

std::wstring GetOwnCommandLine() {
    std::wstring line;
    const auto& args = SavedArguments();
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring arg = i == 0 ? GetOwnModulePath() : args[i];
        if (i == 0 && arg.empty()) arg = args[0];
        if (i) line.push_back(L' ');
        bool quote = arg.empty() || arg.find(L' ') != std::wstring::npos;
        if (quote) line.push_back(L'"');
        line += arg;
        if (quote) line.push_back(L'"');
    }
    return line;
}

bool IsControlKeyDown() { return false; }
