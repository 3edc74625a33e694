// The entry function's start-up in the windowless run modes, the GUI run
// mode's way to the extraction, and the closing banner.
#include <gtest/gtest.h>

#include <string>

#include "frontend/scratch_dir.h"
#include "platform/environment.h"
#include "sea/entry.h"
#include "sea/run_state.h"

namespace {

using frontend_test::CurrentDirGuard;
using frontend_test::kLineEnd;
using frontend_test::ScratchDir;

// Saves an environment variable and puts it back (an absent one comes back
// as fallback, since the platform layer only sets variables).
class EnvRestore {
public:
    EnvRestore(const wchar_t* name, const std::wstring& fallback) : name_(name) {
        if (!GetEnvVar(name, 32768, saved_)) saved_ = fallback;
    }
    ~EnvRestore() { SetEnvVar(name_, saved_); }

private:
    const wchar_t* name_;
    std::wstring saved_;
};

class Entry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        g_run = RunState();
    }
    void TearDown() override { g_run = RunState(); }
    ScratchDir scratch_;
    EnvRestore rux_{L"RUX_DEBUG", L""};
    EnvRestore tmp_{L"TMP", frontend_test::fs::temp_directory_path().wstring()};
    EnvRestore temp_{L"TEMP", frontend_test::fs::temp_directory_path().wstring()};
};

TEST_F(Entry, SilentRunWithRuxDebugLogsTheStartAndEndsWithMinusOne) {
    scratch_.MakeDir(L"tmp");
    scratch_.WriteFile(L"vorn.log", "old");
    const std::wstring tmp = scratch_.Path(L"tmp");
    SetEnvVar(L"RUX_DEBUG", L"tRuE");
    int code;
    {
        CurrentDirGuard cwd(scratch_.Root());
        code = SeaEntry(nullptr, (L"-i silent -jvmxms 256m -jvmxmx 1g -tempdir \"" + tmp + L"\"").c_str());
    }
    // No launcher was started.
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(scratch_.Exists(L"vorn.log"));
    const std::string start = std::string("Self Extractor execution begins.") + kLineEnd + "Running in Silent Mode" + kLineEnd;
    EXPECT_EQ(scratch_.ReadFile(L"sea.log").substr(0, start.size()), start);

    std::wstring value;
    EXPECT_TRUE(GetEnvVar(L"TMP", 32768, value));
    EXPECT_EQ(value, tmp);
    EXPECT_TRUE(GetEnvVar(L"TEMP", 32768, value));
    EXPECT_EQ(value, tmp);
    EXPECT_TRUE(g_run.min_heap_given);
    EXPECT_EQ(g_run.min_heap, L"256m");
    EXPECT_TRUE(g_run.max_heap_given);
    EXPECT_EQ(g_run.max_heap, L"1g");
    EXPECT_FALSE(g_run.hold);
}

TEST_F(Entry, ConsoleRunWithoutSwitchWritesNoLog) {
    SetEnvVar(L"RUX_DEBUG", L"yes");
    int code;
    {
        CurrentDirGuard cwd(scratch_.Root());
        code = SeaEntry(nullptr, L"-i console -tempdir 'quoted");
    }
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(g_run.logging);
    EXPECT_FALSE(scratch_.Exists(L"sea.log"));
}

TEST_F(Entry, ClosingBannerOnlyWithHoldFlagAndNotFor106) {
    g_run.logging = true;
    g_run.log_directory = scratch_.Path();
    WriteClosingBanner(0);  // no hold flag
    g_run.hold = true;
    WriteClosingBanner(106);
    EXPECT_FALSE(scratch_.Exists(L"sea.log"));

    WriteClosingBanner(-1);
    const std::string le = kLineEnd;
    const std::string rule(47, '=');
    EXPECT_EQ(scratch_.ReadFile(L"sea.log"),
              le + le + rule + le + "Please press a key to close this window." + le + rule + le + le);
}

}  // namespace

// The GUI run mode always gets to the extraction: through the dialog's
// start timer where the dialog can be created (the headless dialog on
// POSIX), and without a window where it cannot (this test program carries
// no dialog template on Windows).
TEST_F(Entry, GuiRunExtractsWithOrWithoutTheDialog) {
    scratch_.MakeDir(L"tmp");
    SetEnvVar(L"RUX_DEBUG", L"TRUE");
    int code;
    {
        CurrentDirGuard cwd(scratch_.Root());
        code = SeaEntry(nullptr, (L"-tempdir \"" + scratch_.Path(L"tmp") + L"\"").c_str());
    }
    EXPECT_EQ(code, -1) << "this program carries no payload";
    const std::string log = scratch_.ReadFile(L"sea.log");
    const size_t registered = log.find(std::string("Window class registered.") + kLineEnd);
    const size_t extracting = log.find(std::string("Extracting files.") + kLineEnd);
    const size_t closed = log.find(std::string("Dialog initialized.") + kLineEnd);
    ASSERT_NE(registered, std::string::npos) << log;
    ASSERT_NE(extracting, std::string::npos) << log;
    ASSERT_NE(closed, std::string::npos) << log;
    EXPECT_LT(registered, extracting);
    EXPECT_LT(extracting, closed);
    const bool without_dialog =
        log.find("The progress dialog could not be created: extracting without it.") != std::string::npos;
#ifdef _WIN32
    EXPECT_TRUE(without_dialog) << log;
#else
    EXPECT_FALSE(without_dialog) << log;
#endif
}
