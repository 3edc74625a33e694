// The files of a walk as the builder packs them: still the file the walk
// saw, and of the size it saw until the last byte is read. The test itself
// is the seam between the walk and the read (and between two reads).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/status.h"
#include "common/scratch_dir.h"
#include "tools/sea_build/tree/entry_stamp.h"
#include "tools/sea_build/tree/tree_walk.h"

namespace {

using test_support::ScratchDir;
namespace fs = std::filesystem;

constexpr int32_t kBuffer = 1024;

class SourceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        scratch_.WriteFile(L"data.bin", std::string(10 * kBuffer, 'a'));
        std::wstring error;
        ASSERT_TRUE(WalkTree(scratch_.Path(), false, walk_, error));
        ASSERT_EQ(walk_.items.size(), 1u);
        expected_.size = walk_.items[0].size;
        expected_.identity = walk_.items[0].identity;
    }

    // Reads the file through to its end: the bytes, or the status code.
    int32_t ReadAll(SourceFile& file, std::string& bytes, void (*between)(const fs::path&) = nullptr) {
        uint8_t chunk[kBuffer];
        for (int round = 0;; ++round) {
            const int32_t n = file.ReadBuffer(chunk, kBuffer);
            if (file.status.GetStatusCode() < 0) return file.status.GetStatusCode();
            if (n <= 0) return 0;
            bytes.append(reinterpret_cast<char*>(chunk), static_cast<size_t>(n));
            if (round == 2 && between) between(scratch_.Root() / "data.bin");
        }
    }

    ScratchDir scratch_;
    TreeWalk walk_;
    FileFacts expected_;
    StampRule rule_;
};

TEST_F(SourceFileTest, TheWalksFileReadsWhole) {
    SourceFile file(scratch_.Path(L"data.bin").c_str(), kBuffer, rule_, expected_);
    ASSERT_GE(file.Open(), 0) << file.status.GetStatusDetail();
    std::string bytes;
    EXPECT_EQ(ReadAll(file, bytes), 0) << file.status.GetStatusDetail();
    EXPECT_EQ(bytes, std::string(10 * kBuffer, 'a'));
}

TEST_F(SourceFileTest, AFileReplacedAfterTheWalkIsNotRead) {
    // Same size, other bytes, another file: what a link swapped in between
    // the walk and the packing would give.
    scratch_.WriteFile(L"other.bin", std::string(10 * kBuffer, 's'));
    fs::rename(scratch_.Root() / "other.bin", scratch_.Root() / "data.bin");
    SourceFile file(scratch_.Path(L"data.bin").c_str(), kBuffer, rule_, expected_);
    EXPECT_EQ(file.Open(), AL_CANT_OPEN_FILE);
    EXPECT_NE(std::wstring(file.status.GetStatusDetail()).find(L"replaced"), std::wstring::npos);
    std::string bytes;
    EXPECT_LT(ReadAll(file, bytes), 0);
    EXPECT_EQ(bytes.find('s'), std::string::npos);
}

TEST_F(SourceFileTest, AFileThatGrowsWhileItIsReadFails) {
    SourceFile file(scratch_.Path(L"data.bin").c_str(), kBuffer, rule_, expected_);
    ASSERT_GE(file.Open(), 0);
    std::string bytes;
    EXPECT_EQ(ReadAll(file, bytes, [](const fs::path& path) {
                  std::ofstream(path, std::ios::binary | std::ios::app) << "appended";
              }),
              AL_READ_ERROR);
    EXPECT_NE(std::wstring(file.status.GetStatusDetail()).find(L"changed size while it was read"),
              std::wstring::npos)
        << file.status.GetStatusDetail();
}

TEST_F(SourceFileTest, AFileThatShrinksWhileItIsReadFails) {
    SourceFile file(scratch_.Path(L"data.bin").c_str(), kBuffer, rule_, expected_);
    ASSERT_GE(file.Open(), 0);
    std::string bytes;
    EXPECT_EQ(ReadAll(file, bytes, [](const fs::path& path) { fs::resize_file(path, 5 * kBuffer); }),
              AL_READ_ERROR);
}

}  // namespace
