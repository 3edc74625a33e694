// The extraction's progress function: job ratios become the dialog's
// percentage; ratios without a total and text messages leave it alone; new
// values reach the controls at most once per interval, 100 always.
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
    void Wait(int64_t ms) { fakes_.Calls().now_ms += ms; }
    // A report one interval after the last one.
    void Report(int32_t object_ratio, int32_t job_ratio, const wchar_t* text = nullptr) {
        Wait(kPercentIntervalMs);
        MonitorCallback(text, object_ratio, job_ratio);
    }

    dialog_test::FakeServices fakes_;
    driver_test::DialogHost dialog_;
};

TEST_F(MonitorCallbackTest, HasTheLibrarysCallbackType) {
    ALMonitorCallback callback = MonitorCallback;
    callback(nullptr, -1, 42);
    EXPECT_EQ(Percent(), L"42%") << "the first report shows at once";
}

TEST_F(MonitorCallbackTest, JobRatioBecomesTextAndBar) {
    for (int ratio : {1, 42, 99, 100}) {
        Report(3, ratio);
        EXPECT_EQ(Percent(), std::to_wstring(ratio) + L"%");
        EXPECT_EQ(Bar(), ratio);
    }
}

TEST_F(MonitorCallbackTest, ObjectRatioDoesNotCount) {
    Report(80, 10);
    EXPECT_EQ(Percent(), L"10%");
    EXPECT_EQ(Bar(), 10);
}

TEST_F(MonitorCallbackTest, RatiosWithoutATotalAreIgnored) {
    Report(50, 0);
    Report(-1, -1);
    EXPECT_EQ(Percent(), L"0%") << "the template's text stays";
    EXPECT_EQ(Bar(), 0);

    Report(-1, 42);
    Report(100, 0);
    Report(-1, -1);
    Report(-1, -1, L"Directory entry: Windows/install.exe");
    EXPECT_EQ(Percent(), L"42%") << "the last value shown stays";
    EXPECT_EQ(Bar(), 42);
}

// Reports come after every buffer; the same value never reaches the
// controls twice.
TEST_F(MonitorCallbackTest, RepeatedRatioLeavesTheControlsAlone) {
    Report(-1, 42);
    SetControlText(dialog_.Host(), IDC_PERCENT_TEXT, L"marker");
    Report(-1, 42);
    EXPECT_EQ(Percent(), L"marker");
    Report(-1, 43);
    EXPECT_EQ(Percent(), L"43%");
    EXPECT_EQ(Bar(), 43);
}

TEST_F(MonitorCallbackTest, NewValuesWaitForTheInterval) {
    Report(-1, 10);
    Wait(kPercentIntervalMs / 2);
    MonitorCallback(nullptr, -1, 11);
    EXPECT_EQ(Percent(), L"10%") << "too soon after 10%";
    EXPECT_EQ(Bar(), 10);
    Wait(kPercentIntervalMs / 2);
    MonitorCallback(nullptr, -1, 12);
    EXPECT_EQ(Percent(), L"12%") << "one interval after 10%";
    EXPECT_EQ(Bar(), 12);
}

TEST_F(MonitorCallbackTest, HundredShowsAtOnce) {
    Report(-1, 99);
    Wait(1);
    MonitorCallback(nullptr, -1, 100);
    EXPECT_EQ(Percent(), L"100%");
    EXPECT_EQ(Bar(), 100);
}

// A dialog created at the address of an earlier one starts from its
// template's 0%, whatever the earlier one showed.
TEST_F(MonitorCallbackTest, NewDialogStartsFromZero) {
    Report(-1, 42);
    SetControlText(dialog_.Host(), IDC_PERCENT_TEXT, L"0%");
    SetProgressPosition(dialog_.Host(), IDC_PROGRESS, 0);
    OnInitDialog(dialog_.Host(), nullptr);
    MonitorCallback(nullptr, -1, 42);
    EXPECT_EQ(Percent(), L"42%");
    EXPECT_EQ(Bar(), 42);
}

}  // namespace
