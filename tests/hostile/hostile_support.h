// The harness of the hostile-archive tests: every case writes its archive
// into a fresh scratch directory and extracts it the way the extraction
// driver does (its four decompressors, one file storage, the
// archive opened by its path, the target directory current), under a time
// limit, and checks that nothing changed in the scratch directory outside
// the target.
//
//   <scratch>/archive.zip   the archive under test
//   <scratch>/outside/      what "../" names and absolute names aim at
//   <scratch>/target/       the extraction directory
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "sea/extract_lanes.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/text.h"

namespace hostile {

namespace fs = std::filesystem;

const bool kWindows = kPathSeparator == L'\\';

// Ends the whole process when a case runs longer than its limit: a hang
// must fail the suite, not stall it.
class Watchdog {
public:
    Watchdog(std::string label, int seconds) : label_(std::move(label)) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                fprintf(stderr, "\nHANG: case \"%s\" ran longer than %d s\n", label_.c_str(), seconds);
                fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string label_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

struct Outcome {
    int32_t read = 0;     // ReadDirectory's result
    int32_t code = 0;     // Extract's result
    std::wstring detail;  // the archive's status detail
};

// Path (generic, relative to a root) -> size, or -1 for a directory and -2
// for a symbolic link.
using Tree = std::map<std::string, int64_t>;

// The path in the form that reaches beyond MAX_PATH on Windows (hostile
// names can leave trees deeper than that); unchanged elsewhere.
inline fs::path LongPath(const fs::path& path) {
    if (!kWindows) return path;
    const std::wstring text = path.wstring();
    if (text.rfind(L"\\\\?\\", 0) == 0) return path;
    return fs::path(L"\\\\?\\" + text);
}

// The path of an iterated item relative to root (the same form of path).
inline std::string RelativeName(const fs::path& path, const fs::path& root) {
    auto rest = path.native().substr(std::min(path.native().size(), root.native().size()));
    if (!rest.empty() && (rest[0] == '/' || (kWindows && rest[0] == '\\'))) rest.erase(0, 1);
    return fs::path(rest).generic_u8string();
}

inline void Walk(const fs::path& dir, const fs::path& root, const fs::path& skip, Tree& tree) {
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        if (!skip.empty() && path == skip) continue;
        // An entry that cannot be looked at where it was listed is not
        // there: beyond the Unix path limit Wine lists other directories.
        std::error_code status_error;
        const fs::file_status status = fs::symlink_status(path, status_error);
        if (status_error || !fs::exists(status)) continue;
        const std::string name = RelativeName(path, root);
        if (fs::is_symlink(status)) {
            tree[name] = -2;
        } else if (fs::is_directory(status)) {
            tree[name] = -1;
            Walk(path, root, skip, tree);
        } else {
            const uintmax_t size = fs::file_size(path, status_error);
            if (!status_error) tree[name] = static_cast<int64_t>(size);
        }
    }
}

inline Tree Snapshot(const fs::path& root, const fs::path& skip = fs::path()) {
    Tree tree;
    Walk(LongPath(root), LongPath(root), skip.empty() ? fs::path() : LongPath(skip), tree);
    return tree;
}

// Regular files only.
inline Tree FilesIn(const fs::path& root) {
    Tree files;
    for (const auto& [name, size] : Snapshot(root)) {
        if (size >= 0) files[name] = size;
    }
    return files;
}

inline int64_t TotalBytes(const Tree& files) {
    int64_t total = 0;
    for (const auto& item : files) total += item.second > 0 ? item.second : 0;
    return total;
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(GetCurrentDir(saved_cwd_));
        std::random_device seed;
        std::mt19937 random(seed());
        for (int attempt = 0; attempt < 100 && scratch_.empty(); ++attempt) {
            fs::path candidate = fs::temp_directory_path() /
                                 ("hostile_" + std::to_string(random() % 1000000000u));
            std::error_code error;
            if (fs::create_directory(candidate, error)) scratch_ = candidate;
        }
        ASSERT_FALSE(scratch_.empty());
        // Canonical, so that absolute names built from it are the real path.
        scratch_ = fs::canonical(scratch_);
        fs::create_directory(Outside());
        fs::create_directory(Target());
    }

    void TearDown() override {
        SetCurrentDir(saved_cwd_);
        if (!scratch_.empty()) RemoveTree(scratch_);
    }

