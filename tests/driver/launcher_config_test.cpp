// Heap-size patching of the launcher configuration file, and the file
// replacement that keeps the original when writing fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "driver_test_support.h"
#include "platform/path.h"
#include "sea/launcher_config.h"
#include "sea/run_state.h"

namespace {

using driver_test::LogCapture;
using driver_test::ScratchDir;

const std::string kInitial = "rux.nl.java.option.java.heap.size.initial";
const std::string kMax = "rux.nl.java.option.java.heap.size.max";

struct PatchCase {
    const char* name;
    std::string input;
    HeapValues heap;
    std::string expected;
};

HeapValues Heap(bool initial_given, const char* initial, bool max_given, const char* max) {
    HeapValues heap;
    heap.initial_given = initial_given;
    heap.initial = initial;
    heap.max_given = max_given;
    heap.max = max;
    return heap;
}

TEST(PatchHeapText, RewritesOnlyTheGivenKeys) {
    const PatchCase cases[] = {
        {"both options", kInitial + "=64m\n" + kMax + "=512m\n", Heap(true, "256m", true, "1g"),
         kInitial + "=256m\r\n" + kMax + "=1g\r\n"},
        {"only max given: initial stays", kInitial + "=64m\n" + kMax + "=512m\n",
         Heap(false, "", true, "2g"), kInitial + "=64m\r\n" + kMax + "=2g\r\n"},
        {"only initial given: max stays", kInitial + "=64m\n" + kMax + "=512m\n",
         Heap(true, "128m", false, ""), kInitial + "=128m\r\n" + kMax + "=512m\r\n"},
        {"comments and empty lines stay", "# " + kMax + "=1m\n#" + kMax + "=1m\n\n" + kMax + "=1m\n",
         Heap(false, "", true, "9g"), "# " + kMax + "=1m\r\n#" + kMax + "=1m\r\n\r\n" + kMax + "=9g\r\n"},
        {"spaces around = do not match", kMax + " = 512m\n" + kMax + "\t=1\n",
         Heap(false, "", true, "9g"), kMax + " = 512m\r\n" + kMax + "\t=1\r\n"},
        {"key without = is the whole line", kMax + "\n", Heap(false, "", true, "3g"), kMax + "=3g\r\n"},
        {"key compared exactly", kMax + "imum=1\nRUX.NL.JAVA.OPTION.JAVA.HEAP.SIZE.MAX=1\n",
         Heap(false, "", true, "3g"), kMax + "imum=1\r\nRUX.NL.JAVA.OPTION.JAVA.HEAP.SIZE.MAX=1\r\n"},
        {"every occurrence replaced", kMax + "=1\nx=y\n" + kMax + "=2", Heap(false, "", true, "5g"),
         kMax + "=5g\r\nx=y\r\n" + kMax + "=5g\r\n"},
        {"missing key is not added", "a=b\r\n", Heap(true, "1g", true, "2g"), "a=b\r\n"},
        {"CR LF and LF both end lines; last line without end", "a=1\r\nb=2\nc=3",
         Heap(true, "1g", false, ""), "a=1\r\nb=2\r\nc=3\r\n"},
        {"values inserted as given", kInitial + "=1\n", Heap(true, "", false, ""), kInitial + "=\r\n"},
        {"empty file", "", Heap(true, "1g", true, "2g"), ""},
    };
    for (const PatchCase& c : cases) {
        EXPECT_EQ(PatchHeapText(c.input, c.heap), c.expected) << c.name;
    }
}

TEST(PatchHeapText, HandlesLinesOfAnyLength) {
    std::string long_value(200000, 'v');
    std::string long_comment = "#" + std::string(70000, 'c');
    std::string input = long_comment + "\n" + kMax + "=" + long_value + "\n" + "k=" + long_value;
    std::string out = PatchHeapText(input, Heap(false, "", true, "1g"));
    EXPECT_EQ(out, long_comment + "\r\n" + kMax + "=1g\r\nk=" + long_value + "\r\n");
}

// A writer that writes half of the bytes and then reports failure, as a
// full disk would.
bool HalfWriter(FILE* stream, const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size() / 2, stream);
    return false;
}

TEST(ReplaceFileContents, FailedWriteKeepsTheOriginal) {
    ScratchDir dir;
    dir.WriteFile(L"install.rux", "original\n");
    EXPECT_FALSE(ReplaceFileContents(dir.Path(L"install.rux"), "new contents\r\n", HalfWriter));
    EXPECT_EQ(dir.ReadFile(L"install.rux"), "original\n");
    EXPECT_FALSE(dir.Exists(L"install.rux.new")) << "temporary file left behind";
}

