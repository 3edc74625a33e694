// The marker of a run in progress and the removal of the working
// directories that interrupted runs left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "archive/file.h"
#include "driver_test_support.h"
#include "platform/file_attributes.h"
#include "platform/file_lock.h"
#include "platform/path.h"
#include "sea/run_marker.h"
#include "sea/scavenge.h"
#include "sea/work_dir.h"

namespace {

namespace fs = std::filesystem;
using driver_test::CurrentDirGuard;
using driver_test::LinksWork;
using driver_test::LogCapture;
using driver_test::ScratchDir;

std::wstring MarkerIn(const ScratchDir& dir, const std::wstring& work) {
    return dir.Path(work) + kPathSeparator + kRunMarkerName;
}

// A tree as a run killed during its extraction leaves it: files, a nested
// read-only file, and the marker nobody holds any more.
void MakeDeadTree(const ScratchDir& dir, const std::wstring& work) {
    dir.WriteFile(work + L"/Windows/install.exe", "exe");
    dir.WriteFile(work + L"/Windows/resource/jre/lib/rt.jar", std::string(3000, 'j'));
    FileLock* marker = CreateLockedFile(MarkerIn(dir, work));
    ASSERT_NE(marker, nullptr);
    ASSERT_TRUE(ReleaseLockedFile(marker, false));
    const std::wstring read_only = dir.Path(work + L"/Windows/resource/jre/lib/rt.jar");
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(read_only, attributes));
    ASSERT_TRUE(SetPathAttributes(read_only, attributes | kAttrReadOnly));
}

std::string RemovingLine(const ScratchDir& dir, const std::wstring& work) {
    return "Removing the working directory of an interrupted run: " + fs::path(dir.Path(work)).string();
}

TEST(FileLock, HeldFileRefusesEveryOtherHolderUntilReleased) {
    ScratchDir dir;
    const std::wstring path = dir.Path(L"held");
    FileLock* lock = CreateLockedFile(path);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(CreateLockedFile(path), nullptr);
    FileLock* other = nullptr;
    EXPECT_EQ(OpenLockedFile(path, &other), LockOpenResult::kHeld);
    EXPECT_EQ(other, nullptr);
    // Creation leaves nothing but the file itself.
    EXPECT_EQ(dir.EntryCount(), 1u);

    EXPECT_TRUE(ReleaseLockedFile(lock, false));
    EXPECT_TRUE(dir.Exists(L"held"));
    ASSERT_EQ(OpenLockedFile(path, &other), LockOpenResult::kLocked);
    FileLock* third = nullptr;
    EXPECT_EQ(OpenLockedFile(path, &third), LockOpenResult::kHeld);
    EXPECT_TRUE(ReleaseLockedFile(other, true));
    EXPECT_FALSE(dir.Exists(L"held"));
    EXPECT_EQ(OpenLockedFile(path, &other), LockOpenResult::kAbsent);
    EXPECT_FALSE(ReleaseLockedFile(nullptr, true));
}

TEST(FileLock, OnlyPlainFilesCanBeTaken) {
    ScratchDir dir;
    FileLock* lock = nullptr;
    dir.MakeDir(L"a-directory");
    EXPECT_NE(OpenLockedFile(dir.Path(L"a-directory"), &lock), LockOpenResult::kLocked);
    EXPECT_TRUE(fs::is_directory(dir.Root() / "a-directory"));

    // A read-only file is still a marker; its deletion goes by name.
    dir.WriteFile(L"read-only", "");
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(dir.Path(L"read-only"), attributes));
    ASSERT_TRUE(SetPathAttributes(dir.Path(L"read-only"), attributes | kAttrReadOnly));
    ASSERT_EQ(OpenLockedFile(dir.Path(L"read-only"), &lock), LockOpenResult::kLocked);
    ReleaseLockedFile(lock, false);

    if (!LinksWork(dir)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir.WriteFile(L"target", "keep me");
    fs::create_symlink(dir.Root() / "target", dir.Root() / "link");
    EXPECT_EQ(OpenLockedFile(dir.Path(L"link"), &lock), LockOpenResult::kNotAFile);
    EXPECT_EQ(dir.ReadFile(L"target"), "keep me");
}

