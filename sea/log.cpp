// The diagnostic log "sea.log". Each line is appended by opening the file,
// writing and closing it again, so nothing is held open between lines and
// no failure ever reaches the caller.
#include "sea/log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file_stream.h"
#include "platform/format.h"
#include "platform/path.h"
#include "platform/text.h"
#include "sea/run_state.h"

namespace {

constexpr wchar_t kLogFileName[] = L"sea.log";
constexpr wchar_t kOldLogFileName[] = L"vorn.log";
// Paths and the log directory hold at most 255 characters, a message 511.
constexpr size_t kPathCapacity = 256;
constexpr size_t kMessageCapacity = 512;
// RUX_DEBUG is read into 255 characters.
constexpr size_t kRuxDebugCapacity = 255;

// The path of a file in the log directory. Without a stored directory the
// bare name is used, which names the file in the current directory. A path
// that does not fit is refused rather than cut: a cut path names some other
// file.
bool ComposeLogPath(const wchar_t* file_name, std::wstring& path) {
    if (g_run.log_directory.empty()) {
        path = file_name;
    } else {
        path = WithTrailingSeparator(g_run.log_directory) + file_name;
    }
    return path.size() < kPathCapacity;
}

// Stores the current directory as the log directory when it fits; the
// directory otherwise stays empty.
void StoreCurrentDirectoryAsLogDirectory() {
    std::wstring current;
    if (GetCurrentDir(current) && current.size() < kPathCapacity) {
        g_run.log_directory = current;
    }
}

bool EqualsIgnoringAsciiCase(const std::wstring& text, const wchar_t* upper) {
    size_t i = 0;
    for (; i < text.size() && upper[i]; ++i) {
        wchar_t c = text[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != upper[i]) return false;
    }
    return i == text.size() && upper[i] == L'\0';
}

}  // namespace

void WriteLog(const wchar_t* format, ...) {
    if (!g_run.logging) return;
    std::fflush(stdout);

    std::wstring path;
    if (!ComposeLogPath(kLogFileName, path)) return;

    wchar_t message[kMessageCapacity];
    va_list args;
    va_start(args, format);
    FormatBoundedV(message, kMessageCapacity, format, args);
    va_end(args);

    FILE* file = OpenStream(path, "a");
    if (!file) return;
    std::fputs(WideToAnsi(message).c_str(), file);
    std::fputs("\n", file);
    std::fflush(file);
    std::fclose(file);
}

void RemoveOldLog() {
    if (!g_run.logging) return;
    std::wstring path;
    if (!ComposeLogPath(kOldLogFileName, path)) return;
    DeleteFilePath(path);
}

bool RuxDebugRequested() {
    std::wstring value;
    return GetEnvVar(L"RUX_DEBUG", kRuxDebugCapacity, value) && EqualsIgnoringAsciiCase(value, L"TRUE");
}

void StartLogging(bool rux_debug, bool control_key) {
    if (rux_debug) {
        g_run.logging = true;
        StoreCurrentDirectoryAsLogDirectory();
        RemoveOldLog();
    }
    if (rux_debug || control_key) {
        g_run.logging = true;
        if (control_key) g_run.hold = true;
        // Control key alone: the log goes to the current directory too (not
        // to the root of the drive). It is fixed now, so that a later change
        // of the current directory does not move the log.
        if (g_run.log_directory.empty()) StoreCurrentDirectoryAsLogDirectory();
    }
}
