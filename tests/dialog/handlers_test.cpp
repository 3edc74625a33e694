// The progress dialog's handlers, one event at a time, against a stand-in
// dialog with the template's controls and recording fakes for the driver,
// the folder browser, the timer and the end of the dialog.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "driver/driver_test_support.h"
#include "sea/progress_dialog.h"

namespace {

using dialog_test::FakeServices;
using Calls = std::vector<std::string>;

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dialog_.Host()) GTEST_SKIP() << "no window can be created here (no display)";
    }
    void* Dialog() const { return dialog_.Host(); }
    dialog_test::Recorder& R() { return fakes_.Calls(); }

    FakeServices fakes_;
    driver_test::DialogHost dialog_;
};

TEST_F(HandlerTest, InitStoresInstanceAndDialogAndStartsTheOneShotTimer) {
    g_run.dialog = nullptr;
    int module = 0;
    SetControlText(Dialog(), IDC_SECOND_TEXT, L"left over");

    EXPECT_TRUE(OnInitDialog(Dialog(), &module));

    EXPECT_EQ(g_run.instance, &module);
    EXPECT_EQ(g_run.dialog, Dialog());
    EXPECT_EQ(R().calls, (Calls{"start 1 100"}));
    EXPECT_EQ(dialog_.Text(IDC_MAIN_TEXT), L"Quillora is preparing to install...");
    EXPECT_EQ(dialog_.Text(IDC_SECOND_TEXT), L"");
    EXPECT_EQ(dialog_.Text(IDC_PERCENT_TEXT), L"0%");
    EXPECT_EQ(GetProgressPosition(Dialog(), IDC_PROGRESS), 0);
    for (int id : {IDC_CANCEL, IDC_ACTIVITY_TEXT, IDC_PROGRESS, IDC_PERCENT_TEXT, IDC_ICON_NORMAL}) {
        EXPECT_TRUE(dialog_.Shown(id)) << "control " << id;
    }
    // The template shows all three icons; initialisation keeps only one.
    for (int id : {IDC_OK, IDC_CHOOSE, IDC_ICON_ERROR, IDC_ICON_WARNING}) {
        EXPECT_FALSE(dialog_.Shown(id)) << "control " << id;
    }
    EXPECT_EQ(g_run.ExitInEffect, 0);
}

// The dialog is shown before the driver takes the thread, even when the
// tick came before the dialog's first idle moment.
TEST_F(HandlerTest, TimerKillsItselfShowsTheDialogAndRunsTheDriverWithAnEmptyChosenFolder) {
    struct {
        int driver_result;
        Calls calls;
    } const cases[] = {
        {0, {"kill 1", "show", "extract"}},           // failure: the dialog stays open
        {1, {"kill 1", "show", "extract", "end 0"}},  // launcher started: the dialog ends
    };
    for (const auto& c : cases) {
        R().calls.clear();
        R().chosen_at_extract.clear();
        R().extract = [&c] { return c.driver_result; };
        g_run.chosen_folder = L"D:\\picked before";

        EXPECT_FALSE(OnTimer(Dialog(), kExtractionTimerId));

        EXPECT_EQ(R().calls, c.calls) << "driver result " << c.driver_result;
        EXPECT_EQ(R().chosen_at_extract, (std::vector<std::wstring>{L""}));
        EXPECT_EQ(g_run.ExitInEffect, 0);
    }
}

TEST_F(HandlerTest, OkAndCancelAbortAndEndTheDialog) {
    // 1: OK, never shown, sent by Enter. 2: Cancel, Escape and the close box.
    for (int command : {IDC_OK, IDC_CANCEL}) {
        g_run.ExitInEffect = 0;
        R().calls.clear();
        EXPECT_TRUE(OnCommand(Dialog(), command));
        EXPECT_EQ(g_run.ExitInEffect, 1) << "command " << command;
        EXPECT_EQ(R().calls, (Calls{"end 0"})) << "command " << command;
        EXPECT_EQ(R().dialog_seen, Dialog());
    }
}

TEST_F(HandlerTest, OtherCommandsAreLeftToTheDefaultHandling) {
    for (int command : {0, IDC_MAIN_TEXT, IDC_FOOTER, IDC_PROGRESS, 0xFFFF}) {
        EXPECT_FALSE(OnCommand(Dialog(), command)) << "command " << command;
    }
    EXPECT_TRUE(R().calls.empty());
    EXPECT_EQ(g_run.ExitInEffect, 0);
}

TEST_F(HandlerTest, ChooseCancelledInTheBrowserChangesNothing) {
    g_run.chosen_folder = L"C:\\kept";
    R().browse = [](std::wstring&) { return false; };

    EXPECT_FALSE(OnCommand(Dialog(), IDC_CHOOSE));

    EXPECT_EQ(R().calls, (Calls{"browse"}));
    EXPECT_EQ(R().browse_owner, Dialog());
    EXPECT_EQ(R().browse_title, L"Select a temporary folder for this installation");
    EXPECT_EQ(g_run.chosen_folder, L"C:\\kept");
    EXPECT_EQ(g_run.ExitInEffect, 0);
}

TEST_F(HandlerTest, ChooseRunsTheDriverInThePickedFolder) {
    struct {
        int driver_result;
        Calls calls;
    } const cases[] = {
        {0, {"browse", "extract"}},
        {1, {"browse", "extract", "end 0"}},
    };
    for (const auto& c : cases) {
        R().calls.clear();
        R().chosen_at_extract.clear();
        R().browse = [](std::wstring& folder) {
            folder = L"E:\\Spare Room";
            return true;
        };
        R().extract = [&c] { return c.driver_result; };

        EXPECT_FALSE(OnCommand(Dialog(), IDC_CHOOSE));

        EXPECT_EQ(R().calls, c.calls) << "driver result " << c.driver_result;
        EXPECT_EQ(R().chosen_at_extract, (std::vector<std::wstring>{L"E:\\Spare Room"}));
    }
}

