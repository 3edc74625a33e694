// The visible states of the progress dialog and their log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_test_support.h"
#include "sea/dialog_state.h"

namespace {

using driver_test::DialogHost;
using driver_test::LogCapture;

// Expected visibility of the controls a state names.
struct Visibility {
    std::vector<int> shown;
    std::vector<int> hidden;
};

void ExpectVisibility(const DialogHost& dialog, const Visibility& v, const char* state) {
    for (int id : v.shown) EXPECT_TRUE(dialog.Shown(id)) << state << ": control " << id << " hidden";
    for (int id : v.hidden) EXPECT_FALSE(dialog.Shown(id)) << state << ": control " << id << " shown";
}

const std::wstring kPreparing = L"Quillora is preparing to install...";
const std::wstring kGetAnotherCopy = L"Please get another copy of the installer and try again.";
const std::wstring kSelectTemp = L"Please select a temporary location to extract the installer to:";
const std::wstring kSelectAnother = L"Please select another location to extract the installer to:";

class DialogStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dialog_.Host()) GTEST_SKIP() << "no window can be created here (no display)";
        ShowInitialState();
    }
    LogCapture log_;
    DialogHost dialog_;
};

TEST_F(DialogStateTest, Initial) {
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), kPreparing);
    EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), L"");
    EXPECT_EQ(dialog_.Text(IDC_PERCENT_TEXT), L"0%");
    ExpectVisibility(dialog_,
                     {{IDC_ACTIVITY_TEXT, IDC_PROGRESS, IDC_PERCENT_TEXT, IDC_ICON_NORMAL},
                      {IDC_CHOOSE, IDC_ICON_ERROR, IDC_ICON_WARNING, IDC_OK}},
                     "initial");
    // The bar counts percent, one at a time.
    int low = -1;
    int high = -1;
    ASSERT_TRUE(dialog_.Range(IDC_PROGRESS, &low, &high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    EXPECT_EQ(dialog_.Step(IDC_PROGRESS), 1);
}

TEST_F(DialogStateTest, PreparingAfterAnError) {
    ShowError(IDS_NOT_ENOUGH_ROOM);
    ShowPreparing();
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), kPreparing);
    EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), L"");
    ExpectVisibility(dialog_,
                     {{IDC_ACTIVITY_TEXT, IDC_PERCENT_TEXT, IDC_ICON_NORMAL, IDC_PROGRESS, IDC_SECOND_TEXT},
                      {IDC_CHOOSE, IDC_ICON_ERROR, IDC_ICON_WARNING}},
                     "preparing");
    EXPECT_EQ(log_.Lines().back(), "Dialog: Preparing to install...");
}

// The three ids that concern space offer another folder; the extraction
// itself passes only 14.
TEST_F(DialogStateTest, SpaceErrorsOfferChoose) {
    struct {
        int id;
        const char* text;
    } const cases[] = {
        {IDS_NO_TEMP_SPACE, "There is not enough free disk space in the temporary folder."},
        {IDS_NOT_ENOUGH_ROOM, "Not enough room for a complete install."},
        {IDS_OUT_OF_SPACE_CREATING, "We ran out of space while creating the compressed file."},
    };
    for (const auto& c : cases) {
        ShowError(IDS_CANNOT_EXECUTE);  // Choose... hidden before: must come
        ShowError(c.id);
        const std::string state = "error " + std::to_string(c.id);
        EXPECT_EQ(driver_test::Narrow(dialog_.Text(IDC_MAIN_TEXT)), c.text) << state;
        EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), kSelectTemp) << state;
        ExpectVisibility(dialog_,
                         {{IDC_SECOND_TEXT, IDC_ICON_ERROR, IDC_CHOOSE},
                          {IDC_PERCENT_TEXT, IDC_ICON_NORMAL, IDC_ICON_WARNING, IDC_PROGRESS,
                           IDC_ACTIVITY_TEXT}},
                         state.c_str());
        const std::vector<std::string> lines = log_.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
                  (std::vector<std::string>{
                      "*** Error " + std::to_string(c.id) + ": '" + c.text + "' ***",
                      "*** Secondary error string: 'Please select a temporary location to "
                      "extract the installer to:' ***"}))
            << state;
    }
}

