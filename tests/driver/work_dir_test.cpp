// The working directory: base folder, unique name, collisions, access control.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver_test_support.h"
#include "platform/dir_handle.h"
#include "platform/dir_security.h"
#include "platform/directory.h"
#include "platform/path.h"
#include "sea/tree_removal.h"
#include "sea/work_dir.h"

namespace {

namespace fs = std::filesystem;
using driver_test::CurrentDirGuard;
using driver_test::DialogHost;
using driver_test::LogCapture;
using driver_test::ScratchDir;

constexpr int32_t kNow = 1733000000;
constexpr uint32_t kSeed = 12345;

// The names the driver draws after collisions with seed kSeed.
std::vector<std::wstring> RandomNames(size_t count) {
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int32_t> draw(kRandomNameLow, kRandomNameHigh);
    std::vector<std::wstring> names;
    for (size_t i = 0; i < count; ++i) names.push_back(L"I" + std::to_wstring(draw(random)));
    return names;
}

std::wstring Sep() { return std::wstring(1, kPathSeparator); }

class WorkDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctx_.sources.now = [] { return kNow; };
        ctx_.sources.random_seed = [] { return kSeed; };
        ctx_.sources.temp_folder = [this](std::wstring& path) {
            path = base_.Dir();
            return true;
        };
        scratch_.MakeDir(L"start");
        fs::current_path(scratch_.Root() / "start");
    }

    // Steps 1 to 9 as the driver runs them.
    int Create() {
        if (!ChooseBaseFolder(ctx_)) return 0;
        EnterBaseFolder(ctx_);
        return CreateWorkDir(ctx_);
    }

    LogCapture log_;
    ScratchDir scratch_;
    ScratchDir base_;
    CurrentDirGuard cwd_;  // restored before the scratch directories go
    ExtractContext ctx_;
};

TEST_F(WorkDirTest, NamedAfterTheTimeInTheTemporaryFolder) {
    ASSERT_EQ(Create(), 1);
    EXPECT_TRUE(fs::is_directory(base_.Root() / "I1733000000"));
    EXPECT_EQ(ctx_.work_dir_name, L"I1733000000");
    EXPECT_EQ(ctx_.work_dir_path, base_.Dir() + L"I1733000000" + Sep());
    EXPECT_EQ(g_run.work_dir_path, base_.Path(L"I1733000000"));
    // The starting directory is current again.
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "start");
    std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Using TEMP path from win32 subsystem: " + fs::path(base_.Dir()).string());
    EXPECT_EQ(lines[1], "Extracting to: " + fs::path(base_.Dir()).string());
}

// A plain removal that fails (the directory holds files) keeps the path in
// the run state, so that the removal after a cancel still finds the tree.
TEST_F(WorkDirTest, FailedPlainRemovalKeepsThePathForTheFinalRemoval) {
    ASSERT_EQ(Create(), 1);
    base_.WriteFile(L"I1733000000/Windows/install.exe", "x");
    EXPECT_FALSE(RemoveWorkDir(ctx_));
    EXPECT_EQ(g_run.work_dir_path, base_.Path(L"I1733000000"));
    EXPECT_TRUE(DeleteDirectoryTree(g_run.work_dir_path, true));
    EXPECT_FALSE(base_.Exists(L"I1733000000"));
}

TEST_F(WorkDirTest, CollisionsDrawEightDigitNames) {
    std::vector<std::wstring> names = RandomNames(6);
    base_.MakeDir(L"I1733000000");
    for (size_t i = 0; i < 4; ++i) base_.MakeDir(names[i]);
    ASSERT_EQ(Create(), 1);
    EXPECT_EQ(ctx_.work_dir_name, names[4]);
    EXPECT_EQ(ctx_.work_dir_name.size(), 9u);
    EXPECT_TRUE(fs::is_directory(base_.Root() / names[4]));
}

TEST_F(WorkDirTest, SixCollisionsAskForTempLocation) {
    DialogHost dialog;
    std::vector<std::wstring> names = RandomNames(6);
    base_.MakeDir(L"I1733000000");
    for (size_t i = 0; i < 5; ++i) base_.MakeDir(names[i]);
    EXPECT_EQ(Create(), 0);
    // The sixth random name was drawn but never created, nor entered.
    EXPECT_FALSE(base_.Exists(names[5]));
    EXPECT_TRUE(log_.Contains("Dialog: There is not enough free disk in the temporary folder."));
    EXPECT_FALSE(log_.Contains("Verified.") || log_.Contains("Verifying..."));
    if (dialog.Host()) {
        EXPECT_TRUE(dialog.Shown(IDC_CHOOSE));
    }
}