    static void RemoveTree(const fs::path& plain) {
        const fs::path path = LongPath(plain);
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(path, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(path, error);
    }

    fs::path Scratch() const { return scratch_; }
    fs::path Outside() const { return scratch_ / "outside"; }
    fs::path Target() const { return scratch_ / "target"; }
    fs::path ArchivePath() const { return scratch_ / "archive.zip"; }

    // An empty target for the next case.
    void ResetTarget() {
        RemoveTree(Target());
        fs::create_directory(Target());
    }

    // Writes bytes as the archive and extracts it into the target the way
    // the extraction driver does. Fails the test when the case runs longer
    // than time_limit seconds or when anything outside the target changed.
    // The prototypes of the extraction driver: inflate, copy, LZMA and
    // Zstandard decompressors, and `storage` (a plain ALFile by default).
    static ALPrototypeSet DriverPrototypes(const ALStorage& storage = ALFile()) {
        ALPrototypeSet prototypes;
        prototypes.AddDecompressor(ALPkDecompressor());
        prototypes.AddDecompressor(ALCopyDecompressor());
        prototypes.AddDecompressor(ALLzmaDecompressor());
        prototypes.AddDecompressor(ALZstdDecompressor());
        prototypes.AddStorage(storage);
        return prototypes;
    }

    // Each case also runs on the driver's two extraction threads
    // (sea/extract_lanes.h) into a target of its own first, when the target
    // starts empty: the result, its text and, after a success, the files
    // must be those of one thread.
    Outcome Extract(const std::string& label, const std::string& bytes, int time_limit = 120,
                    const ALPrototypeSet& prototypes = DriverPrototypes()) {
        WriteBytes(ArchivePath(), bytes);
        const bool compare_lanes = fs::is_empty(Target());
        Outcome lanes;
        if (compare_lanes) lanes = ExtractInLanesInto(label, time_limit, prototypes);
        const Outcome outcome = ExtractOnce(label, time_limit, prototypes);
        if (compare_lanes) {
            EXPECT_EQ(lanes.read, outcome.read) << label << " (two threads)";
            EXPECT_EQ(lanes.code, outcome.code) << label << " (two threads)";
            EXPECT_EQ(WideToUtf8(lanes.detail), WideToUtf8(outcome.detail)) << label << " (two threads)";
            if (outcome.code >= 0) {
                EXPECT_EQ(Snapshot(LanesTarget()), Snapshot(Target())) << label << " (two threads)";
            }
            RemoveTree(LanesTarget());
        }
        return outcome;
    }

private:
    fs::path LanesTarget() const { return scratch_ / "target-lanes"; }

    // As the driver reads its own file: both threads' readers on one
    // borrowed descriptor, every payload on two threads.
    Outcome ExtractInLanesInto(const std::string& label, int time_limit, const ALPrototypeSet& prototypes) {
        fs::create_directory(LanesTarget());
        const Tree before = Snapshot(scratch_, LanesTarget());
        Outcome outcome;
        int error = 0;
        const int fd = FileOpenRead(ArchivePath().wstring().c_str(), &error);
        if (fd == -1) {
            ADD_FAILURE() << "cannot open the archive";
            return outcome;
        }
        {
            Watchdog watchdog(label + " (two threads)", time_limit);
            ALEntryList list(nullptr, prototypes);
            ALFile own(ArchivePath().wstring().c_str()), second(ArchivePath().wstring().c_str());
            own.ReadOpenFile(fd);
            second.ReadOpenFile(fd);
            own.Open();
            ALPkArchive archive(own);
            outcome.read = archive.ReadDirectory(list);
            if (SetCurrentDir(LanesTarget().wstring())) {
                const uint64_t least_cost = g_lanes_least_cost;
                g_lanes_least_cost = 0;
                outcome.code = ExtractInLanes(archive, list, second);
                g_lanes_least_cost = least_cost;
                outcome.detail = archive.status.GetStatusDetail();
            } else {
                ADD_FAILURE() << "cannot enter the target";
            }
            SetCurrentDir(saved_cwd_);
        }
        FileClose(fd);
        EXPECT_EQ(Snapshot(scratch_, LanesTarget()), before) << label << ": written outside the target";
        return outcome;
    }

    Outcome ExtractOnce(const std::string& label, int time_limit, const ALPrototypeSet& prototypes) {
        const Tree before = Snapshot(scratch_, Target());
        Outcome outcome;
        {
            Watchdog watchdog(label, time_limit);
            ALEntryList list(nullptr, prototypes);
            ALPkArchive archive(ArchivePath().wstring().c_str());
            outcome.read = archive.ReadDirectory(list);
            if (!SetCurrentDir(Target().wstring())) {
                ADD_FAILURE() << "cannot enter the target";
                return outcome;
            }
            outcome.code = archive.Extract(list);
            SetCurrentDir(saved_cwd_);
            outcome.detail = archive.status.GetStatusDetail();
        }
        EXPECT_EQ(Snapshot(scratch_, Target()), before) << label << ": written outside the target";
        return outcome;
    }

    std::wstring saved_cwd_;
    fs::path scratch_;
};

inline std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

}  // namespace hostile
