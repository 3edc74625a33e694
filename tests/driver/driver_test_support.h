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

#include "common/scratch_dir.h"
#include "platform/dialog_controls.h"
#include "resources/resource_ids.h"
#include "resources/template_controls.h"
#include "sea/run_state.h"

namespace driver_test {

namespace fs = std::filesystem;

using test_support::CurrentDirGuard;
using test_support::ScratchDir;

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

// A dialog stand-in installed as the run state's dialog for its lifetime.
// Windows builds need a window station with a display; Host() is null
// without one.
class DialogHost {
public:
    DialogHost() {
        host_ = CreateControlHost(kTemplateControls, kTemplateControlCount);
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
    int Step(int id) const { return GetProgressStep(host_, id); }
    bool Range(int id, int* low, int* high) const { return GetProgressRange(host_, id, low, high); }

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

// Whether symbolic links to directories can be made in dir (Windows needs a
// privilege or developer mode for them).
inline bool LinksWork(const ScratchDir& dir) {
    std::error_code error;
    std::filesystem::create_directory_symlink(dir.Root(), dir.Root() / "probe-link", error);
    if (error) return false;
    std::filesystem::remove(dir.Root() / "probe-link", error);
    return true;
}

}  // namespace driver_test
