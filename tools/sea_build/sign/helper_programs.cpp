#include "tools/sea_build/sign/helper_programs.h"

#include <cctype>

#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

// "40B078E7387F0000:error:1E08010C:DECODER routines:...": a thread id in
// hexadecimal, then ":error:".
bool IsErrorQueueLine(const std::string& line) {
    const size_t colon = line.find(":error:");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        if (!isxdigit(static_cast<unsigned char>(line[i]))) return false;
    }
    return true;
}

// The reason of an error-queue line: the text after the last ':' that is
// not part of a source position ("...:bss_conn.c:177:calling connect(...)").
std::string ErrorQueueReason(const std::string& line) {
    size_t field = 0;
    size_t start = 0;
    for (size_t i = 0; i < line.size() && field < 4; ++i) {
        if (line[i] == ':') {
            ++field;
            start = i + 1;
        }
    }
    const std::string rest = line.substr(start);
    return rest.substr(0, rest.find(':'));
}

}  // namespace

std::wstring FindProgram(const std::wstring& name) {
    const bool windows = kPathSeparator == L'\\';
    const std::wstring file = windows ? name + L".exe" : name;
    std::wstring path;
    if (!GetEnvVar(L"PATH", 32768, path)) return std::wstring();
    const wchar_t list_separator = windows ? L';' : L':';
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(list_separator, start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring directory = path.substr(start, end - start);
        if (!directory.empty()) {
            const std::wstring candidate = WithTrailingSeparator(directory) + file;
            if (PathExists(candidate) && !IsDirectoryPath(candidate)) return candidate;
        }
        start = end + 1;
    }
    return std::wstring();
}

std::vector<std::string> OutputLines(const std::string& output) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::wstring ReasonLine(const std::string& output) {
    std::string queue_reason;
    for (const std::string& line : OutputLines(output)) {
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line == "Failed" ||
            line.rfind("Connecting to ", 0) == 0) {
            continue;
        }
        if (IsErrorQueueLine(line)) {
            if (queue_reason.empty()) queue_reason = ErrorQueueReason(line);
            continue;
        }
        return Utf8ToWide(line.substr(first));
    }
    return Utf8ToWide(queue_reason);
}
