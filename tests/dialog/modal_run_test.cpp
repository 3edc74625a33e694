// The whole modal run with the platform's own dialog: the template's
// dialog on Windows (under a display), the headless dialog elsewhere. Only
// the extraction driver is a stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "platform/dialog_controls.h"
#include "platform/dialog_host.h"
#include "platform/message_pump.h"
#include "resources/resource_ids.h"
#include "sea/progress_dialog.h"

namespace {

using dialog_test::FakeServices;

// What the driver found when the first timer tick ran it.
struct DialogSeen {
    bool present = false;
    std::vector<int> shown;
    std::wstring percent;
    int bar = -1;
};

DialogSeen Look() {
    DialogSeen seen;
    seen.present = g_run.dialog != nullptr;
    for (int id : {IDC_OK, IDC_CANCEL, IDC_CHOOSE, IDC_PROGRESS, IDC_PERCENT_TEXT, IDC_ICON_NORMAL,
                   IDC_ICON_ERROR, IDC_ICON_WARNING}) {
        if (IsControlShown(g_run.dialog, id)) seen.shown.push_back(id);
    }
    seen.percent = GetControlText(g_run.dialog, IDC_PERCENT_TEXT);
    seen.bar = GetProgressPosition(g_run.dialog, IDC_PROGRESS);
    return seen;
}

TEST(ModalRun, StartedLauncherEndsTheDialog) {
    FakeServices fakes(FakeServices::kExtractOnly);
    DialogSeen seen;
    fakes.Calls().extract = [&seen] {
        seen = Look();
        return 1;
    };
    g_run.chosen_folder = L"stale";

    if (!RunProgressDialog(nullptr)) GTEST_SKIP() << "the dialog cannot be shown here (no display)";

    EXPECT_EQ(fakes.Calls().calls, (std::vector<std::string>{"extract"}));
    EXPECT_EQ(fakes.Calls().chosen_at_extract, (std::vector<std::wstring>{L""}));
    EXPECT_TRUE(seen.present);
    EXPECT_EQ(seen.shown, (std::vector<int>{IDC_CANCEL, IDC_PROGRESS, IDC_PERCENT_TEXT, IDC_ICON_NORMAL}));
    EXPECT_EQ(seen.percent, L"0%");
    EXPECT_EQ(seen.bar, 0);
    EXPECT_EQ(g_run.ExitInEffect, 0);
    EXPECT_EQ(g_run.dialog, nullptr) << "no dialog after the run";
}

// A button press that arrives while the driver runs is dispatched by the
// message pump of the driver's progress reports: the flag is up before the
// driver returns, and the dialog ends after it.
TEST(ModalRun, AbortDuringTheExtractionEndsTheDialog) {
    for (int command : {IDC_CANCEL, IDC_OK}) {
        FakeServices fakes(FakeServices::kExtractOnly);
        int flag_during = -1;
        fakes.Calls().extract = [&flag_during, command] {
            PostDialogCommand(g_run.dialog, command);
            // The storages pump on every buffer; the pump looks at the
            // queue at most every 20 ms.
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!g_run.ExitInEffect && std::chrono::steady_clock::now() < give_up) {
                PumpPendingMessages();
            }
            flag_during = g_run.ExitInEffect;
            return 0;
        };

        if (!RunProgressDialog(nullptr)) GTEST_SKIP() << "the dialog cannot be shown here (no display)";

        EXPECT_EQ(flag_during, 1) << "command " << command;
        EXPECT_EQ(g_run.ExitInEffect, 1) << "command " << command;
        EXPECT_EQ(fakes.Calls().calls, (std::vector<std::string>{"extract"}));
    }
}

#ifndef _WIN32
// Nobody can answer a headless dialog: after a failed extraction it ends as
// if cancelled, after exactly one run of the driver.
TEST(ModalRun, HeadlessDialogLeftWaitingEndsAsCancelled) {
    FakeServices fakes(FakeServices::kExtractOnly);
    fakes.Calls().extract = [] { return 0; };

    ASSERT_TRUE(RunProgressDialog(nullptr));

    EXPECT_EQ(fakes.Calls().calls, (std::vector<std::string>{"extract"}));
    EXPECT_EQ(g_run.ExitInEffect, 1);
    EXPECT_EQ(g_run.dialog, nullptr);
}
#endif

}  // namespace