// Fails the first creation with `first`; the retry must come under a new
// name. True when the retry carried an access list.
bool RetryAfter(ExtractContext& ctx, DirCreateResult first, bool& first_protected,
                const std::function<int()>& create) {
    std::vector<std::pair<std::wstring, bool>> calls;
    ctx.sources.create_dir = [&calls, first](const std::wstring& name, const DirSecurity* security) {
        calls.emplace_back(name, security != nullptr);
        if (calls.size() == 1) return first;
        return CreateDirWithSecurity(name, security);
    };
    EXPECT_EQ(create(), 1);
    EXPECT_EQ(calls.size(), 2u);
    if (calls.size() != 2) return false;
    EXPECT_EQ(calls[0].first, L"I1733000000");
    EXPECT_EQ(calls[1].first, RandomNames(1)[0]);
    first_protected = calls[0].second;
    return calls[1].second;
}

// Anyone who can write to the base folder can make the first name fail
// (Windows answers "access denied" for a name whose deletion is pending):
// the retry keeps the access list an elevated run asked for.
TEST_F(WorkDirTest, OtherFailureRetriesOnceUnderTheSameAccessList) {
    bool first_protected = false;
    const bool retry_protected =
        RetryAfter(ctx_, DirCreateResult::kFailed, first_protected, [this] { return Create(); });
    EXPECT_EQ(retry_protected, first_protected);
    EXPECT_EQ(first_protected, IsElevatedAdmin());
    EXPECT_TRUE(log_.Contains(first_protected ? "Verified." : "Verifying..."));
    EXPECT_TRUE(fs::is_directory(base_.Root() / RandomNames(1)[0]));
}

// An access list the system refuses (a file system without them) is
// dropped for the retry.
TEST_F(WorkDirTest, RefusedAccessListRetriesOnceWithout) {
    bool first_protected = false;
    EXPECT_FALSE(RetryAfter(ctx_, DirCreateResult::kSecurityRefused, first_protected,
                            [this] { return Create(); }));
    EXPECT_TRUE(log_.Contains("Verifying..."));
    EXPECT_TRUE(fs::is_directory(base_.Root() / RandomNames(1)[0]));
}

