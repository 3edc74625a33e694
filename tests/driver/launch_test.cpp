// Launcher choice and the launch itself. The launcher is a copy of this
// test program: started with SEA_DRIVER_TEST_CHILD set, it records its
// command line and current directory and exits at once with the code given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "driver_test_support.h"
#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "sea/launch.h"

namespace {

namespace fs = std::filesystem;
using driver_test::CurrentDirGuard;
using driver_test::DialogHost;
using driver_test::LinksWork;
using driver_test::LogCapture;
using driver_test::ScratchDir;

constexpr const wchar_t kChildVariable[] = L"SEA_DRIVER_TEST_CHILD";

// The child's own command line as it received it: GetCommandLineW on
// Windows, the argument vector joined with '|' on POSIX.
std::string ChildCommandLine() {
#ifdef _WIN32
    return WideToUtf8(GetOwnCommandLine());
#else
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!args.empty() && args.back() == '\0') args.pop_back();
    for (char& c : args) {
        if (c == '\0') c = '|';
    }
    return args;
#endif
}

// "<exit code>|<record file>": record and leave before any test runs.
const bool kChildDone = [] {
    std::wstring value;
    if (!GetEnvVar(kChildVariable, 1024, value)) return false;
    size_t bar = value.find(L'|');
    if (bar == std::wstring::npos) return false;
    int code = std::stoi(value.substr(0, bar));
    std::wstring cwd;
    GetCurrentDir(cwd);
    {
        std::ofstream out(fs::path(value.substr(bar + 1)), std::ios::binary);
        out << ChildCommandLine() << "\n" << WideToUtf8(cwd) << "\n";
    }
    std::_Exit(code);
}();

std::wstring Sep() { return std::wstring(1, kPathSeparator); }

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.MakeDir(L"start");
        scratch_.MakeDir(L"I1");
        fs::current_path(scratch_.Root() / "start");
        ctx_.starting_dir = scratch_.Path(L"start");
        ctx_.work_dir_full = scratch_.Path(L"I1");
        ctx_.work_dir_path = ctx_.work_dir_full + Sep();
        ctx_.work_dir_created = true;
        ctx_.work_dir = OpenDirHandle(ctx_.work_dir_full, false);
        ctx_.own_name = L"install";
        ctx_.own_extension = L".exe";
        ctx_.launcher = ctx_.work_dir_path + L"Windows" + Sep() + L"install.exe";
    }
    void TearDown() override { SetEnvVar(kChildVariable, L""); }

    std::wstring Launcher(const std::wstring& relative) {
        return (scratch_.Root() / "I1" / relative).make_preferred().wstring();
    }
    // Installs a copy of this program as a launcher.
    void InstallLauncher(const std::wstring& relative) {
        fs::path target = scratch_.Root() / "I1" / relative;
        fs::create_directories(target.parent_path());
        fs::copy_file(fs::path(GetOwnModulePath()), target);
    }
    std::wstring Normal(const std::wstring& path) { return fs::path(path).lexically_normal().wstring(); }

    LogCapture log_;
    ScratchDir scratch_;
    CurrentDirGuard cwd_;
    ExtractContext ctx_;
};

TEST_F(LaunchTest, OwnNameInWindowsFirst) {
    scratch_.WriteFile(L"I1/Windows/install.exe", "x");
    scratch_.WriteFile(L"I1/Windows/aaa.exe", "x");
    scratch_.WriteFile(L"I1/Windows_Pure_64_Bit/x64.exe", "x");
    EXPECT_EQ(Normal(ChooseLauncher(ctx_)), Normal(Launcher(L"Windows/install.exe")));
}

TEST_F(LaunchTest, Then64BitFolder) {
    scratch_.WriteFile(L"I1/Windows/other.exe", "x");
    scratch_.WriteFile(L"I1/Windows_Pure_64_Bit/x64.exe", "x");
    EXPECT_EQ(Normal(ChooseLauncher(ctx_)), Normal(Launcher(L"Windows_Pure_64_Bit/x64.exe")));
}

TEST_F(LaunchTest, ThenFirstExecutableInWindows) {
    // Started as setup.exe with a payload whose launcher is install.exe.
    ctx_.launcher = ctx_.work_dir_path + L"Windows" + Sep() + L"setup.exe";
    scratch_.WriteFile(L"I1/Windows/install.exe", "x");
    scratch_.WriteFile(L"I1/Windows/install.rux", "x");
    EXPECT_EQ(Normal(ChooseLauncher(ctx_)), Normal(Launcher(L"Windows/install.exe")));
}