TEST(IsWorkDirName, IOnlyFollowedByDigits) {
    EXPECT_TRUE(IsWorkDirName(L"I1733000000"));
    EXPECT_TRUE(IsWorkDirName(L"I0"));
    for (const wchar_t* name : {L"I", L"i1733000000", L"I17a", L"J12", L"I12 ", L"I-1", L"", L"xI12"}) {
        EXPECT_FALSE(IsWorkDirName(name)) << fs::path(name).string();
    }
}

class Scavenge : public ::testing::Test {
protected:
    std::vector<std::string> RemovalLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : log_.Lines()) {
            if (line.find("working directory of an interrupted run") != std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    LogCapture log_;
    ScratchDir base_;
};

TEST_F(Scavenge, RemovesOnlyTreesOfRunsThatDied) {
    MakeDeadTree(base_, L"I100");
    MakeDeadTree(base_, L"I101");
    FileLock* living = CreateLockedFile(MarkerIn(base_, L"I101"));
    // I101's marker was released above; a living run holds a fresh one.
    ASSERT_EQ(living, nullptr);
    FileLock* taken = nullptr;
    ASSERT_EQ(OpenLockedFile(MarkerIn(base_, L"I101"), &taken), LockOpenResult::kLocked);
    base_.WriteFile(L"I102/Windows/install.exe", "a finished run's tree");
    for (const wchar_t* name : {L"J103", L"I10x", L"i104", L"I"}) MakeDeadTree(base_, name);
    base_.WriteFile(L"I105", "a file, not a directory");
    MakeDeadTree(base_, L"I106");

    ScavengeResult result = ScavengeInterruptedRuns(base_.Path(), {base_.Path(L"I106")});
    ReleaseLockedFile(taken, false);

    EXPECT_EQ(result.removed, 1u);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_EQ(result.examined, 3u);  // I100, I101, I102
    EXPECT_FALSE(base_.Exists(L"I100"));
    for (const wchar_t* name : {L"I101", L"I102", L"J103", L"I10x", L"i104", L"I", L"I105", L"I106"}) {
        EXPECT_TRUE(base_.Exists(name)) << fs::path(name).string();
    }
    EXPECT_EQ(base_.ReadFile(L"I102/Windows/install.exe"), "a finished run's tree");
    EXPECT_EQ(RemovalLines(), std::vector<std::string>{RemovingLine(base_, L"I100")});
}

TEST_F(Scavenge, LinksNeverLeadOutsideTheBaseFolder) {
    ScratchDir outside;
    outside.WriteFile(L"precious.txt", "keep me");
    MakeDeadTree(outside, L"I300");
    // A marker that is a directory: the tree stays.
    base_.WriteFile(L"I202/data.txt", "x");
    base_.MakeDir(std::wstring(L"I202/") + kRunMarkerName);
    if (LinksWork(base_)) {
        // The working directory itself a link to a dead tree elsewhere.
        fs::create_directory_symlink(outside.Root() / "I300", base_.Root() / "I200");
        // A marker that is a link to a plain file elsewhere.
        base_.WriteFile(L"I201/data.txt", "x");
        fs::create_symlink(outside.Root() / "precious.txt",
                           base_.Root() / "I201" / fs::path(kRunMarkerName));
        // A dead tree holding links to elsewhere: the links go, not what
        // they point to.
        MakeDeadTree(base_, L"I203");
        fs::create_directory_symlink(outside.Root(), base_.Root() / "I203" / "dirlink");
        fs::create_symlink(outside.Root() / "precious.txt", base_.Root() / "I203" / "filelink");
    }

    ScavengeInterruptedRuns(base_.Path(), {});

    EXPECT_EQ(outside.ReadFile(L"precious.txt"), "keep me");
    EXPECT_EQ(outside.ReadFile(L"I300/Windows/install.exe"), "exe");
    EXPECT_TRUE(outside.Exists(L"I300/" + std::wstring(kRunMarkerName)));
    EXPECT_TRUE(base_.Exists(L"I202/data.txt"));
    if (!LinksWork(base_)) GTEST_SKIP() << "symbolic links cannot be made here";
    EXPECT_TRUE(fs::is_symlink(base_.Root() / "I200"));
    EXPECT_TRUE(base_.Exists(L"I201/data.txt"));
    EXPECT_FALSE(base_.Exists(L"I203"));
    EXPECT_EQ(RemovalLines(), std::vector<std::string>{RemovingLine(base_, L"I203")});
}

TEST_F(Scavenge, StopsAtItsLimits) {
    for (int i = 0; i < 5; ++i) MakeDeadTree(base_, L"I40" + std::to_wstring(i));
    // Directories without the marker cost a look only; they do not count.
    for (int i = 0; i < 4; ++i) base_.MakeDir(L"I50" + std::to_wstring(i));
    ScavengeLimits limits;
    limits.max_directories = 2;
    ScavengeResult result = ScavengeInterruptedRuns(base_.Path(), {}, limits);
    EXPECT_EQ(result.removed, 2u);
    EXPECT_TRUE(result.out_of_budget);
    EXPECT_EQ(base_.EntryCount(), 7u);

    limits.max_directories = 100;
    limits.budget = std::chrono::milliseconds(0);
    result = ScavengeInterruptedRuns(base_.Path(), {}, limits);
    EXPECT_EQ(result.removed, 0u);
    EXPECT_TRUE(result.out_of_budget);
    EXPECT_EQ(base_.EntryCount(), 7u);

    result = ScavengeInterruptedRuns(base_.Path(), {});
    EXPECT_EQ(result.removed, 3u);
    EXPECT_FALSE(result.out_of_budget);
    EXPECT_EQ(base_.EntryCount(), 4u);
}

// A tree that cannot be removed completely keeps its marker, so that a
// later run tries again; the failure is logged.
TEST_F(Scavenge, AFailedRemovalKeepsTheMarkerForTheNextRun) {
    MakeDeadTree(base_, L"I600");
    // Windows: a file held without sharing cannot be deleted. POSIX: a
    // folder without write permission keeps its entries (except for root).
    FileLock* busy = CreateLockedFile(base_.Path(L"I600/Windows/busy.dll"));
    ASSERT_NE(busy, nullptr);
    const fs::path locked = base_.Root() / "I600" / "Windows" / "resource";
    std::error_code error;
    fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    ScavengeResult result = ScavengeInterruptedRuns(base_.Path(), {});
    ReleaseLockedFile(busy, false);
    fs::permissions(locked, fs::perms::owner_all, fs::perm_options::add, error);
    if (result.failed == 0) GTEST_SKIP() << "nothing keeps a file from being deleted here";

    EXPECT_EQ(result.removed, 0u);
    EXPECT_TRUE(PathExists(MarkerIn(base_, L"I600")));
    EXPECT_EQ(RemovalLines(),
              (std::vector<std::string>{RemovingLine(base_, L"I600"),
                                        "Unable to remove the working directory of an interrupted run: " +
                                            fs::path(base_.Path(L"I600")).string()}));
    result = ScavengeInterruptedRuns(base_.Path(), {});
    EXPECT_EQ(result.removed, 1u);
    EXPECT_FALSE(base_.Exists(L"I600"));
}

// The working directory's marker through the driver's own steps.
class WorkDirMarker : public ::testing::Test {
protected:
    void SetUp() override {
        ctx_.sources.now = [] { return 1733000000; };
        ctx_.sources.random_seed = [] { return 7u; };
        ctx_.sources.temp_folder = [this](std::wstring& path) {
            path = base_.Dir();
            return true;
        };
    }
    int Create(ExtractContext& ctx) {
        if (!ChooseBaseFolder(ctx)) return 0;
        EnterBaseFolder(ctx);
        return CreateWorkDir(ctx);
    }
    std::wstring Marker() const { return ctx_.work_dir_full + kPathSeparator + kRunMarkerName; }

    LogCapture log_;
    ScratchDir base_;
    CurrentDirGuard cwd_;
    ExtractContext ctx_;
};

TEST_F(WorkDirMarker, HeldFromTheCreationOfTheDirectory) {
    ASSERT_EQ(Create(ctx_), 1);
    FileLock* lock = nullptr;
    EXPECT_EQ(OpenLockedFile(Marker(), &lock), LockOpenResult::kHeld);
    UnmarkWorkDir(ctx_);
    EXPECT_FALSE(PathExists(Marker()));
    EXPECT_TRUE(fs::is_directory(ctx_.work_dir_full));
}

// The early failures remove a still-empty directory: the marker goes first.
TEST_F(WorkDirMarker, PlainRemovalOfAnEmptyDirectoryStillSucceeds) {
    ASSERT_EQ(Create(ctx_), 1);
    EXPECT_TRUE(RemoveWorkDir(ctx_));
    EXPECT_EQ(base_.EntryCount(), 0u);
}

// Once files are in it, the plain removal fails and the marker stays,
// closed, for a later run to find.
TEST_F(WorkDirMarker, ExtractedTreeKeepsItsMarkerClosed) {
    ASSERT_EQ(Create(ctx_), 1);
    base_.WriteFile(L"I1733000000/Windows/install.exe", "x");
    EXPECT_FALSE(RemoveWorkDir(ctx_));
    FileLock* lock = nullptr;
    ASSERT_EQ(OpenLockedFile(Marker(), &lock), LockOpenResult::kLocked);
    ReleaseLockedFile(lock, false);
}

// The next attempt of the same run (Choose... with the same folder) leaves
// the first attempt's tree alone; another run's dead tree goes, logged
// between the base folder's lines and the administrator test.
TEST_F(WorkDirMarker, LaterAttemptsKeepThisRunsTreesAndRemoveDeadOnes) {
    MakeDeadTree(base_, L"I42");
    ASSERT_EQ(Create(ctx_), 1);
    base_.WriteFile(L"I1733000000/Windows/install.exe", "x");
    RemoveWorkDir(ctx_);
    MakeDeadTree(base_, L"I43");

    ExtractContext second;
    second.sources = ctx_.sources;
    ASSERT_EQ(Create(second), 1);
    EXPECT_NE(second.work_dir_name, ctx_.work_dir_name);
    EXPECT_TRUE(base_.Exists(L"I1733000000/Windows/install.exe"));
    EXPECT_FALSE(base_.Exists(L"I42"));
    EXPECT_FALSE(base_.Exists(L"I43"));

    std::vector<std::string> lines = log_.Lines();
    const std::string extracting = "Extracting to: " + fs::path(base_.Dir()).string();
    std::vector<std::string> expected = {extracting, RemovingLine(base_, L"I42")};
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 3), expected);
    EXPECT_EQ(lines[3].find_first_not_of('*'), std::string::npos) << lines[3];
}

TEST(PayloadNamesMarker, AnyLetterCaseAndALeadingDotFolder) {
    for (std::wstring name : {std::wstring(kRunMarkerName), std::wstring(L"./") + kRunMarkerName}) {
        ALEntryList list;
        list.AddEntry(new ALFile(L"Windows/install.exe"), nullptr, nullptr, nullptr);
        EXPECT_FALSE(PayloadNamesMarker(list));
        for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
        list.AddEntry(new ALFile(name.c_str()), nullptr, nullptr, nullptr);
        EXPECT_TRUE(PayloadNamesMarker(list)) << fs::path(name).string();
    }
}

}  // namespace
