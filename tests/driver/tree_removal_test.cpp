// Recursive removal of the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "driver_test_support.h"
#include "platform/file_attributes.h"
#include "sea/tree_removal.h"

namespace {

namespace fs = std::filesystem;
using driver_test::ScratchDir;

void MakeReadOnly(const fs::path& path) {
    uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(path.wstring(), attributes));
    ASSERT_TRUE(SetPathAttributes(path.wstring(), attributes | kAttrReadOnly));
}

bool IsReadOnly(const fs::path& path) {
    uint32_t attributes = 0;
    return GetPathAttributes(path.wstring(), attributes) && (attributes & kAttrReadOnly);
}

TEST(DeleteDirectoryTree, RemovesNestedTreeWithReadOnlyEntries) {
    ScratchDir dir;
    dir.WriteFile(L"I1/a.txt", "a");
    dir.WriteFile(L"I1/Windows/install.exe", "exe");
    dir.WriteFile(L"I1/Windows/resource/jre/bin/java.exe", "java");
    dir.WriteFile(L"I1/Windows/resource/jre/lib/rt.jar", std::string(5000, 'j'));
    dir.MakeDir(L"I1/empty/deeper/deepest");
    MakeReadOnly(dir.Root() / "I1/a.txt");
    MakeReadOnly(dir.Root() / "I1/Windows/resource/jre/bin/java.exe");
    MakeReadOnly(dir.Root() / "I1/empty/deeper/deepest");
    MakeReadOnly(dir.Root() / "I1/empty");

    EXPECT_TRUE(DeleteDirectoryTree(dir.Path(L"I1"), true));
    EXPECT_FALSE(dir.Exists(L"I1"));
}

TEST(DeleteDirectoryTree, MissingDirectoryFails) {
    ScratchDir dir;
    EXPECT_FALSE(DeleteDirectoryTree(dir.Path(L"nothing"), true));
}

TEST(DeleteDirectoryTree, LinksAreRemovedNotFollowed) {
    ScratchDir dir;
    dir.WriteFile(L"outside/precious.txt", "keep me");
    dir.WriteFile(L"outside/sub/also.txt", "keep me too");
    dir.WriteFile(L"I1/own.txt", "own");
    std::error_code dir_error, file_error;
    fs::create_directory_symlink(dir.Root() / "outside", dir.Root() / "I1" / "dirlink", dir_error);
    fs::create_symlink(dir.Root() / "outside" / "precious.txt", dir.Root() / "I1" / "filelink",
                       file_error);
    if (dir_error && file_error) GTEST_SKIP() << "symbolic links cannot be made here: " << dir_error.message();

    EXPECT_TRUE(DeleteDirectoryTree(dir.Path(L"I1"), true));
    EXPECT_FALSE(dir.Exists(L"I1"));
    EXPECT_EQ(dir.ReadFile(L"outside/precious.txt"), "keep me");
    EXPECT_EQ(dir.ReadFile(L"outside/sub/also.txt"), "keep me too");
}

// Wherever links cannot be made, the entry's attributes still decide: an
// entry that reports itself as a link to a directory is removed as a link
// (which fails for this real, non-empty directory) and never walked.
TEST(DeleteTreeEntry, NeverDescendsIntoAReparsePoint) {
    ScratchDir dir;
    dir.WriteFile(L"I1/target/precious.txt", "keep me");
    DirEntry entry{L"target", kAttrDirectory | kAttrReparsePoint};
    EXPECT_FALSE(DeleteTreeEntry(dir.Path(L"I1"), true, entry));
    EXPECT_EQ(dir.ReadFile(L"I1/target/precious.txt"), "keep me");
    entry.attributes = kAttrDirectory;
    EXPECT_TRUE(DeleteTreeEntry(dir.Path(L"I1"), true, entry));
    EXPECT_FALSE(dir.Exists(L"I1/target"));
}

TEST(DeleteTreeEntry, DotEntriesCountAsRemoved) {
    ScratchDir dir;
    EXPECT_TRUE(DeleteTreeEntry(dir.Path(), true, DirEntry{L".", kAttrDirectory}));
    EXPECT_TRUE(DeleteTreeEntry(dir.Path(), true, DirEntry{L"..", kAttrDirectory}));
    EXPECT_TRUE(fs::exists(dir.Root()));
}

TEST(DeleteDirectoryTree, FailedEntryKeepsItsAncestorsAndTheWalkGoesOn) {
#ifdef _WIN32
    ScratchDir dir;
    dir.WriteFile(L"I1/busy/locked.txt", "locked");
    dir.WriteFile(L"I1/b_other.txt", "other");
    dir.WriteFile(L"I1/z_last/file.txt", "z");
    {
        // An open file without delete sharing cannot be deleted on Windows.
        std::ifstream hold(dir.Root() / "I1/busy/locked.txt");
        ASSERT_TRUE(hold.is_open());
        EXPECT_FALSE(DeleteDirectoryTree(dir.Path(L"I1"), true));
    }
    EXPECT_TRUE(dir.Exists(L"I1/busy/locked.txt"));
    EXPECT_FALSE(dir.Exists(L"I1/b_other.txt"));
    EXPECT_FALSE(dir.Exists(L"I1/z_last"));
    EXPECT_TRUE(DeleteDirectoryTree(dir.Path(L"I1"), true));
#else
    GTEST_SKIP() << "POSIX has no undeletable entry for a test running as any user";
#endif
}

TEST(DeleteDirectoryTree, ReadOnlyFileStaysWithoutClearing) {
#ifdef _WIN32
    ScratchDir dir;
    dir.WriteFile(L"I1/ro.txt", "ro");
    MakeReadOnly(dir.Root() / "I1/ro.txt");
    EXPECT_FALSE(DeleteDirectoryTree(dir.Path(L"I1"), false));
    EXPECT_TRUE(dir.Exists(L"I1/ro.txt"));
    EXPECT_TRUE(DeleteDirectoryTree(dir.Path(L"I1"), true));
    EXPECT_FALSE(dir.Exists(L"I1"));
#else
    GTEST_SKIP() << "a read-only file can be unlinked on POSIX";
#endif
}

TEST(SetPathReadOnly, SetsAndClearsOnlyTheReadOnlyBit) {
    ScratchDir dir;
    dir.WriteFile(L"f.txt", "f");
    const fs::path file = dir.Root() / "f.txt";
    EXPECT_TRUE(SetPathReadOnly(file.wstring(), true));
    EXPECT_TRUE(IsReadOnly(file));
    EXPECT_TRUE(SetPathReadOnly(file.wstring(), false));
    EXPECT_FALSE(IsReadOnly(file));
    EXPECT_FALSE(SetPathReadOnly(dir.Path(L"missing"), false));
}

}  // namespace
