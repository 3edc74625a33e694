// Removals that someone swaps links into while they run: a directory that
// the walk has listed becomes a link to a folder outside the tree before
// the walk enters it (through the walk's test seam). What the link points
// to stays exactly as it was; the link goes.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>

#include "driver_test_support.h"
#include "platform/file_attributes.h"
#include "platform/file_lock.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "sea/extract_context.h"
#include "sea/held_tree.h"
#include "sea/run_marker.h"
#include "sea/scavenge.h"
#include "sea/tree_removal.h"

namespace {

namespace fs = std::filesystem;
using driver_test::LinksWork;
using driver_test::LogCapture;
using driver_test::ScratchDir;

// Every entry below root: its contents (files) and its permissions.
using Snapshot = std::map<std::string, std::pair<std::string, unsigned>>;

Snapshot Take(const ScratchDir& dir, const fs::path& root) {
    Snapshot snapshot;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path relative = fs::relative(it->path(), dir.Root());
        std::string contents = it->is_regular_file() ? dir.ReadFile(relative.wstring()) : std::string("<dir>");
        snapshot[relative.generic_string()] = {contents, static_cast<unsigned>(it->status().permissions())};
    }
    return snapshot;
}

// A folder outside the tree: files, a read-only file, a subfolder.
void MakeVictim(const ScratchDir& dir) {
    dir.WriteFile(L"victim/a.txt", "precious");
    dir.WriteFile(L"victim/sub/b.txt", "also precious");
    dir.WriteFile(L"victim/ro.txt", "read-only and precious");
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(dir.Path(L"victim/ro.txt"), attributes));
    ASSERT_TRUE(SetPathAttributes(dir.Path(L"victim/ro.txt"), attributes | kAttrReadOnly));
}

// The seam's swap: the directory named `g_swap_name` is moved out of the
// tree and a link to the victim takes its place.
const ScratchDir* g_swap_dir = nullptr;
std::wstring g_swap_name;
int g_swaps = 0;

void SwapForLink(const std::wstring& path) {
    if (fs::path(path).filename().wstring() != g_swap_name) return;
    std::error_code error;
    fs::rename(path, g_swap_dir->Root() / ("moved-" + std::to_string(++g_swaps)), error);
    ASSERT_FALSE(error) << error.message();
    fs::create_directory_symlink(g_swap_dir->Root() / "victim", path, error);
    ASSERT_FALSE(error) << error.message();
}

class TreeRace : public ::testing::Test {
protected:
    void SetUp() override {
        MakeVictim(dir_);
        before_ = Take(dir_, dir_.Root() / "victim");
        g_swap_dir = &dir_;
        g_swaps = 0;
        g_tree_descent_probe = SwapForLink;
    }
    void TearDown() override {
        g_tree_descent_probe = nullptr;
        g_swap_dir = nullptr;
    }
    void ExpectVictimIntact() {
        EXPECT_EQ(Take(dir_, dir_.Root() / "victim"), before_);
        EXPECT_EQ(before_.size(), 4u);
    }
    void MakeTree(const std::wstring& root) {
        dir_.WriteFile(root + L"/top.txt", "top");
        dir_.WriteFile(root + L"/Windows/install.exe", "exe");
        dir_.WriteFile(root + L"/Windows/resource/jre/lib/rt.jar", "jar");
    }

    ScratchDir dir_;
    Snapshot before_;
};

TEST_F(TreeRace, AfterCancelADirectorySwappedForALinkIsRemovedAsALink) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    MakeTree(L"base/I1");
    for (const wchar_t* name : {L"Windows", L"resource", L"jre"}) {
        g_swap_name = name;
        ASSERT_TRUE(fs::exists(dir_.Root() / "base/I1"));
        EXPECT_TRUE(DeleteDirectoryTree(dir_.Path(L"base/I1"), true)) << fs::path(name).string();
        EXPECT_EQ(g_swaps, 1);
        EXPECT_FALSE(dir_.Exists(L"base/I1"));
        ExpectVictimIntact();
        // What was moved out of the tree is no longer the walk's.
        EXPECT_TRUE(fs::is_directory(dir_.Root() / "moved-1"));
        fs::remove_all(dir_.Root() / "moved-1");
        MakeTree(L"base/I1");
        g_swaps = 0;
    }
}

