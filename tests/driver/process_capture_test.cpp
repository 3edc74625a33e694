// Helper programs run to their end with their output collected: the
// builder's way of running osslsigncode and openssl.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/environment.h"
#include "platform/process_capture.h"

namespace {

TEST(QuoteWindowsArgument, GivesBackWhatTheRuntimeParses) {
    struct Case {
        const wchar_t* argument;
        const wchar_t* quoted;
    };
    const Case cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"two words", L"\"two words\""},
        {L"C:\\Program Files\\", L"\"C:\\Program Files\\\\\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {L"back\\slash", L"back\\slash"},
    };
    for (const Case& c : cases) EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted) << c.argument;
}

// The POSIX shell stands in for a helper program; Windows builds have none.
class RunCapturedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (StandardInputFileName().empty()) GTEST_SKIP() << "no /bin/sh on this system";
    }
};

TEST_F(RunCapturedTest, FeedsInputAndCollectsBothStreamsAndTheExitCode) {
    const CapturedRun run =
        RunCaptured(L"/bin/sh", {L"-c", L"cat; echo to-stderr >&2; exit 3"}, "from stdin\n", 0);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_NE(run.output.find("from stdin"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("to-stderr"), std::string::npos) << run.output;
}

TEST_F(RunCapturedTest, ArgumentsArriveUnsplit) {
    const CapturedRun run = RunCaptured(L"/bin/sh", {L"-c", L"printf '[%s]' \"$@\"", L"sh",
                                                     L"two words", L"\"quoted\""},
                                        std::string(), 0);
    EXPECT_EQ(run.output, "[two words][\"quoted\"]");
}

TEST_F(RunCapturedTest, StandardInputReadsAsAFile) {
    const CapturedRun run = RunCaptured(L"/bin/cat", {StandardInputFileName()}, "secret", 0);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, "secret");
}

TEST_F(RunCapturedTest, TimeLimitKillsAProgramThatHangs) {
    const auto start = std::chrono::steady_clock::now();
    const CapturedRun run = RunCaptured(L"/bin/sleep", {L"60"}, std::string(), 300);
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(RunCapturedTest, AProgramThatIsNotThereDoesNotStart) {
    const CapturedRun run = RunCaptured(L"/nonexistent/helper", {}, "input", 0);
    EXPECT_FALSE(run.started);
}

TEST_F(RunCapturedTest, AProgramThatIgnoresItsInputDoesNotTakeTheCallerDown) {
    const std::string big(1 << 20, 'x');  // more than a pipe holds
    const CapturedRun run = RunCaptured(L"/bin/true", {}, big, 0);
    EXPECT_EQ(run.exit_code, 0);
}

// Windows: the command interpreter stands in (ComSpec names it).
TEST(RunCapturedWindows, CollectsOutputAndExitCodeOfTheCommandInterpreter) {
    std::wstring comspec;
    if (!StandardInputFileName().empty() || !GetEnvVar(L"ComSpec", 32768, comspec)) {
        GTEST_SKIP() << "no Windows command interpreter here";
    }
    const CapturedRun run = RunCaptured(comspec, {L"/c", L"echo captured& exit 3"}, "x", 0);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_NE(run.output.find("captured"), std::string::npos) << run.output;
    EXPECT_FALSE(RunCaptured(L"C:\\nonexistent\\helper.exe", {}, "", 0).started);
}

}  // namespace
