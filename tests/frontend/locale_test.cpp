// The front end's words in a Turkish locale. There the upper case of i is
// the dotted capital and the lower case of I is the dotless small letter, so
// case folding that follows the C runtime's locale would turn "INSTALLER_UI"
// into something that is not "installer_ui". RUX_DEBUG, the option words and
// the properties key must behave exactly as in English.
#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <string>

#include "frontend/scratch_dir.h"
#include "platform/environment.h"
#include "sea/log.h"
#include "sea/options.h"

namespace {

using frontend_test::ScratchDir;

// Switches the C runtime to a Turkish locale for one test and back.
class TurkishLocale : public ::testing::Test {
protected:
    void SetUp() override {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
        for (const char* name : {"tr_TR.UTF-8", "tr_TR.utf8", "Turkish_Turkey.1254", "tr-TR"}) {
            if (std::setlocale(LC_ALL, name)) return;
        }
        FAIL() << "no Turkish locale (scripts/test.sh generates tr_TR.UTF-8 with localedef)";
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

    Options Make(const std::wstring& arguments) const {
        return Options(arguments, scratch_.Path(L"setup.exe"));
    }

    std::string saved_;
    ScratchDir scratch_;
};

TEST_F(TurkishLocale, RuxDebugTrueInAnyLetterCase) {
    std::wstring saved;
    const bool had = GetEnvVar(L"RUX_DEBUG", 32768, saved);
    const struct {
        const wchar_t* value;
        bool on;
    } cases[] = {
        {L"true", true}, {L"TRUE", true}, {L"True", true}, {L"tRuE", true},
        {L"TRUE\u0130", false}, {L"tru\u0131e", false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetEnvVar(L"RUX_DEBUG", c.value));
        EXPECT_EQ(RuxDebugRequested(), c.on) << "RUX_DEBUG with " << std::wcslen(c.value) << " characters";
    }
    SetEnvVar(L"RUX_DEBUG", had ? saved : L"");
}

TEST_F(TurkishLocale, OptionWordsMatchExactly) {
    ASSERT_TRUE(scratch_.Valid());
    const struct {
        const wchar_t* arguments;
        RunMode mode;
    } cases[] = {
        {L"-i silent", RunMode::Silent},
        {L"-i console", RunMode::Console},
        // Neither letter case nor the dotted or dotless letters fold.
        {L"-I silent", RunMode::Gui},
        {L"-\u0130 silent", RunMode::Gui},
        {L"-\u0131 silent", RunMode::Gui},
        {L"-i SILENT", RunMode::Gui},
        {L"-i s\u0131lent", RunMode::Gui},
        {L"-i S\u0130LENT", RunMode::Gui},
        {L"-i CONSOLE", RunMode::Gui},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Make(c.arguments).GetRunMode(), c.mode) << "case " << (&c - cases);
    }
    const Options heap = Make(L"-jvmxms 256m -JVMXMX 1g -jvmxmx 2g");
    EXPECT_TRUE(heap.MinHeapGiven());
    EXPECT_EQ(heap.MinHeap(), L"256m");
    EXPECT_EQ(heap.MaxHeap(), L"2g");
    EXPECT_FALSE(Make(L"-JVMXMS 256m").MinHeapGiven());
    EXPECT_FALSE(Make(L"-tempd\u0130r " + scratch_.Path()).TempDirAccepted());
    EXPECT_TRUE(Make(L"-tempdir " + scratch_.Path()).TempDirAccepted());
}

TEST_F(TurkishLocale, InstallerUiKeyInAnyLetterCase) {
    ASSERT_TRUE(scratch_.Valid());
    const struct {
        const char* content;
        RunMode mode;
    } cases[] = {
        {"installer_ui=silent\n", RunMode::Silent},
        {"INSTALLER_UI=SILENT\n", RunMode::Silent},
        {"Installer_UI=Console\n", RunMode::Console},
        {"INSTALLER_UI=SWING\n", RunMode::Gui},
        // The Turkish letters (UTF-8) are not i: the key does not match
        // and the command line's "-i console" stays.
        {"\xC4\xB0NSTALLER_U\xC4\xB0=silent\n", RunMode::Console},
        {"\xC4\xB1nstaller_u\xC4\xB1=silent\n", RunMode::Console},
        {"installer_ui=S\xC4\xB0LENT\n", RunMode::Gui},
    };
    for (const auto& c : cases) {
        scratch_.WriteFile(L"installer.properties", c.content);
        EXPECT_EQ(Make(L"-i console").GetRunMode(), c.mode) << "content: [" << c.content << "]";
    }
}

}  // namespace