TEST_F(TreeRace, ScavengingRemovesASwappedDirectoryAsALink) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    LogCapture log;
    MakeTree(L"base/I7");
    FileLock* marker = CreateLockedFile(dir_.Path(L"base/I7") + kPathSeparator + kRunMarkerName);
    ASSERT_NE(marker, nullptr);
    ReleaseLockedFile(marker, false);
    g_swap_name = L"resource";
    ScavengeResult result = ScavengeInterruptedRuns(dir_.Path(L"base"), {});
    EXPECT_EQ(g_swaps, 1);
    EXPECT_EQ(result.removed, 1u);
    EXPECT_FALSE(dir_.Exists(L"base/I7"));
    ExpectVictimIntact();
}

TEST_F(TreeRace, TheTreeItselfIsNeverALink) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir_.MakeDir(L"base");
    fs::create_directory_symlink(dir_.Root() / "victim", dir_.Root() / "base" / "I1");
    EXPECT_FALSE(DeleteDirectoryTree(dir_.Path(L"base/I1"), true));
    EXPECT_FALSE(DeleteDirectoryTree(dir_.Path(L"base/I1") + kPathSeparator, true));
    ExpectVictimIntact();
}

// The plain removal of an empty working directory that someone has
// replaced by a link to an empty folder of theirs (or anyone's) removes at
// most the link, never the folder.
TEST_F(TreeRace, ThePlainRemovalNeverRemovesWhatALinkPointsTo) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir_.MakeDir(L"empty-victim");
    dir_.MakeDir(L"base/I1");
    ExtractContext ctx;
    ctx.work_dir_created = true;
    ctx.work_dir_full = dir_.Path(L"base/I1");
    fs::rename(dir_.Root() / "base/I1", dir_.Root() / "moved");
    fs::create_directory_symlink(dir_.Root() / "empty-victim", dir_.Root() / "base/I1");
    RemoveWorkDir(ctx);
    EXPECT_TRUE(fs::is_directory(dir_.Root() / "empty-victim"));
    EXPECT_TRUE(fs::is_directory(dir_.Root() / "moved"));
    ExpectVictimIntact();
}

// The read-only attribute belongs to the file, not to one of its names:
// removing a name inside the tree leaves the other name's file as it was.
TEST_F(TreeRace, AFileWithAnotherLinkKeepsItsAttributes) {
    MakeTree(L"base/I1");
    std::error_code error;
    fs::create_hard_link(dir_.Root() / "victim" / "ro.txt", dir_.Root() / "base/I1/ro-link.txt", error);
    if (error) GTEST_SKIP() << "hard links cannot be made here: " << error.message();
    g_tree_descent_probe = nullptr;
    DeleteDirectoryTree(dir_.Path(L"base/I1"), true);
    before_["victim/ro.txt"].second = static_cast<unsigned>(fs::status(dir_.Root() / "victim/ro.txt").permissions());
    ExpectVictimIntact();
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(dir_.Path(L"victim/ro.txt"), attributes));
    EXPECT_TRUE(attributes & kAttrReadOnly);
    EXPECT_FALSE(dir_.Exists(L"base/I1/top.txt"));
}

// --- extraction into a held tree: links planted before and swapped in between entries ---

// Writes one entry through the archive's storage for a held tree; its
// status code.
int32_t Extract(const HeldTree& tree, const std::wstring& name, const std::string& data) {
    HeldTreeFile file(&tree, name.c_str());
    if (file.Create() < 0) return file.status.GetStatusCode();
    for (char c : data) file.WriteChar(static_cast<unsigned char>(c));
    return file.Close();
}

