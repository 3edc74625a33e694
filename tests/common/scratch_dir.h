// A fresh scratch directory under the system's temporary folder, removed
// again with everything in it (read-only entries included), and a guard that
// restores the current directory. Shared by the suites that work on files.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace test_support {

namespace fs = std::filesystem;

class ScratchDir {
public:
    ScratchDir() {
        static unsigned counter = 0;
        const fs::path base = fs::temp_directory_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0; attempt < 1000 && root_.empty(); ++attempt) {
            fs::path candidate = base / ("sea_test_" + std::to_string(stamp % 1000000007) + "_" +
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

    bool Valid() const { return !root_.empty(); }
    const fs::path& Root() const { return root_; }
    std::wstring Path() const { return root_.wstring(); }
    std::wstring Path(const std::wstring& name) const { return (root_ / name).wstring(); }
    // The scratch path with a trailing separator.
    std::wstring Dir() const { return (root_ / "").wstring(); }

    void WriteFile(const std::wstring& name, const std::string& bytes) const {
        fs::create_directories((root_ / name).parent_path());
        std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    void MakeDir(const std::wstring& name) const { fs::create_directories(root_ / name); }
    // True for anything by that name, a dangling link included.
    bool Exists(const std::wstring& name) const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(root_ / name, ec));
    }
    // The file's bytes exactly as stored (no line-end translation).
    std::string ReadFile(const std::wstring& name) const { return ReadBytes(root_ / name); }
    // Number of entries directly in the scratch directory.
    size_t EntryCount() const {
        size_t n = 0;
        for (auto it = fs::directory_iterator(root_); it != fs::directory_iterator(); ++it) ++n;
        return n;
    }

    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    fs::path root_;
};

// Changes into a directory (or just keeps the current one) for the guard's
// lifetime.
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

}  // namespace test_support