TEST(ReplaceFileContents, UncreatableTemporaryKeepsTheOriginal) {
    ScratchDir dir;
    dir.WriteFile(L"install.rux", "original\n");
    dir.MakeDir(L"install.rux.new");  // the temporary file cannot be created
    EXPECT_FALSE(ReplaceFileContents(dir.Path(L"install.rux"), "new\r\n"));
    EXPECT_EQ(dir.ReadFile(L"install.rux"), "original\n");
}

TEST(ReplaceFileContents, ReplacesWhole) {
    ScratchDir dir;
    dir.WriteFile(L"install.rux", std::string(10000, 'o'));
    EXPECT_TRUE(ReplaceFileContents(dir.Path(L"install.rux"), "short\r\n"));
    EXPECT_EQ(dir.ReadFile(L"install.rux"), "short\r\n");
    EXPECT_FALSE(dir.Exists(L"install.rux.new"));
}

class PatchHeapSizesTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_run.min_heap_given = true;
        g_run.min_heap = L"256m";
        g_run.max_heap_given = true;
        g_run.max_heap = L"1024m";
    }
    LogCapture log_;  // also restores the run state
    ScratchDir dir_;
    const std::string packaged_ = "# heap\n" + kInitial + "=64m\n" + kMax + "=512m\nkey = value\n";
    const std::string patched_ =
        "# heap\r\n" + kInitial + "=256m\r\n" + kMax + "=1024m\r\nkey = value\r\n";
};

TEST_F(PatchHeapSizesTest, PatchesTheFirstRuxInWindows) {
    dir_.WriteFile(L"Windows/install.rux", packaged_);
    dir_.WriteFile(L"Windows_Pure_64_Bit/install.rux", packaged_);
    PatchHeapSizes(dir_.Dir());
    EXPECT_EQ(dir_.ReadFile(L"Windows/install.rux"), patched_);
    // "Windows" exists, so the 64-bit folder is not looked at.
    EXPECT_EQ(dir_.ReadFile(L"Windows_Pure_64_Bit/install.rux"), packaged_);
}

TEST_F(PatchHeapSizesTest, FallsBackToThe64BitFolder) {
    dir_.WriteFile(L"Windows_Pure_64_Bit/launcher.rux", packaged_);
    PatchHeapSizes(dir_.Dir());
    EXPECT_EQ(dir_.ReadFile(L"Windows_Pure_64_Bit/launcher.rux"), patched_);
}

TEST_F(PatchHeapSizesTest, NoRuxFileChangesNothing) {
    // "Windows" exists without a .rux file: the one in the 64-bit folder is
    // not looked at either, and the miss goes to standard output.
    dir_.WriteFile(L"Windows/install.cfg", packaged_);
    dir_.WriteFile(L"Windows_Pure_64_Bit/install.rux", packaged_);
    ::testing::internal::CaptureStdout();
    PatchHeapSizes(dir_.Dir());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to locate the rux file\n");
    EXPECT_EQ(dir_.ReadFile(L"Windows/install.cfg"), packaged_);
    EXPECT_EQ(dir_.ReadFile(L"Windows_Pure_64_Bit/install.rux"), packaged_);
    EXPECT_FALSE(log_.Contains("Unable to open .rux file"));
    // With one there, the same call patches it and prints nothing.
    dir_.WriteFile(L"Windows/install.rux", packaged_);
    ::testing::internal::CaptureStdout();
    PatchHeapSizes(dir_.Dir());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(dir_.ReadFile(L"Windows/install.rux"), patched_);
    EXPECT_EQ(dir_.ReadFile(L"Windows_Pure_64_Bit/install.rux"), packaged_);
}

// A link where the configuration file (or its temporary file) is read or
// written is never followed: what it points to stays as it was.
TEST_F(PatchHeapSizesTest, NeverReadsNorWritesThroughALink) {
    if (!driver_test::LinksWork(dir_)) GTEST_SKIP() << "symbolic links cannot be made here";
    namespace fs = std::filesystem;
    dir_.WriteFile(L"victim.rux", packaged_);
    dir_.WriteFile(L"victim.new", "precious");
    fs::create_directories(dir_.Root() / "Windows");
    fs::create_symlink(dir_.Root() / "victim.rux", dir_.Root() / "Windows" / "install.rux");
    PatchHeapSizes(dir_.Dir());
    EXPECT_TRUE(log_.Contains("Unable to open .rux file"));
    fs::remove(dir_.Root() / "Windows" / "install.rux");
    dir_.WriteFile(L"Windows/install.rux", packaged_);
    fs::create_symlink(dir_.Root() / "victim.new", dir_.Root() / "Windows" / "install.rux.new");
    PatchHeapSizes(dir_.Dir());
    EXPECT_EQ(dir_.ReadFile(L"victim.rux"), packaged_);
    EXPECT_EQ(dir_.ReadFile(L"victim.new"), "precious");
    EXPECT_EQ(dir_.ReadFile(L"Windows/install.rux"), packaged_);
}

}  // namespace
