// The log writer: the switch, appending, cutting, silent failures, the old
// log, and where the log goes when it is switched on at start-up.
#include <gtest/gtest.h>

#include <string>

#include "frontend/scratch_dir.h"
#include "platform/environment.h"
#include "platform/path.h"
#include "platform/text.h"
#include "sea/log.h"
#include "sea/run_state.h"

namespace {

using frontend_test::CurrentDirGuard;
using frontend_test::kLineEnd;
using frontend_test::ScratchDir;

class LogWriter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        g_run = RunState();
    }
    void TearDown() override { g_run = RunState(); }
    void LogInto(const std::wstring& dir) {
        g_run.logging = true;
        g_run.log_directory = dir;
    }
    std::string Log() const { return scratch_.ReadFile(L"sea.log"); }

    ScratchDir scratch_;
};

TEST_F(LogWriter, OffWritesAndRemovesNothing) {
    g_run.log_directory = scratch_.Path();
    scratch_.WriteFile(L"vorn.log", "old");
    WriteLog(L"never %s", L"written");
    RemoveOldLog();
    EXPECT_FALSE(scratch_.Exists(L"sea.log"));
    EXPECT_TRUE(scratch_.Exists(L"vorn.log"));
}

TEST_F(LogWriter, AppendsOneLinePerCall) {
    scratch_.WriteFile(L"sea.log", std::string("earlier run") + kLineEnd);
    LogInto(scratch_.Path());
    WriteLog(L"first %s %ld %08lx", L"word", static_cast<int32_t>(-5), static_cast<uint32_t>(0xBEEF));
    WriteLog(L"second");
    WriteLog(L"two\nlines");
    const std::string le = kLineEnd;
    EXPECT_EQ(Log(), "earlier run" + le + "first word -5 0000beef" + le + "second" + le + "two" + le +
                         "lines" + le);
}

TEST_F(LogWriter, ArgumentsAreWrittenUnchanged) {
    LogInto(scratch_.Path());
    WriteLog(L"Path: %s", L"C:\\100%\\%s%d%n");
    WriteLog(L"caf\u00e9 %s", L"\u20ac");
    // Text goes out in the system's narrow encoding: UTF-8 on Linux,
    // Windows-1252 under Wine's English locales.
    const unsigned code_page = SystemAnsiCodePage();
    if (code_page != 65001 && code_page != 1252) GTEST_SKIP() << "ANSI code page " << code_page;
    const std::string cafe = code_page == 65001 ? "caf\xC3\xA9 \xE2\x82\xAC" : "caf\xE9 \x80";
    EXPECT_EQ(WideToAnsi(L"caf\u00e9 \u20ac"), cafe);
    EXPECT_EQ(Log(), std::string("Path: C:\\100%\\%s%d%n") + kLineEnd + cafe + kLineEnd);
}

TEST_F(LogWriter, LongMessagesAreCutAt511Characters) {
    LogInto(scratch_.Path());
    WriteLog(L"%s", std::wstring(511, L'a').c_str());
    WriteLog(L"%s%s", std::wstring(400, L'b').c_str(), std::wstring(400, L'c').c_str());
    EXPECT_EQ(Log(), std::string(511, 'a') + kLineEnd + std::string(400, 'b') + std::string(111, 'c') + kLineEnd);
}

TEST_F(LogWriter, UnwritableLogIsDroppedSilently) {
    LogInto(scratch_.Path(L"missing"));
    WriteLog(L"lost");
    EXPECT_EQ(scratch_.EntryCount(), 0u);

    // "sea.log" is a directory: the line is lost, the next call tries again.
    scratch_.MakeDir(L"sea.log");
    LogInto(scratch_.Path());
    WriteLog(L"lost too");
    frontend_test::fs::remove(scratch_.Root() / L"sea.log");
    WriteLog(L"kept");
    EXPECT_EQ(Log(), std::string("kept") + kLineEnd);
}

