// The own-file check and the free-space rule R = 3 x S.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_test_support.h"
#include "platform/file_io.h"
#include "platform/module.h"
#include "platform/own_image.h"
#include "platform/path.h"
#include "sea/free_space.h"
#include "sea/own_file.h"

namespace {

namespace fs = std::filesystem;
using driver_test::CurrentDirGuard;
using driver_test::DialogHost;
using driver_test::LogCapture;
using driver_test::ScratchDir;

TEST(FreeSpaceRule, RequiredSpaceAndKilobytes) {
    // A file of 493,720,584 bytes less the 2048 read: S = 493,718,536.
    EXPECT_EQ(RequiredSpace(493718536), 1481155608u);
    EXPECT_EQ(NotEnoughSpaceMessage(RequiredSpace(493718536), 1000 * 1024 + 1023),
              L"*** FAILURE: Not enough free disk space available: Required disc space is 1446441 KB, "
              L"available is 1000 KB");
    // Beyond 32 bits, without wrapping or sign: S just under 2 GiB.
    EXPECT_EQ(RequiredSpace(0x7FFFFFFF), 3ull * 0x7FFFFFFFull);
    EXPECT_EQ(NotEnoughSpaceMessage(RequiredSpace(0x7FFFFFFF), 5ull << 40),
              L"*** FAILURE: Not enough free disk space available: Required disc space is 6291455 KB, "
              L"available is 5368709120 KB");
}

// A working directory in a scratch folder and an own file of a given size.
class OwnFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.MakeDir(L"start");
        scratch_.MakeDir(L"I1733000000");
        fs::current_path(scratch_.Root() / "start");
        ctx_.starting_dir = scratch_.Path(L"start");
        ctx_.work_dir_full = scratch_.Path(L"I1733000000");
        ctx_.work_dir_path = ctx_.work_dir_full + kPathSeparator;
        ctx_.work_dir_created = true;
    }
    ~OwnFileTest() override { CloseOwnImage(held_); }
    // The own file, held as at start-up; the comparison with the running
    // image is the case's (a scratch file is not this test's image).
    std::wstring OwnFile(size_t size, OwnImageMatch match = OwnImageMatch::kSame) {
        CloseOwnImage(held_);
        scratch_.WriteFile(L"dl/install.exe", std::string(size, 'M'));
        EXPECT_TRUE(OpenOwnImage(scratch_.Path(L"dl/install.exe"), held_));
        held_.match = match;
        held_.detail = L"the comparison's detail";
        return scratch_.Path(L"dl/install.exe");
    }
    bool WorkDirExists() const { return fs::exists(scratch_.Root() / "I1733000000"); }

    LogCapture log_;
    ScratchDir scratch_;
    CurrentDirGuard cwd_;
    DialogHost dialog_;
    ExtractContext ctx_;
    OwnImage held_;
};

TEST_F(OwnFileTest, CompressedSizeCountsEverythingAfterTheFirst2048Bytes) {
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(5000), held_), 1);
    EXPECT_EQ(ctx_.compressed_size, 5000 - 2048);
    EXPECT_EQ(ctx_.own_name, L"install");
    EXPECT_EQ(ctx_.own_extension, L".exe");
    EXPECT_EQ(ctx_.launcher, ctx_.work_dir_path + L"Windows" + kPathSeparator + L"install.exe");
    EXPECT_EQ(ctx_.own_file, held_.descriptor) << "in use for the free-space rule";
    EXPECT_TRUE(log_.Lines().empty()) << "the running image adds no line";
}

TEST_F(OwnFileTest, ReadsTheHeldFileWhateverItsPathNamesNow) {
    const std::wstring path = OwnFile(5000);
    // Windows refuses the rename (no delete sharing); elsewhere the path
    // gets another file, which nothing reads.
    int error = 0;
    const bool renamed = FileRename(path.c_str(), scratch_.Path(L"dl/aside.exe").c_str(), &error);
    EXPECT_EQ(renamed, kPathSeparator == L'/');
    if (renamed) scratch_.WriteFile(L"dl/install.exe", std::string(9000, 'X'));
    ASSERT_EQ(CheckOwnFile(ctx_, path, held_), 1);
    EXPECT_EQ(ctx_.compressed_size, 5000 - 2048);
}

TEST_F(OwnFileTest, AFileThatIsNotTheRunningImageFailsAsAnUnreadableOne) {
    EXPECT_EQ(CheckOwnFile(ctx_, OwnFile(5000, OwnImageMatch::kDifferent), held_), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    const std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "*** The installer's file is not the running program: the comparison's detail");
    EXPECT_EQ(lines[1], "*** FAILURE: Unable to extract the compressed file");
    EXPECT_EQ(lines[2], "*** Error 9: 'Unable to extract the compressed file.' ***");
}

TEST_F(OwnFileTest, AFileThatCannotBeComparedIsUsedAndSaysSo) {
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(5000, OwnImageMatch::kUnknown), held_), 1);
    EXPECT_EQ(ctx_.compressed_size, 5000 - 2048);
    EXPECT_EQ(log_.Lines(), std::vector<std::string>{
                                "The installer's file is held from start-up, but it cannot be "
                                "compared with the running program: the comparison's detail"});
}