// The seam's swap between two entries: the folder `g_swap_name` of the tree
// goes out of it and a link to the victim takes its place.
void SwapBeforeEntry(const wchar_t* name) {
    if (std::wstring(name).find(L"b.txt") == std::wstring::npos) return;
    SwapForLink(g_swap_dir->Path(L"base/I1/") + g_swap_name);
}

TEST_F(TreeRace, ExtractionNeverEntersALinkWhereAFolderWillBeMade) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir_.MakeDir(L"base/I1");
    fs::create_directory_symlink(dir_.Root() / "victim", dir_.Root() / "base/I1/Windows");
    DirHandle* root = OpenDirHandle(dir_.Path(L"base/I1"), false);
    ASSERT_NE(root, nullptr);
    HeldTree tree;
    tree.SetRoot(root);
    int error = 0;
    for (const wchar_t* name : {L"Windows/a.txt", L"Windows/sub/b.txt", L"Windows\\sub\\new\\c.txt"}) {
        EXPECT_EQ(tree.CreateFile(name, &error), -1) << fs::path(name).string();
        EXPECT_EQ(error, ENOTDIR);
    }
    EXPECT_FALSE(tree.CreateFolders(L"Windows/sub/"));
    // As damaged input: the entry fails with "cannot create".
    EXPECT_EQ(Extract(tree, L"Windows/sub/b.txt", "evil"), AL_CANT_OPEN_FILE);
    CloseDirHandle(root);
    ExpectVictimIntact();
}

TEST_F(TreeRace, ExtractionNeverWritesThroughALinkOrASecondName) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir_.MakeDir(L"base/I1/Windows");
    DirHandle* root = OpenDirHandle(dir_.Path(L"base/I1"), false);
    ASSERT_NE(root, nullptr);
    HeldTree tree;
    tree.SetRoot(root);
    fs::create_symlink(dir_.Root() / "victim/a.txt", dir_.Root() / "base/I1/Windows/a.txt");
    fs::create_symlink(dir_.Root() / "victim/new.txt", dir_.Root() / "base/I1/Windows/dangling.txt");
    std::error_code hard;
    fs::create_hard_link(dir_.Root() / "victim/sub/b.txt", dir_.Root() / "base/I1/Windows/b.txt", hard);
    int error = 0;
    for (const wchar_t* name : {L"Windows/a.txt", L"Windows/dangling.txt", L"Windows/b.txt", L"../victim/x"}) {
        if (hard && std::wstring(name) == L"Windows/b.txt") continue;
        EXPECT_EQ(tree.CreateFile(name, &error), -1) << fs::path(name).string();
    }
    EXPECT_FALSE(fs::exists(dir_.Root() / "victim/new.txt")) << "created through a dangling link";
    // What the tree holds itself is made, and made again (emptied) as a
    // payload that names a file twice asks.
    for (const char* data : {"first contents", "2nd"}) {
        EXPECT_EQ(Extract(tree, L"Windows/sub/ok.txt", data), AL_NO_ERRORS);
        EXPECT_EQ(dir_.ReadFile(L"base/I1/Windows/sub/ok.txt"), data);
    }
    CloseDirHandle(root);
    if (!hard) before_["victim/sub/b.txt"] = Take(dir_, dir_.Root() / "victim")["victim/sub/b.txt"];
    ExpectVictimIntact();
}