TEST_F(LogWriter, PathsTooLongForTheBufferAreNeverCut) {
    // Cut to 255 characters, these paths would name a file directly in the
    // scratch directory; that file must be neither written nor deleted.
    const std::wstring dir = scratch_.Path(std::wstring(300, L'x'));
    const size_t prefix = scratch_.Path().size() + 1;
    ASSERT_LT(prefix, 200u);
    const std::wstring cut_name(255 - prefix, L'x');
    scratch_.WriteFile(cut_name, "bystander");
    LogInto(dir);
    WriteLog(L"line");
    RemoveOldLog();
    EXPECT_EQ(scratch_.EntryCount(), 1u);
    EXPECT_EQ(scratch_.ReadFile(cut_name), "bystander");
}

TEST_F(LogWriter, RemoveOldLogDeletesOnlyVornLog) {
    scratch_.WriteFile(L"vorn.log", "old");
    scratch_.WriteFile(L"sea.log", "kept");
    LogInto(scratch_.Path());
    RemoveOldLog();
    RemoveOldLog();  // already gone: ignored
    EXPECT_FALSE(scratch_.Exists(L"vorn.log"));
    EXPECT_EQ(Log(), "kept");
}

TEST_F(LogWriter, WithoutStoredDirectoryWritesIntoCurrentDirectory) {
    CurrentDirGuard cwd(scratch_.Root());
    LogInto(L"");
    WriteLog(L"here");
    EXPECT_EQ(Log(), std::string("here") + kLineEnd);
}

TEST_F(LogWriter, ControlKeyAloneLogsIntoTheStartDirectory) {
    ScratchDir later;
    ASSERT_TRUE(later.Valid());
    scratch_.WriteFile(L"vorn.log", "old");
    {
        CurrentDirGuard cwd(scratch_.Root());
        StartLogging(false, true);
        WriteLog(L"at start");
    }
    EXPECT_TRUE(g_run.logging);
    EXPECT_TRUE(g_run.hold);
    {
        // A later change of the current directory does not move the log.
        CurrentDirGuard cwd(later.Root());
        WriteLog(L"after moving");
    }
    EXPECT_EQ(Log(), std::string("at start") + kLineEnd + "after moving" + kLineEnd);
    EXPECT_FALSE(later.Exists(L"sea.log"));
    // Only RUX_DEBUG removes the old log.
    EXPECT_TRUE(scratch_.Exists(L"vorn.log"));
}

TEST_F(LogWriter, RuxDebugLogsIntoTheStartDirectoryAndRemovesOldLog) {
    scratch_.WriteFile(L"vorn.log", "old");
    scratch_.WriteFile(L"sea.log", std::string("previous run") + kLineEnd);
    {
        CurrentDirGuard cwd(scratch_.Root());
        StartLogging(true, false);
    }
    EXPECT_TRUE(g_run.logging);
    EXPECT_FALSE(g_run.hold);
    EXPECT_FALSE(scratch_.Exists(L"vorn.log"));
    WriteLog(L"this run");
    EXPECT_EQ(Log(), std::string("previous run") + kLineEnd + "this run" + kLineEnd);
}

TEST_F(LogWriter, NeitherSwitchLeavesTheLogOff) {
    scratch_.WriteFile(L"vorn.log", "old");
    CurrentDirGuard cwd(scratch_.Root());
    StartLogging(false, false);
    WriteLog(L"nothing");
    EXPECT_FALSE(g_run.logging);
    EXPECT_FALSE(g_run.hold);
    EXPECT_FALSE(scratch_.Exists(L"sea.log"));
    EXPECT_TRUE(scratch_.Exists(L"vorn.log"));
}

TEST(RuxDebug, OnlyTrueInAnyLetterCaseSwitchesOn) {
    std::wstring saved;
    const bool had = GetEnvVar(L"RUX_DEBUG", 32768, saved);
    const struct {
        std::wstring value;
        bool on;
    } cases[] = {
        {L"TRUE", true},   {L"True", true},   {L"tRuE", true},  {L"true", true},
        {L"1", false},     {L"yes", false},   {L"TRUEX", false}, {L" TRUE", false},
        {L"TRU", false},   {L"", false},      {std::wstring(300, L'T'), false},
        {L"TRUE" + std::wstring(300, L' '), false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetEnvVar(L"RUX_DEBUG", c.value));
        EXPECT_EQ(RuxDebugRequested(), c.on) << "RUX_DEBUG=[" << c.value.substr(0, 12) << "]";
    }
    SetEnvVar(L"RUX_DEBUG", had ? saved : L"");
}

}  // namespace