TEST_F(DialogStateTest, OtherErrorsAskForAnotherCopy) {
    struct {
        int id;
        const wchar_t* text;
    } const cases[] = {
        {IDS_CANNOT_EXTRACT, L"Unable to extract the compressed file."},
        {IDS_NO_EXE_NAME_BUFFER, L"There is no EXE name buffer to be found."},
        {IDS_CANNOT_CHECK_SPACE, L"Unable check free space."},
        {IDS_CANNOT_EXECUTE, L"Unable to execute the desired program."},
    };
    for (const auto& c : cases) {
        ShowError(IDS_NOT_ENOUGH_ROOM);  // Choose... shown before: must go
        ShowError(c.id);
        EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), c.text);
        EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), kGetAnotherCopy);
        ExpectVisibility(dialog_,
                         {{IDC_SECOND_TEXT, IDC_ICON_ERROR},
                          {IDC_CHOOSE, IDC_PERCENT_TEXT, IDC_ICON_NORMAL, IDC_ICON_WARNING, IDC_PROGRESS,
                           IDC_ACTIVITY_TEXT}},
                         "error");
        std::vector<std::string> lines = log_.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2],
                  "*** Error " + std::to_string(c.id) + ": '" + driver_test::Narrow(c.text) + "' ***");
        EXPECT_EQ(lines.back(), "*** Secondary error string: '" + driver_test::Narrow(kGetAnotherCopy) + "' ***");
    }
}

TEST_F(DialogStateTest, AskForTempLocation) {
    AskForTempLocation();
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), L"There is not enough free disk space in the temporary folder.");
    EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), kSelectTemp);
    ExpectVisibility(dialog_, {{IDC_SECOND_TEXT, IDC_CHOOSE, IDC_ICON_NORMAL},
                               {IDC_ACTIVITY_TEXT, IDC_PERCENT_TEXT, IDC_PROGRESS}},
                     "ask for location");
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "Dialog: There is not enough free disk in the temporary folder.",
                                "Dialog: Please select a temporary location to extract the installer to:"}));
}

TEST_F(DialogStateTest, AskForAnotherLocation) {
    AskForAnotherLocation(L"Unable to create the path pointer file (sea_loc).");
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), L"Unable to create the path pointer file (sea_loc).");
    EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), kSelectAnother);
    ExpectVisibility(dialog_, {{IDC_SECOND_TEXT, IDC_CHOOSE, IDC_ICON_WARNING},
                               {IDC_ACTIVITY_TEXT, IDC_PERCENT_TEXT, IDC_ICON_NORMAL, IDC_PROGRESS}},
                     "ask for another location");
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "Dialog: Please select another location to extract the installer to:"}));
    AskForAnotherLocation(L"");
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), L"");
}

TEST_F(DialogStateTest, UpdatePercent) {
    UpdatePercent(42);
    EXPECT_EQ(dialog_.Text(IDC_PERCENT_TEXT), L"42%");
    EXPECT_EQ(GetProgressPosition(dialog_.Host(), IDC_PROGRESS), 42);
    UpdatePercent(100);
    EXPECT_EQ(dialog_.Text(IDC_PERCENT_TEXT), L"100%");
    EXPECT_EQ(GetProgressPosition(dialog_.Host(), IDC_PROGRESS), 100);
    EXPECT_TRUE(log_.Lines().empty()) << "the percentage is not logged";
}

TEST(DialogStateWithoutDialog, ControlsUntouchedLinesStillLogged) {
    LogCapture log;
    ASSERT_EQ(g_run.dialog, nullptr);
    ShowPreparing();
    ShowError(IDS_CANNOT_EXECUTE);
    AskForTempLocation();
    AskForAnotherLocation(L"text");
    UpdatePercent(50);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "Dialog: Preparing to install...",
                               "*** Error 18: 'Unable to execute the desired program.' ***",
                               "*** Secondary error string: 'Please get another copy of the installer "
                               "and try again.' ***",
                               "Dialog: There is not enough free disk in the temporary folder.",
                               "Dialog: Please select a temporary location to extract the installer to:",
                               "Dialog: Please select another location to extract the installer to:"}));
}

}  // namespace