// The comparison itself: this test program is its running image, a copy of
// it is another file. Wine cannot tell (the file is then only held).
TEST(OwnImageTest, TheRunningImageAndACopyOfIt) {
    ScratchDir scratch;
    OwnImage image;
    ASSERT_TRUE(OpenOwnImage(GetOwnModulePath(), image));
    const bool wine = image.detail.find(L"Wine") != std::wstring::npos;
    EXPECT_EQ(image.match, wine ? OwnImageMatch::kUnknown : OwnImageMatch::kSame);
    CloseOwnImage(image);
    fs::copy_file(fs::path(GetOwnModulePath()), scratch.Root() / "copy.exe");
    ASSERT_TRUE(OpenOwnImage(scratch.Path(L"copy.exe"), image));
    EXPECT_EQ(image.match, wine ? OwnImageMatch::kUnknown : OwnImageMatch::kDifferent);
    CloseOwnImage(image);
    EXPECT_FALSE(OpenOwnImage(scratch.Path(L"missing.exe"), image));
    EXPECT_EQ(image.error, ENOENT);
    EXPECT_EQ(image.descriptor, -1);
}

TEST_F(OwnFileTest, EightBytesAreEnough) {
    // Four whole units read; S counts what lies after the read position.
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(8), held_), 1);
    EXPECT_EQ(ctx_.compressed_size, 0);
}

TEST_F(OwnFileTest, FewerThanEightBytes) {
    EXPECT_EQ(CheckOwnFile(ctx_, OwnFile(7), held_), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_EQ(log_.Lines()[0], "*** FAILURE: There is no EXE name buffer to be found.");
    EXPECT_EQ(log_.Lines()[1], "*** Error 12: 'There is no EXE name buffer to be found.' ***");
    if (dialog_.Host()) {
        EXPECT_FALSE(dialog_.Shown(IDC_CHOOSE));
    }
}

TEST_F(OwnFileTest, UnreadableOwnFile) {
    EXPECT_EQ(CheckOwnFile(ctx_, scratch_.Path(L"dl/missing.exe"), held_), 0);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_EQ(log_.Lines()[0], "*** FAILURE: Unable to extract the compressed file");
    EXPECT_EQ(log_.Lines()[1], "*** Error 9: 'Unable to extract the compressed file.' ***");
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "start");
}

TEST_F(OwnFileTest, AbortBeforeReadingClosesAndRemoves) {
    g_run.ExitInEffect = 1;
    EXPECT_EQ(CheckOwnFile(ctx_, OwnFile(5000), held_), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_EQ(log_.Lines(), std::vector<std::string>{"User requested ABORT"});
}

TEST_F(OwnFileTest, EqualSpacePassesOneByteMoreFails) {
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(2048 + 1000), held_), 1);
    EXPECT_EQ(ApplyFreeSpaceRule(ctx_, 3000), 1);
    EXPECT_EQ(ctx_.own_file, -1) << "closed once the rule has passed";
    EXPECT_TRUE(WorkDirExists());
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{"Retrieved free disk space... ",
                                                      "Comparing free disk space... "}));

    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(2048 + 1000), held_), 1);
    EXPECT_EQ(ApplyFreeSpaceRule(ctx_, 2999), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_EQ(log_.From("*** Error 14: 'Not enough room for a complete install.' ***"),
              (std::vector<std::string>{
                  "*** Error 14: 'Not enough room for a complete install.' ***",
                  "*** Secondary error string: 'Please select a temporary location to extract the "
                  "installer to:' ***",
                  "*** FAILURE: Not enough free disk space available: Required disc space is 2 KB, "
                  "available is 2 KB"}));
    if (dialog_.Host()) {
        EXPECT_TRUE(dialog_.Shown(IDC_CHOOSE));
    }
}

TEST_F(OwnFileTest, AbortAtTheFreeSpaceRule) {
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(5000), held_), 1);
    g_run.ExitInEffect = 1;
    EXPECT_EQ(ApplyFreeSpaceRule(ctx_, 1ull << 40), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_EQ(log_.Lines().back(), "User requested ABORT");
}

TEST_F(OwnFileTest, FreeSpaceOfTheWorkingDirectoryVolume) {
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(5000), held_), 1);
    ASSERT_EQ(CheckFreeSpace(ctx_), 1);
    std::vector<std::string> lines = log_.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Checking free disk space");
    EXPECT_EQ(lines[1], "New version of Windows detected: GetDiskFreeSpaceEx()");
    EXPECT_EQ(lines[2].rfind("Free disk space: ", 0), 0u);
    EXPECT_EQ(lines[2].substr(lines[2].size() - 10), " Kilobytes");
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "I1733000000") << "measured in the working directory";
}

TEST_F(OwnFileTest, AWorkingDirectoryThatCannotBeEnteredIsNotMeasured) {
    // Measuring wherever the run happens to stand could pass a volume the
    // payload never goes to.
    ASSERT_EQ(CheckOwnFile(ctx_, OwnFile(5000), held_), 1);
    ctx_.sources.enter_dir = [](const std::wstring&) { return false; };
    EXPECT_EQ(CheckFreeSpace(ctx_), 0);
    EXPECT_EQ(ctx_.own_file, -1);
    EXPECT_FALSE(WorkDirExists());
    EXPECT_TRUE(log_.Contains("*** Error 13: 'Unable check free space.' ***"));
    EXPECT_FALSE(log_.Contains("Retrieved free disk space... "));
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "start");
}

}  // namespace
