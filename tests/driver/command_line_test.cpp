// The launcher's command line: heap options stripped, the program path
// replaced by the launcher's, and (for POSIX launches) the argument vector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/process_start.h"
#include "sea/launch.h"

namespace {

struct StripCase {
    const wchar_t* input;
    const wchar_t* expected;
};

TEST(StripHeapOptions, RemovesOptionsWithTheirValues) {
    const StripCase cases[] = {
        // Option and value anywhere; the rest keeps its order, one space each.
        {L"C:\\a\\sea.exe -jvmxms 256m -i silent", L"C:\\a\\sea.exe -i silent "},
        {L"C:\\a\\sea.exe -i silent -jvmxmx 1g", L"C:\\a\\sea.exe -i silent "},
        {L"sea.exe -jvmxms 256m -jvmxmx 1024m -f x.properties",
         L"sea.exe -f x.properties "},
        // Runs of spaces separate like one; a leading space gives nothing.
        {L"  sea.exe    -jvmxms   64m   -i  console  ", L"sea.exe -i console "},
        // Option as the last word: removed, nothing after it.
        {L"sea.exe -i silent -jvmxmx", L"sea.exe -i silent "},
        // Quotes mean nothing: a quoted value loses only its first word.
        {L"sea.exe -jvmxms \"256 m\" -i silent", L"sea.exe m\" -i silent "},
        // Exact, case-sensitive names; other words that merely contain them stay.
        {L"sea.exe -JVMXMS 1g -jvmxms1g --jvmxms 2g", L"sea.exe -JVMXMS 1g -jvmxms1g --jvmxms 2g "},
        // An option's value is never read as an option itself.
        {L"sea.exe -jvmxms -jvmxmx 1g", L"sea.exe 1g "},
        // Without options the line is only normalised.
        {L"sea.exe", L"sea.exe "},
        {L"", L""},
    };
    for (const StripCase& c : cases) {
        std::wstring line = c.input;
        StripHeapOptions(line);
        EXPECT_EQ(line, c.expected) << "input: " << std::string(line.begin(), line.end());
    }
}

struct LaunchCase {
    const wchar_t* launcher;
    const wchar_t* own;
    std::wstring expected;
};

TEST(BuildLaunchCommandLine, ReplacesTheProgramPathByTheLauncher) {
    const std::wstring sep(1, kPathSeparator);
    const std::wstring launcher = L"C:" + sep + L"T" + sep + L"I1733000000" + sep + L"Windows" + sep +
                                  L"install.exe";
    const LaunchCase cases[] = {
        // A quoted path ends at its closing quote: the space after it stays,
        // so the launcher path is followed by two spaces.
        {launcher.c_str(), L"\"D:\\dl\\install.exe\" -i silent", launcher + L"  -i silent"},
        // Unquoted: the path ends at the first space, which is dropped.
        {launcher.c_str(), L"D:\\dl\\install.exe -i silent", launcher + L" -i silent"},
        // No arguments, quoted or not: the launcher path and one space.
        {launcher.c_str(), L"\"D:\\dl\\install.exe\"", launcher + L" "},
        {launcher.c_str(), L"D:\\dl\\install.exe", launcher + L" "},
        // A quoted path holding spaces ends at its closing quote only.
        {launcher.c_str(), L"\"D:\\my dl\\setup.exe\" -i console", launcher + L"  -i console"},
        // A stripped line keeps its trailing space.
        {launcher.c_str(), L"\"D:\\dl\\install.exe\" -i silent ", launcher + L"  -i silent "},
        // Separators of the launcher path become the system's own.
        {L"C:/T/I1/Windows/install.exe", L"x.exe -a", L"C:" + sep + L"T" + sep + L"I1" + sep +
                                                          L"Windows" + sep + L"install.exe -a"},
    };
    for (const LaunchCase& c : cases) {
        EXPECT_EQ(BuildLaunchCommandLine(c.launcher, c.own), c.expected)
            << "own: " << std::string(c.own, c.own + wcslen(c.own));
    }
}

TEST(BuildLaunchCommandLine, StrippedLineOfTheWorkedExample) {
    std::wstring own = L"\"D:\\dl\\install.exe\" -jvmxms 256m -i silent";
    StripHeapOptions(own);
    EXPECT_EQ(BuildLaunchCommandLine(L"W\\install.exe", own).substr(13), L"  -i silent ");
}

struct SplitCase {
    const wchar_t* application;
    const wchar_t* command_line;
    std::vector<std::wstring> expected;
};

TEST(SplitLaunchArguments, SplitsAtSpacesOutsideQuotes) {
    const SplitCase cases[] = {
        {L"/w/Windows/install.exe", L"/w/Windows/install.exe  -i silent",
         {L"/w/Windows/install.exe", L"-i", L"silent"}},
        // The launcher path is taken whole, even with a space in it.
        {L"/my tmp/I1/Windows/install.exe", L"/my tmp/I1/Windows/install.exe -f \"a b.properties\"",
         {L"/my tmp/I1/Windows/install.exe", L"-f", L"a b.properties"}},
        {L"/w/x", L"/w/x \"\" end", {L"/w/x", L"", L"end"}},
        {L"/w/x", L"/w/x ", {L"/w/x"}},
        {L"/w/x", L"a\"b c\"d e", {L"ab cd", L"e"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitLaunchArguments(c.application, c.command_line), c.expected);
    }
}

}  // namespace
