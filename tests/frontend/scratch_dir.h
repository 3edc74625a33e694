// Test helpers of the front-end suite: a fresh scratch directory under the
// system's temporary folder, removed again with everything in it, and a
// guard that restores the current directory.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace frontend_test {

namespace fs = std::filesystem;

class ScratchDir {
public:
    ScratchDir() {
        static unsigned counter = 0;
        const fs::path base = fs::temp_directory_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0; attempt < 1000; ++attempt) {
            fs::path candidate = base / ("sea_frontend_" + std::to_string(stamp % 1000000007) + "_" +
                                         std::to_string(++counter));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                root_ = candidate;
                return;
            }
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Valid() const { return !root_.empty(); }
    const fs::path& Root() const { return root_; }
    std::wstring Path() const { return root_.wstring(); }
    std::wstring Path(const std::wstring& name) const { return (root_ / name).wstring(); }

    void WriteFile(const std::wstring& name, const std::string& bytes) const {
        std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    void MakeDir(const std::wstring& name) const { fs::create_directories(root_ / name); }
    bool Exists(const std::wstring& name) const { return fs::exists(root_ / name); }
    // The file's bytes exactly as stored (no line-end translation).
    std::string ReadFile(const std::wstring& name) const {
        std::ifstream in(root_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Number of entries directly in the scratch directory.
    size_t EntryCount() const {
        size_t n = 0;
        for (auto it = fs::directory_iterator(root_); it != fs::directory_iterator(); ++it) ++n;
        return n;
    }

private:
    fs::path root_;
};

// Changes into a directory for the guard's lifetime.
class CurrentDirGuard {
public:
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

// Line end the log writes: its stream is opened in text mode.
#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

}  // namespace frontend_test