TEST_F(WorkDirTest, SecondOtherFailureAsksForTempLocation) {
    int calls = 0;
    ctx_.sources.create_dir = [&calls](const std::wstring&, const DirSecurity*) {
        ++calls;
        return DirCreateResult::kFailed;
    };
    EXPECT_EQ(Create(), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(log_.Lines().back(), "Dialog: Please select a temporary location to extract the installer to:");
    EXPECT_TRUE(g_run.work_dir_path.empty());
}

TEST_F(WorkDirTest, ChosenFolderWithoutSeparator) {
    g_run.chosen_folder = base_.Path();
    ASSERT_EQ(Create(), 1);
    EXPECT_TRUE(fs::is_directory(base_.Root() / "I1733000000"));
    EXPECT_EQ(log_.Lines()[0], "Using working directory to decompress files: " + base_.Root().string());
}

TEST_F(WorkDirTest, UnenterableBaseFolderFallsBackToTheStartingDirectory) {
    g_run.chosen_folder = base_.Path(L"missing");
    ASSERT_EQ(Create(), 1);
    EXPECT_TRUE(fs::is_directory(scratch_.Root() / "start" / "I1733000000"));
    std::vector<std::string> lines = log_.Lines();
    EXPECT_EQ(lines[2], "*** FALLBACK: Unable to access directory \"" + (base_.Root() / "missing").string() + "\"");
    EXPECT_EQ(lines[3], "Extracting to: " + (scratch_.Root() / "start").string());
}

TEST_F(WorkDirTest, FallbackFolderIsCreatedWhenTheTemporaryFolderIsUnknown) {
    ctx_.sources.temp_folder = [](std::wstring&) { return false; };
    ctx_.sources.fallback_folder = base_.Path(L"Temp");
    ASSERT_EQ(Create(), 1);
    EXPECT_EQ(ctx_.base_folder, base_.Path(L"Temp") + Sep());
    EXPECT_TRUE(fs::is_directory(base_.Root() / "Temp" / "I1733000000"));
}

TEST_F(WorkDirTest, UncreatableFallbackFolderFails) {
    ctx_.sources.temp_folder = [](std::wstring&) { return false; };
    ctx_.sources.fallback_folder = base_.Path(L"no/such/parent");
    EXPECT_EQ(Create(), 0);
    EXPECT_EQ(log_.Lines().back(), "*** FAILURE: Unable to create a working directory!");
}

// The access list the working directory gets from an elevated administrator.
void ExpectWorkDirAccess(const DirAccess& access, const char* what) {
    EXPECT_TRUE(access.is_protected) << what;
#ifdef _WIN32
    ASSERT_EQ(access.entries.size(), 3u) << what;
    const AccessEntry expected[] = {{L"S-1-5-32-545", 0x1200A9, 0x3},
                                    {L"S-1-5-32-544", 0x1F01FF, 0x3},
                                    {L"S-1-5-18", 0x1F01FF, 0x3}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(access.entries[i].trustee, expected[i].trustee) << what << " " << i;
        EXPECT_EQ(access.entries[i].mask, expected[i].mask) << what << " " << i;
        EXPECT_EQ(access.entries[i].flags & 0x3u, 0x3u) << what << " " << i << ": not inheritable";
    }
#else
    EXPECT_EQ(access.mode, 0700u) << what;
#endif
}

TEST_F(WorkDirTest, AccessControlFollowsTheAdministratorTest) {
    bool secured = false;
    DirAccess requested;
    ctx_.sources.create_dir = [&](const std::wstring& name, const DirSecurity* security) {
        secured = security != nullptr;
        if (security) {
            EXPECT_TRUE(DescribeDirSecurity(security, requested));
        }
        return CreateDirWithSecurity(name, security);
    };
    ASSERT_EQ(Create(), 1);
    DirAccess stored;
    ASSERT_TRUE(ReadDirAccess(base_.Path(L"I1733000000"), stored));

    if (!log_.Contains(std::string(13, '*'))) {
        EXPECT_TRUE(log_.Contains(std::string(11, '*'))) << "unexpected administrator test outcome";
        EXPECT_TRUE(log_.Contains("Verifying..."));
        EXPECT_FALSE(log_.Contains("Attributes set."));
        EXPECT_FALSE(secured);
        return;
    }
    EXPECT_TRUE(log_.Contains("Attributes set."));
    EXPECT_TRUE(log_.Contains("Verified."));
    ASSERT_TRUE(secured) << "created without its access list";
    ExpectWorkDirAccess(requested, "requested");
#ifdef _WIN32
    if (!stored.is_protected) {
        GTEST_SKIP() << "the file system did not keep the directory's access list (Wine keeps none "
                        "for new directories); the requested list was checked";
    }
#endif
    ExpectWorkDirAccess(stored, "stored");
}

// A base folder others may change gets a private working directory: full
// control for the user, Administrators and SYSTEM only (POSIX: 0700).
TEST(PrivateWorkDir, SharedBaseFoldersAndTheirSecurity) {
    DirSecurity* security = BuildPrivateDirSecurity();
    ASSERT_NE(security, nullptr);
    DirAccess access;
    ASSERT_TRUE(DescribeDirSecurity(security, access));
    FreeDirSecurity(security);
    EXPECT_TRUE(access.is_protected);
#ifdef _WIN32
    ASSERT_EQ(access.entries.size(), 3u);
    EXPECT_EQ(access.entries[0].trustee.rfind(L"S-1-5-", 0), 0u);
    EXPECT_NE(access.entries[0].trustee, L"S-1-5-32-545") << "BUILTIN\\Users get nothing";
    EXPECT_EQ(access.entries[1].trustee, L"S-1-5-32-544");
    EXPECT_EQ(access.entries[2].trustee, L"S-1-5-18");
    for (const AccessEntry& entry : access.entries) {
        EXPECT_EQ(entry.mask, 0x1F01FFu);
        EXPECT_EQ(entry.flags & 0x3u, 0x3u) << "not inheritable";
    }
#else
    EXPECT_EQ(access.mode, 0700u);
    // Whether others may change a folder: group or other write permission.
    ScratchDir base;
    for (auto [mode, shared] : {std::pair{0755, false}, {0700, false}, {0775, true}, {0757, true}, {01777, true}}) {
        fs::permissions(base.Root(), static_cast<fs::perms>(mode), fs::perm_options::replace);
        DirHandle* held = OpenDirHandle(base.Path(), false);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(LetsOthersChange(held), shared) << std::oct << mode;
        CloseDirHandle(held);
    }
    fs::permissions(base.Root(), fs::perms::owner_all, fs::perm_options::replace);
#endif
    // The user's own temporary folder is no shared one.
    ScratchDir own;
    DirHandle* held = OpenDirHandle(own.Path(), false);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(LetsOthersChange(held));
    CloseDirHandle(held);
}

}  // namespace
