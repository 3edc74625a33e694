// Helpers of the driver suite: a scratch directory, the log captured into
// it, the run state put back after each test, and a stand-in for the
// progress dialog with the controls of its template.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/dialog_controls.h"
#include "resources/resource_ids.h"
#include "sea/run_state.h"

namespace driver_test {

namespace fs = std::filesystem;

class ScratchDir {
public:
    ScratchDir() {
        static unsigned counter = 0;
        const fs::path base = fs::temp_directory_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0; attempt < 1000 && root_.empty(); ++attempt) {
            fs::path candidate = base / ("sea_drv_" + std::to_string(stamp % 1000003) + "_" +
                                         std::to_string(++counter));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) root_ = fs::canonical(candidate, ec);
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (root_.empty()) return;
        // Tests leave read-only entries behind: make everything writable first.
        for (auto it = fs::recursive_directory_iterator(root_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink()) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::remove_all(root_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& Root() const { return root_; }
    std::wstring Path() const { return root_.wstring(); }
    std::wstring Path(const std::wstring& name) const { return (root_ / name).wstring(); }
    // The scratch path with a trailing separator, as the driver's paths are.
    std::wstring Dir() const { return (root_ / "").wstring(); }

    void WriteFile(const std::wstring& name, const std::string& bytes) const {
        fs::create_directories((root_ / name).parent_path());
        std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    void MakeDir(const std::wstring& name) const { fs::create_directories(root_ / name); }
    bool Exists(const std::wstring& name) const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(root_ / name, ec));
    }
    std::string ReadFile(const std::wstring& name) const { return ReadBytes(root_ / name); }

    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    fs::path root_;
};

// Changes into a directory for the guard's lifetime.
class CurrentDirGuard {
public:
    CurrentDirGuard() : saved_(fs::current_path()) {}
    explicit CurrentDirGuard(const fs::path& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
    ~CurrentDirGuard() {
        std::error_code ec;
        fs::current_path(saved_, ec);
    }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    fs::path saved_;
};

// Switches the log on into its own scratch directory and gives its lines
// back (line ends removed). The run state is reset when it goes.
class LogCapture {
public:
    LogCapture() {
        saved_ = g_run;
        g_run.logging = true;
        g_run.log_directory = dir_.Path();
    }
    ~LogCapture() { g_run = saved_; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string text = dir_.ReadFile(L"sea.log");
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }
    bool Contains(const std::string& line) const {
        for (const std::string& l : Lines()) {
            if (l == line) return true;
        }
        return false;
    }
    // Lines from the first occurrence of `first` on (empty when absent).
    std::vector<std::string> From(const std::string& first) const {
        std::vector<std::string> lines = Lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == first) return std::vector<std::string>(lines.begin() + i, lines.end());
        }
        return {};
    }

private:
    ScratchDir dir_;
    RunState saved_;
};

// The progress dialog's controls as its template creates them.
inline std::vector<ControlSpec> TemplateControls() {
    return {
        {IDC_OK, ControlKind::kButton, L"OK", false},
        {IDC_CANCEL, ControlKind::kButton, L"Cancel", true},
        {IDC_MAIN_TEXT, ControlKind::kText, L"Quillora is preparing to install...", true},
        {IDC_ACTIVITY_TEXT, ControlKind::kText, L"Extracting...", true},
        {IDC_SECOND_TEXT, ControlKind::kText, L"", true},
        {IDC_PROGRESS, ControlKind::kProgress, L"", true},
        {IDC_PERCENT_TEXT, ControlKind::kText, L"0%", true},
        {IDC_SPACER, ControlKind::kText, L" ", true},
        {IDC_CHOOSE, ControlKind::kButton, L"&Choose...", false},
        {IDC_ICON_NORMAL, ControlKind::kIcon, L"", true},
        {IDC_ICON_ERROR, ControlKind::kIcon, L"", true},
        {IDC_ICON_WARNING, ControlKind::kIcon, L"", true},
        {IDC_FOOTER, ControlKind::kButton, L"Button1", true},
    };
}

// A dialog stand-in installed as the run state's dialog for its lifetime.
// Windows builds need a window station with a display; Host() is null
// without one.
class DialogHost {
public:
    DialogHost() {
        std::vector<ControlSpec> controls = TemplateControls();
        host_ = CreateControlHost(controls.data(), controls.size());
        saved_ = g_run.dialog;
        g_run.dialog = host_;
    }
    ~DialogHost() {
        g_run.dialog = saved_;
        DestroyControlHost(host_);
    }
    DialogHost(const DialogHost&) = delete;
    DialogHost& operator=(const DialogHost&) = delete;

    void* Host() const { return host_; }
    std::wstring Text(int id) const { return GetControlText(host_, id); }
    bool Shown(int id) const { return IsControlShown(host_, id); }

private:
    void* host_ = nullptr;
    void* saved_ = nullptr;
};

#define SKIP_WITHOUT_DIALOG(host)                                                   \
    if (!(host).Host()) GTEST_SKIP() << "no window can be created here (no display)"

// String-table texts as the English resources hold them.
inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(static_cast<char>(c));
    return out;
}

}  // namespace driver_test