TEST_F(HandlerTest, ChooseKeepsAtMost259CharactersOfTheFolder) {
    const std::wstring long_folder = L"C:\\" + std::wstring(300, L'x');
    R().browse = [&long_folder](std::wstring& folder) {
        folder = long_folder;
        return true;
    };
    OnCommand(Dialog(), IDC_CHOOSE);
    ASSERT_EQ(R().chosen_at_extract.size(), 1u);
    EXPECT_EQ(R().chosen_at_extract[0], long_folder.substr(0, 259));
}

// The three state icons, each from its own resource, in the image made for
// the dialog's scale: at initialisation, and again after a change of scale
// (here a control left with the wrong icon stands for a stale image).
TEST_F(HandlerTest, IconsAreLoadedForTheScaleAtInitAndAfterAScaleChange) {
    const struct {
        int control;
        int icon;
    } icons[] = {{IDC_ICON_NORMAL, IDI_SEA_APPLICATION}, {IDC_ICON_ERROR, IDI_SEA_ERROR},
                 {IDC_ICON_WARNING, IDI_SEA_WARNING}};
    const int size = IconSizeForDpi(DialogDpi(Dialog()));
    EXPECT_EQ(IconSizeForDpi(96), 32);
    EXPECT_EQ(IconSizeForDpi(120), 40);
    EXPECT_EQ(IconSizeForDpi(144), 48);
    EXPECT_EQ(IconSizeForDpi(192), 64);

    ASSERT_TRUE(OnInitDialog(Dialog(), nullptr));
    for (const auto& i : icons) {
        EXPECT_EQ(GetControlIcon(Dialog(), i.control).resource, i.icon) << "control " << i.control;
        EXPECT_EQ(GetControlIcon(Dialog(), i.control).size, size) << "control " << i.control;
    }

    SetControlIcon(Dialog(), IDC_ICON_NORMAL, nullptr, IDI_SEA_ERROR);
    DialogEvent rescaled{DialogEventKind::kScaleChanged};
    EXPECT_FALSE(ProgressDialogProc(Dialog(), rescaled)) << "the platform's rescaling goes on";
    for (const auto& i : icons) {
        EXPECT_EQ(GetControlIcon(Dialog(), i.control).resource, i.icon) << "control " << i.control;
        EXPECT_EQ(GetControlIcon(Dialog(), i.control).size, size) << "control " << i.control;
    }
    // Visibility is the state's business, not the icons'.
    EXPECT_TRUE(dialog_.Shown(IDC_ICON_NORMAL));
    EXPECT_FALSE(dialog_.Shown(IDC_ICON_ERROR));
}

TEST_F(HandlerTest, OnlyTheFooterIsOwnerDrawn) {
    EXPECT_TRUE(OnDrawItem(Dialog(), IDC_FOOTER, nullptr));
    for (int id : {IDC_OK, IDC_CANCEL, IDC_CHOOSE, IDC_PROGRESS}) {
        EXPECT_FALSE(OnDrawItem(Dialog(), id, nullptr)) << "control " << id;
    }
}

TEST(FooterLayout, RightToLeftOnlyForHebrewAndArabicCodePages) {
    struct {
        unsigned code_page;
        ItemTextLayout layout;
    } const cases[] = {
        {1255, ItemTextLayout::kRightToLeft},  // Hebrew
        {1256, ItemTextLayout::kRightToLeft},  // Arabic
        {1252, ItemTextLayout::kWordBreak},    // Western
        {1251, ItemTextLayout::kWordBreak},    // Cyrillic
        {1254, ItemTextLayout::kWordBreak},    // neighbours of the two
        {1257, ItemTextLayout::kWordBreak},
        {932, ItemTextLayout::kWordBreak},     // Japanese
        {65001, ItemTextLayout::kWordBreak},
        {0, ItemTextLayout::kWordBreak},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FooterLayout(c.code_page), c.layout) << "code page " << c.code_page;
    }
}

TEST_F(HandlerTest, ProcedureDispatchesEachEventToItsHandler) {
    g_run.dialog = nullptr;
    DialogEvent init{DialogEventKind::kInit};
    EXPECT_TRUE(ProgressDialogProc(Dialog(), init));
    EXPECT_EQ(g_run.dialog, Dialog());

    DialogEvent tick{DialogEventKind::kTimer};
    tick.id = kExtractionTimerId;
    EXPECT_FALSE(ProgressDialogProc(Dialog(), tick));

    DialogEvent draw{DialogEventKind::kDrawItem};
    draw.id = IDC_FOOTER;
    EXPECT_TRUE(ProgressDialogProc(Dialog(), draw));
    draw.id = IDC_MAIN_TEXT;
    EXPECT_FALSE(ProgressDialogProc(Dialog(), draw));

    DialogEvent cancel{DialogEventKind::kCommand};
    cancel.id = IDC_CANCEL;
    EXPECT_TRUE(ProgressDialogProc(Dialog(), cancel));
    EXPECT_EQ(g_run.ExitInEffect, 1);

    EXPECT_EQ(R().calls, (Calls{"start 1 100", "kill 1", "show", "extract", "end 0"}));
}

}  // namespace