// The launcher lookup reports its misses on standard output, not in the log.
TEST_F(LaunchTest, LookupMissesGoToStandardOutput) {
    ::testing::internal::CaptureStdout();
    const std::wstring none = ChooseLauncher(ctx_);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Unable to locate 32 bit installer to execute\n"
              "Unable to locate 64 bit installer to execute\n");
    // The last candidate stays: the 64-bit folder itself.
    EXPECT_EQ(Normal(none), Normal(Launcher(L"Windows_Pure_64_Bit") + Sep()));
    EXPECT_FALSE(log_.Contains("Unable to locate 32 bit installer to execute"));

    scratch_.WriteFile(L"I1/Windows/other.exe", "x");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Normal(ChooseLauncher(ctx_)), Normal(Launcher(L"Windows/other.exe")));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    scratch_.WriteFile(L"I1/Windows/install.exe", "x");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Normal(ChooseLauncher(ctx_)), Normal(Launcher(L"Windows/install.exe")));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(LaunchTest, StartsTheLauncherInTheWorkingDirectory) {
    InstallLauncher(L"Windows/install.exe");
    std::wstring record = scratch_.Path(L"record.txt");
    ASSERT_TRUE(SetEnvVar(kChildVariable, L"106|" + record));
    g_run.max_heap_given = true;
    ASSERT_EQ(LaunchInstallerWith(ctx_, L"\"D:\\dl\\install.exe\" -jvmxmx 1g -i silent"), 1);
    EXPECT_EQ(g_run.launched, 1);
    EXPECT_EQ(log_.Lines().back(), "Success. The extracted file execution has begun.");

    CloseThreadHandle(g_run.process);
    WaitForProcess(g_run.process);
    int32_t code = -1;
    EXPECT_TRUE(GetProcessExitCode(g_run.process, code));
    CloseProcessHandle(g_run.process);
    EXPECT_EQ(code, 106);

    std::ifstream in(fs::path(record), std::ios::binary);
    std::string command_line, cwd;
    std::getline(in, command_line);
    std::getline(in, cwd);
    const std::string launcher = WideToUtf8(Launcher(L"Windows") + Sep() + L"install.exe");
#ifdef _WIN32
    EXPECT_EQ(command_line, launcher + "  -i silent ");
#else
    EXPECT_EQ(command_line, launcher + "|-i|silent");
#endif
    EXPECT_EQ(fs::path(cwd), scratch_.Root() / "I1");
}

TEST_F(LaunchTest, NoLauncherFails) {
    DialogHost dialog;
    EXPECT_EQ(LaunchInstallerWith(ctx_, L"sea.exe"), 0);
    EXPECT_EQ(g_run.launched, 0);
    EXPECT_EQ(log_.From("*** Error 18: 'Unable to execute the desired program.' ***"),
              (std::vector<std::string>{
                  "*** Error 18: 'Unable to execute the desired program.' ***",
                  "*** Secondary error string: 'Please get another copy of the installer and try "
                  "again.' ***",
                  "*** FAILURE: Unable to execute the EXE program."}));
    EXPECT_FALSE(fs::exists(scratch_.Root() / "I1")) << "empty working directory removed";
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "start");
    if (dialog.Host()) {
        EXPECT_TRUE(dialog.Shown(IDC_ICON_ERROR));
    }
}

// A launcher (or a folder above it) that is a link out of the held tree is
// never started.
TEST_F(LaunchTest, ALinkAtTheLauncherStartsNothing) {
    if (!LinksWork(scratch_)) GTEST_SKIP() << "symbolic links cannot be made here";
    fs::create_directories(scratch_.Root() / "outside" / "Windows");
    fs::copy_file(fs::path(GetOwnModulePath()), scratch_.Root() / "outside" / "Windows" / "install.exe");
    std::wstring record = scratch_.Path(L"record.txt");
    ASSERT_TRUE(SetEnvVar(kChildVariable, L"106|" + record));
    for (const char* link : {"Windows/install.exe", "Windows"}) {
        fs::remove_all(scratch_.Root() / "I1" / "Windows");
        fs::create_directories(scratch_.Root() / "I1" / "Windows");
        fs::remove(scratch_.Root() / "I1" / link);
        fs::create_symlink(scratch_.Root() / "outside" / link, scratch_.Root() / "I1" / link);
        EXPECT_EQ(LaunchInstallerWith(ctx_, L"sea.exe"), 0) << link;
        EXPECT_EQ(g_run.launched, 0) << link;
        EXPECT_FALSE(fs::exists(fs::path(record))) << link << ": a launcher outside the tree ran";
        EXPECT_EQ(log_.Lines().back(), "*** FAILURE: Unable to execute the EXE program.") << link;
    }
}

TEST_F(LaunchTest, AWorkingDirectoryThatCannotBeEnteredStartsNothing) {
    InstallLauncher(L"Windows/install.exe");
    std::wstring record = scratch_.Path(L"record.txt");
    ASSERT_TRUE(SetEnvVar(kChildVariable, L"106|" + record));
    ctx_.sources.enter_dir = [](const std::wstring&) { return false; };
    DialogHost dialog;
    EXPECT_EQ(LaunchInstallerWith(ctx_, L"sea.exe"), 0);
    EXPECT_EQ(g_run.launched, 0);
    EXPECT_FALSE(fs::exists(fs::path(record))) << "the launcher ran elsewhere";
    EXPECT_EQ(log_.Lines().back(), "*** FAILURE: Unable to execute the EXE program.");
    EXPECT_EQ(fs::current_path(), scratch_.Root() / "start");
}

}  // namespace
