// The location file sea_loc: exact bytes, and the failure handling of the
// step that writes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver_test_support.h"
#include "platform/path.h"
#include "sea/dialog_state.h"
#include "sea/extract_context.h"
#include "sea/location_file.h"

namespace {

using driver_test::DialogHost;
using driver_test::LogCapture;
using driver_test::ScratchDir;

struct BytesCase {
    std::wstring path;
    std::string expected;
};

TEST(LocationFileBytes, Utf8PathLineFeedAndZero) {
    const BytesCase cases[] = {
        // 17 bytes of the path, 0A and 00: 19 bytes.
        {L"C:\\dl\\install.exe", std::string("C:\\dl\\install.exe\n", 18) + std::string(1, '\0')},
        // Outside ASCII: multi-byte sequences, still ending 0A 00.
        {L"C:\\D\u00fcsseldorf\\\u65e5\u672c.exe",
         std::string("C:\\D\xc3\xbcsseldorf\\\xe6\x97\xa5\xe6\x9c\xac.exe\n") + std::string(1, '\0')},
        {L"/t/\u0416/\U0001F600.exe", std::string("/t/\xd0\x96/\xf0\x9f\x98\x80.exe\n") + std::string(1, '\0')},
    };
    for (const BytesCase& c : cases) EXPECT_EQ(LocationFileBytes(c.path), c.expected);
    EXPECT_EQ(LocationFileBytes(L"C:\\dl\\install.exe").size(), 19u);
}

class LocationFileStep : public ::testing::Test {
protected:
    void SetUp() override {
        ctx_.starting_dir = scratch_.Path();
        scratch_.MakeDir(L"I1733000000");
        ctx_.work_dir_full = scratch_.Path(L"I1733000000");
        ctx_.work_dir_path = scratch_.Dir() + L"I1733000000" + std::wstring(1, kPathSeparator);
        ctx_.work_dir_created = true;
        ctx_.work_dir = OpenDirHandle(ctx_.work_dir_full, false);
    }
    LogCapture log_;
    ScratchDir scratch_;
    driver_test::CurrentDirGuard cwd_;  // failures restore the starting directory
    ExtractContext ctx_;
};

TEST_F(LocationFileStep, WritesTheBytesIntoTheWorkingDirectory) {
    const std::wstring own = L"C:\\Users\\J\u00f6rg\\Downloads\\install.exe";
    EXPECT_EQ(WriteLocationFileFor(ctx_, own), 1);
    EXPECT_EQ(scratch_.ReadFile(L"I1733000000/sea_loc"), LocationFileBytes(own));
    EXPECT_EQ(scratch_.ReadFile(L"I1733000000/sea_loc").size(), own.size() + 1 + 1 + 1);  // "ö" takes two bytes
}

TEST_F(LocationFileStep, UncreatableFileAsksForAnotherLocation) {
    DialogHost dialog;
    scratch_.MakeDir(L"I1733000000/sea_loc");  // a directory where the file should go
    scratch_.WriteFile(L"I1733000000/sea_loc/keep", "x");
    EXPECT_EQ(WriteLocationFileFor(ctx_, L"C:\\x.exe"), 0);
    EXPECT_EQ(log_.From("*** FAILURE: Unable to create the sea_loc file: asking to find a new location"),
              (std::vector<std::string>{
                  "*** FAILURE: Unable to create the sea_loc file: asking to find a new location",
                  "Dialog: Please select another location to extract the installer to:"}));
    // The plain removal cannot remove a directory that holds files.
    EXPECT_TRUE(scratch_.Exists(L"I1733000000/sea_loc/keep"));
    if (dialog.Host()) {
        EXPECT_EQ(dialog.Text(IDC_MAIN_TEXT), L"Unable to create the path pointer file (sea_loc).");
        EXPECT_EQ(dialog.Text(IDC_SECOND_TEXT), L"Please select another location to extract the installer to:");
        EXPECT_TRUE(dialog.Shown(IDC_CHOOSE));
    }
}

TEST_F(LocationFileStep, EmptyWorkingDirectoryIsRemovedOnFailure) {
    ReleaseWorkDir(ctx_);  // nothing held: nothing is written by name either
    EXPECT_EQ(WriteLocationFileFor(ctx_, L"C:\\x.exe"), 0);
    EXPECT_FALSE(scratch_.Exists(L"I1733000000"));
}

// The file is made in the held directory, never through a link there, nor
// in a directory put where the working directory's name was.
TEST_F(LocationFileStep, NeverWritesThroughALinkOrByName) {
    if (!driver_test::LinksWork(scratch_)) GTEST_SKIP() << "symbolic links cannot be made here";
    scratch_.WriteFile(L"victim", "precious");
    std::filesystem::create_symlink(scratch_.Root() / "victim", scratch_.Root() / "I1733000000" / "sea_loc");
    EXPECT_EQ(WriteLocationFileFor(ctx_, L"C:\\x.exe"), 0);
    EXPECT_EQ(scratch_.ReadFile(L"victim"), "precious");
    std::filesystem::remove(scratch_.Root() / "I1733000000" / "sea_loc");
    ctx_.work_dir_path = scratch_.Dir() + L"elsewhere" + std::wstring(1, kPathSeparator);
    scratch_.MakeDir(L"elsewhere");
    ctx_.work_dir = OpenDirHandle(ctx_.work_dir_full, false);  // the failure ended the hold
    EXPECT_EQ(WriteLocationFileFor(ctx_, L"C:\\x.exe"), 1);
    EXPECT_TRUE(scratch_.Exists(L"I1733000000/sea_loc"));
    EXPECT_FALSE(scratch_.Exists(L"elsewhere/sea_loc"));
}

}  // namespace
