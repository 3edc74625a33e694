// The extraction's progress function: job ratios become the dialog's
// percentage; ratios without a total and text messages leave it alone.
#include <gtest/gtest.h>

#include "archive/monitor.h"
#include "dialog_test_support.h"
#include "driver/driver_test_support.h"
#include "sea/progress_dialog.h"

namespace {

class MonitorCallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dialog_.Host()) GTEST_SKIP() << "no window can be created here (no display)";
        OnInitDialog(dialog_.Host(), nullptr);
    }
    std::wstring Percent() const { return dialog_.Text(IDC_PERCENT_TEXT); }
    int Bar() const { return GetProgressPosition(dialog_.Host(), IDC_PROGRESS); }

    dialog_test::FakeServices fakes_;
    driver_test::DialogHost dialog_;
};

TEST_F(MonitorCallbackTest, HasTheLibrarysCallbackType) {
    ALMonitorCallback callback = MonitorCallback;
    callback(nullptr, -1, 42);
    EXPECT_EQ(Percent(), L"42%");
}

TEST_F(MonitorCallbackTest, JobRatioBecomesTextAndBar) {
    for (int ratio : {1, 42, 99, 100}) {
        MonitorCallback(nullptr, 3, ratio);
        EXPECT_EQ(Percent(), std::to_wstring(ratio) + L"%");
        EXPECT_EQ(Bar(), ratio);
    }
}

TEST_F(MonitorCallbackTest, ObjectRatioDoesNotCount) {
    MonitorCallback(nullptr, 80, 10);
    EXPECT_EQ(Percent(), L"10%");
    EXPECT_EQ(Bar(), 10);
}

TEST_F(MonitorCallbackTest, RatiosWithoutATotalAreIgnored) {
    MonitorCallback(nullptr, 50, 0);
    MonitorCallback(nullptr, -1, -1);
    EXPECT_EQ(Percent(), L"0%") << "the template's text stays";
    EXPECT_EQ(Bar(), 0);

    MonitorCallback(nullptr, -1, 42);
    MonitorCallback(nullptr, 100, 0);
    MonitorCallback(nullptr, -1, -1);
    MonitorCallback(L"Directory entry: Windows/install.exe", -1, -1);
    EXPECT_EQ(Percent(), L"42%") << "the last value shown stays";
    EXPECT_EQ(Bar(), 42);
}

// Reports come after every buffer; only a new value reaches the controls.
TEST_F(MonitorCallbackTest, RepeatedRatioLeavesTheControlsAlone) {
    MonitorCallback(nullptr, -1, 42);
    SetControlText(dialog_.Host(), IDC_PERCENT_TEXT, L"marker");
    MonitorCallback(nullptr, -1, 42);
    EXPECT_EQ(Percent(), L"marker");
    MonitorCallback(nullptr, -1, 43);
    EXPECT_EQ(Percent(), L"43%");
    EXPECT_EQ(Bar(), 43);
}

// A dialog created at the address of an earlier one starts from its
// template's 0%, whatever the earlier one showed.
TEST_F(MonitorCallbackTest, NewDialogStartsFromZero) {
    MonitorCallback(nullptr, -1, 42);
    SetControlText(dialog_.Host(), IDC_PERCENT_TEXT, L"0%");
    SetProgressPosition(dialog_.Host(), IDC_PROGRESS, 0);
    OnInitDialog(dialog_.Host(), nullptr);
    MonitorCallback(nullptr, -1, 42);
    EXPECT_EQ(Percent(), L"42%");
    EXPECT_EQ(Bar(), 42);
}

}  // namespace
