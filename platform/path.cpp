#include "platform/path.h"

#ifdef _WIN32
const wchar_t kPathSeparator = L'\\';
const wchar_t* const kPathSeparatorText = L"\\";
#else
const wchar_t kPathSeparator = L'/';
const wchar_t* const kPathSeparatorText = L"/";
#endif

PathParts SplitPath(const std::wstring& path) {
    PathParts parts;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == L':' &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    size_t last_sep = std::wstring::npos;
    for (size_t i = start; i < path.size(); ++i) {
        if (IsPathSeparator(path[i])) last_sep = i;
    }
    size_t name_start = start;
    if (last_sep != std::wstring::npos) {
        parts.directory = path.substr(start, last_sep + 1 - start);
        name_start = last_sep + 1;
    }
    std::wstring file = path.substr(name_start);
    size_t dot = file.rfind(L'.');
    if (dot == std::wstring::npos) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

std::wstring WithTrailingSeparator(const std::wstring& path) {
    if (!path.empty() && IsPathSeparator(path.back())) return path;
    return path + kPathSeparator;
}