TEST_F(TreeRace, AFolderSwappedForALinkBetweenTwoEntriesIsNeverEntered) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    g_tree_descent_probe = nullptr;
    g_tree_entry_probe = SwapBeforeEntry;
    for (const wchar_t* swapped : {L"Windows", L"sub"}) {
        g_swap_name = swapped;
        g_swaps = 0;
        fs::remove_all(dir_.Root() / "base");
        dir_.MakeDir(L"base/I1");
        DirHandle* root = OpenDirHandle(dir_.Path(L"base/I1"), false);
        ASSERT_NE(root, nullptr);
        HeldTree tree;
        tree.SetRoot(root);
        // "sub" sits in the tree's root for the second round.
        const std::wstring folder = std::wstring(swapped) == L"sub" ? L"sub/" : L"Windows/";
        EXPECT_EQ(Extract(tree, folder + L"a.txt", "first"), AL_NO_ERRORS);
        EXPECT_EQ(Extract(tree, folder + L"b.txt", "second"), AL_CANT_OPEN_FILE);
        EXPECT_EQ(g_swaps, 1);
        CloseDirHandle(root);
        ExpectVictimIntact();
        fs::remove_all(dir_.Root() / ("moved-" + std::to_string(g_swaps)));
    }
    g_tree_entry_probe = nullptr;
}

// Time stamp and attributes go to the file written, through its own
// descriptor: a link put at its name before it is closed gains nothing.
TEST_F(TreeRace, AttributesGoToTheFileWrittenNotToItsName) {
    if (!LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    dir_.MakeDir(L"base/I1");
    DirHandle* root = OpenDirHandle(dir_.Path(L"base/I1"), false);
    ASSERT_NE(root, nullptr);
    HeldTree tree;
    tree.SetRoot(root);
    {
        HeldTreeFile file(&tree, L"x.txt");
        ASSERT_EQ(file.Create(), AL_NO_ERRORS);
        file.WriteChar('x');
        file.time_date.FromUnixSeconds(946684800);  // 2000-01-01
        file.attributes.SetBits(ALFileAttributes::kReadOnly);
        fs::rename(dir_.Root() / "base/I1/x.txt", dir_.Root() / "base/I1/moved.txt");
        fs::create_symlink(dir_.Root() / "victim/a.txt", dir_.Root() / "base/I1/x.txt");
        EXPECT_EQ(file.Close(), AL_NO_ERRORS);
    }
    CloseDirHandle(root);
    ExpectVictimIntact();
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(dir_.Path(L"base/I1/moved.txt"), attributes));
    EXPECT_TRUE(attributes & kAttrReadOnly);
    int64_t seconds = 0;
    int error = 0;
    ASSERT_TRUE(FileModifiedSeconds(dir_.Path(L"base/I1/moved.txt").c_str(), &seconds, &error));
    EXPECT_NEAR(static_cast<double>(seconds), 946684800.0, 26 * 3600.0);
    fs::permissions(dir_.Root() / "base/I1/moved.txt", fs::perms::owner_write, fs::perm_options::add);
}

// Only trees that nobody else may change are scavenged: a marked tree
// others may write into stays, silently.
TEST(ScavengeOwnership, ATreeOthersMayWriteIntoStays) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows access list is tried in platform/win32/testing";
#else
    LogCapture log;
    ScratchDir base;
    for (fs::perms writable : {fs::perms::group_write, fs::perms::others_write}) {
        base.WriteFile(L"I5/data.txt", "data");
        FileLock* marker = CreateLockedFile(base.Path(L"I5") + kPathSeparator + kRunMarkerName);
        ASSERT_NE(marker, nullptr);
        ReleaseLockedFile(marker, false);
        fs::permissions(base.Root() / "I5", writable, fs::perm_options::add);
        const size_t lines = log.Lines().size();
        ScavengeResult result = ScavengeInterruptedRuns(base.Path(), {});
        EXPECT_EQ(result.removed + result.failed, 0u);
        EXPECT_EQ(base.ReadFile(L"I5/data.txt"), "data");
        EXPECT_EQ(log.Lines().size(), lines);
        // The same tree, private again, goes.
        fs::permissions(base.Root() / "I5", writable, fs::perm_options::remove);
        EXPECT_EQ(ScavengeInterruptedRuns(base.Path(), {}).removed, 1u);
        EXPECT_FALSE(base.Exists(L"I5"));
    }
#endif
}

}  // namespace
