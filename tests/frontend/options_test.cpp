// Options: the argument tokeniser, option parsing, the -tempdir checks and
// the properties file with its precedence rules.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frontend/scratch_dir.h"
#include "sea/options.h"

namespace {

using frontend_test::CurrentDirGuard;
using frontend_test::ScratchDir;
using Tokens = std::vector<std::wstring>;

struct TokenCase {
    const wchar_t* arguments;
    Tokens expected;
};

TEST(SplitArguments, FollowsTheQuoteRules) {
    const TokenCase cases[] = {
        {L"", {}},
        {L"a b", {L"a", L"b"}},
        {L"  a   b  ", {L"a", L"b"}},
        {L"\"a b\"", {L"a b"}},
        {L"\"\"", {L""}},
        {L"-f \"\" x", {L"-f", L"", L"x"}},
        {L"a \"\"\"\" b", {L"a", L"", L"", L"b"}},
        // Text before an opening quote joins the quoted text; the closing
        // quote ends the token.
        {L"pre\"quoted text\"post", {L"prequoted text", L"post"}},
        {L"x\"\"", {L"x"}},
        // Only the space separates.
        {L"a\tb", {L"a\tb"}},
        {L"-i\tsilent", {L"-i\tsilent"}},
        // An unterminated quote keeps its text; a lone quote yields nothing.
        {L"\"open end", {L"open end"}},
        {L"\"", {}},
    };
    for (const TokenCase& c : cases) {
        EXPECT_EQ(SplitArguments(c.arguments), c.expected) << "arguments: [" << c.arguments << "]";
    }
}

// Parsing without any properties file: the executable sits in an empty
// scratch directory.
class OptionsParsing : public ::testing::Test {
protected:
    Options Parse(const std::wstring& arguments) const {
        return Options(arguments, scratch_.Path(L"setup.exe"));
    }
    ScratchDir scratch_;
};

struct ParseCase {
    const wchar_t* arguments;
    RunMode mode;
    bool min_given;
    const wchar_t* min;
    bool max_given;
    const wchar_t* max;
};

TEST_F(OptionsParsing, RunModeAndHeapOptions) {
    ASSERT_TRUE(scratch_.Valid());
    const ParseCase cases[] = {
        {L"", RunMode::Gui, false, L"", false, L""},
        {L"-i silent", RunMode::Silent, false, L"", false, L""},
        {L"-i console", RunMode::Console, false, L"", false, L""},
        {L"foo -i silent bar", RunMode::Silent, false, L"", false, L""},
        {L"\"-i\" \"silent\"", RunMode::Silent, false, L"", false, L""},
        // Last one wins.
        {L"-i silent -i console", RunMode::Console, false, L"", false, L""},
        {L"-jvmxms 1 -jvmxms 2", RunMode::Gui, true, L"2", false, L""},
        // Words and values are case-sensitive.
        {L"-I silent", RunMode::Gui, false, L"", false, L""},
        {L"-i SILENT", RunMode::Gui, false, L"", false, L""},
        {L"-JVMXMS 1 -Jvmxmx 2", RunMode::Gui, false, L"", false, L""},
        // A tab does not separate.
        {L"-i\tsilent", RunMode::Gui, false, L"", false, L""},
        {L"-i silent\t", RunMode::Gui, false, L"", false, L""},
        // Heap values are taken blindly, including an empty quoted one.
        {L"-jvmxms 256m -jvmxmx 1024m", RunMode::Gui, true, L"256m", true, L"1024m"},
        {L"-jvmxms -jvmxmx 512m", RunMode::Gui, true, L"-jvmxmx", false, L""},
        {L"-jvmxms \"\" -jvmxmx 512m", RunMode::Gui, true, L"", true, L"512m"},
        // A missing value stops parsing; what came before stays.
        {L"-i", RunMode::Gui, false, L"", false, L""},
        {L"-jvmxms", RunMode::Gui, false, L"", false, L""},
        {L"-jvmxms 256m -i", RunMode::Gui, true, L"256m", false, L""},
        {L"-i console -jvmxms 1 -jvmxmx", RunMode::Console, true, L"1", false, L""},
        {L"-jvmxmx -i silent", RunMode::Gui, false, L"", true, L"-i"},
        // "-i" with another value: that value is examined as an option.
        {L"-i -jvmxms 64m", RunMode::Gui, true, L"64m", false, L""},
        {L"-i -jvmxmx 2g -i console", RunMode::Console, false, L"", true, L"2g"},
        {L"-i -jvmxms", RunMode::Gui, false, L"", false, L""},
        {L"-i bogus -i silent", RunMode::Silent, false, L"", false, L""},
        // ...but not as "-i" again: the following "silent" is a stray token.
        {L"-i -i silent", RunMode::Gui, false, L"", false, L""},
    };
    for (const ParseCase& c : cases) {
        const Options options = Parse(c.arguments);
        SCOPED_TRACE(::testing::Message() << "arguments: [" << c.arguments << "]");
        EXPECT_EQ(options.GetRunMode(), c.mode);
        EXPECT_EQ(options.MinHeapGiven(), c.min_given);
        EXPECT_EQ(options.MinHeap(), c.min);
        EXPECT_EQ(options.MaxHeapGiven(), c.max_given);
        EXPECT_EQ(options.MaxHeap(), c.max);
        EXPECT_FALSE(options.TempDirAccepted());
    }
}

TEST_F(OptionsParsing, TempDirIsAcceptedOnlyForAnExistingDirectory) {
    ASSERT_TRUE(scratch_.Valid());
    scratch_.MakeDir(L"dir with space");
    scratch_.MakeDir(L"'apostrophe");
    scratch_.WriteFile(L"plain.txt", "x");
    const std::wstring dir = scratch_.Path();
    const std::wstring spaced = scratch_.Path(L"dir with space");
    const std::wstring file = scratch_.Path(L"plain.txt");
    const std::wstring missing = scratch_.Path(L"missing");
    // Relative names resolve against the scratch directory.
    CurrentDirGuard cwd(scratch_.Root());

    struct Case {
        std::wstring arguments;
        bool accepted;
        std::wstring text;
    };
    const std::vector<Case> cases = {
        {L"-tempdir " + dir, true, dir},
        {L"-tempdir \"" + spaced + L"\"", true, spaced},
        {L"-tempdir \"dir with space\"", true, L"dir with space"},
        {L"-tempdir " + file, false, file},
        {L"-tempdir " + missing, false, missing},
        // It exists, but a leading apostrophe is refused.
        {L"-tempdir 'apostrophe", false, L"'apostrophe"},
        {L"-tempdir \"\"", false, L""},
        {L"-tempdir", false, L""},
        {L"-tempdir " + dir + L" -tempdir " + missing, false, missing},
        {L"-tempdir " + missing + L" -tempdir " + dir, true, dir},
        {L"-i -tempdir " + dir, true, dir},
    };
    for (const Case& c : cases) {
        const Options options = Parse(c.arguments);
        SCOPED_TRACE(::testing::Message() << "arguments: [" << c.arguments << "]");
        EXPECT_EQ(options.TempDirAccepted(), c.accepted);
        EXPECT_EQ(options.TempDir(), c.text);
    }
}

// The properties file beside the executable (scratch/setup.exe).
class PropertiesFile : public ::testing::Test {
protected:
    Options Make(const std::wstring& arguments) const {
        return Options(arguments, scratch_.Path(L"setup.exe"));
    }
    ScratchDir scratch_;
};

TEST_F(PropertiesFile, IsLookedForAsInstallerThenExecutableName) {
    ASSERT_TRUE(scratch_.Valid());
    {
        const Options none = Make(L"");
        EXPECT_EQ(none.PropertiesPath(), scratch_.Path(L"setup.properties"));
        EXPECT_FALSE(none.PropertiesFileExists());
        EXPECT_EQ(none.GetRunMode(), RunMode::Gui);
    }
    scratch_.WriteFile(L"setup.properties", "installer_ui=silent\n");
    {
        const Options own_name = Make(L"");
        EXPECT_EQ(own_name.PropertiesPath(), scratch_.Path(L"setup.properties"));
        EXPECT_TRUE(own_name.PropertiesFileExists());
        EXPECT_EQ(own_name.GetRunMode(), RunMode::Silent);
    }
    scratch_.WriteFile(L"installer.properties", "installer_ui=console\n");
    {
        const Options installer = Make(L"");
        EXPECT_EQ(installer.PropertiesPath(), scratch_.Path(L"installer.properties"));
        EXPECT_EQ(installer.GetRunMode(), RunMode::Console);
    }
    scratch_.WriteFile(L"other.props", "installer_ui=swing\n");
    {
        const Options named = Make(L"-i console -f " + scratch_.Path(L"other.props"));
        EXPECT_EQ(named.PropertiesPath(), scratch_.Path(L"other.props"));
        EXPECT_EQ(named.GetRunMode(), RunMode::Gui);
        // "-f" as the value of "-i" still names the file.
        const Options via_i = Make(L"-i -f " + scratch_.Path(L"other.props") + L" -i console");
        EXPECT_EQ(via_i.PropertiesPath(), scratch_.Path(L"other.props"));
        EXPECT_EQ(via_i.GetRunMode(), RunMode::Gui);
    }
    {
        const Options missing = Make(L"-i console -f " + scratch_.Path(L"nothing.properties"));
        EXPECT_FALSE(missing.PropertiesFileExists());
        EXPECT_EQ(missing.GetRunMode(), RunMode::Console);
    }
}

TEST_F(PropertiesFile, InstallerUiLineAndPrecedence) {
    ASSERT_TRUE(scratch_.Valid());
    struct Case {
        const wchar_t* arguments;
        const char* content;
        RunMode expected;
    };
    const Case cases[] = {
        // "-i silent" wins over everything.
        {L"-i silent", "installer_ui=console\n", RunMode::Silent},
        // Otherwise the line wins over "-i console", even naming neither word.
        {L"-i console", "INSTALLER_UI=SWING\n", RunMode::Gui},
        {L"", "INSTALLER_UI=Silent\n", RunMode::Silent},
        {L"-i console", "# nothing relevant\nother=silent\n", RunMode::Console},
        // Prefix test on the whole lower-cased line, substring test for the value.
        {L"", "  installer_ui=silent\n", RunMode::Gui},
        {L"", "installer_ui : console\n", RunMode::Console},
        {L"", "installer_ui_mode=console\n", RunMode::Console},
        {L"", "installer_ui=console silent\n", RunMode::Silent},
        {L"", "installer_ui=gui # not silent\n", RunMode::Silent},
        // Only the first matching line counts.
        {L"", "#installer_ui=silent\ninstaller_ui=console\ninstaller_ui=silent\n", RunMode::Console},
        {L"", "installer_ui=console\r\ninstaller_ui=silent\r\n", RunMode::Console},
        {L"", "installer_ui=silent", RunMode::Silent},  // no final line break
        {L"-i console", "", RunMode::Console},
    };
    for (const Case& c : cases) {
        scratch_.WriteFile(L"installer.properties", c.content);
        SCOPED_TRACE(::testing::Message() << "arguments: [" << c.arguments << "] content: [" << c.content << "]");
        EXPECT_EQ(Make(c.arguments).GetRunMode(), c.expected);
    }
}

TEST_F(PropertiesFile, LinesOfAnyLengthAreReadWhole) {
    ASSERT_TRUE(scratch_.Valid());
    // A long comment whose tail holds the key must not be split into a line
    // that begins with it, wherever a fixed-size reader would cut.
    for (size_t pad : {126u, 254u, 255u, 510u, 1022u, 1023u, 4094u, 8190u, 65534u}) {
        scratch_.WriteFile(L"installer.properties", "#" + std::string(pad, 'x') + "installer_ui=silent\n");
        EXPECT_EQ(Make(L"").GetRunMode(), RunMode::Gui) << "padding " << pad;
    }
    // The value may sit far along the line.
    scratch_.WriteFile(L"installer.properties", "installer_ui=" + std::string(100000, ' ') + "console\n");
    EXPECT_EQ(Make(L"").GetRunMode(), RunMode::Console);
    // A long first line does not swallow the next one.
    scratch_.WriteFile(L"installer.properties", std::string(70000, 'y') + "\ninstaller_ui=silent\n");
    EXPECT_EQ(Make(L"").GetRunMode(), RunMode::Silent);
}

}  // namespace
