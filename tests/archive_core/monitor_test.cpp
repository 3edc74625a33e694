#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "test_support.h"

namespace {

struct Call {
    std::wstring text;  // "<null>" when no text was passed
    int32_t object_ratio;
    int32_t job_ratio;
};

std::vector<Call>& Calls() {
    static std::vector<Call> calls;
    return calls;
}

int RecordCall(const wchar_t* text, int32_t object_ratio, int32_t job_ratio) {
    Calls().push_back({text ? std::wstring(text) : std::wstring(L"<null>"), object_ratio, job_ratio});
    return 12345;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { Calls().clear(); }
};

}  // namespace

TEST(Monitor, PercentageRule) {
    const struct {
        uint32_t done;
        uint32_t total;
        int32_t percent;
    } kCases[] = {
        {0, 0, -1},
        {123, 0, -1},
        {500000, 999999, 50},
        {500000, 1000000, 50},
        {2147483647u, 4294967295u, 50},
        {4294967295u, 4294967295u, 100},
        {1, 3, 33},
        {999999, 999999, 100},
        {42949672, 999999, 4294},  // the largest done whose product fits
        {1000, 100, 1000},
        {0, 1, 0},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ALMonitor::Percentage(c.done, c.total), c.percent) << c.done << "/" << c.total;
    }
}

TEST(Monitor, ConstructorModeAndTextFlag) {
    const struct {
        int32_t argument;
        bool job;
        bool text;
    } kCases[] = {{0x0101, true, true}, {1, true, false}, {0, false, false},
                  {0x8000, false, true}, {0x0002, false, false}};
    for (const auto& c : kCases) {
        ALMonitor monitor(c.argument);
        EXPECT_EQ(monitor.IsJobLevel(), c.job) << c.argument;
        EXPECT_EQ(monitor.SendsTextMessages(), c.text) << c.argument;
        EXPECT_EQ(monitor.object_size, -1);
        EXPECT_EQ(monitor.object_start, 0);
        EXPECT_EQ(monitor.job_total, 0u);
        EXPECT_EQ(monitor.job_done, 0u);
    }
    ALSimpleMonitor simple(RecordCall);
    EXPECT_TRUE(simple.IsJobLevel());
    EXPECT_FALSE(simple.SendsTextMessages());
    EXPECT_FALSE(DefaultMonitor().IsJobLevel());
    EXPECT_FALSE(DefaultMonitor().SendsTextMessages());
}

TEST(Monitor, ObjectSizeTakenFromStorageAtFirstReport) {
    MemoryStorage storage(std::string(1000, 'x'));
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    ALMonitor monitor(AL_MONITOR_OBJECT);
    monitor.object_start = 100;
    monitor.UpdateProgress(600, storage);
    EXPECT_EQ(monitor.object_size, 1000);
    EXPECT_EQ(monitor.bytes_done, 500);
    EXPECT_EQ(monitor.ratio, 50);
    storage.size = 5;  // taken once only
    monitor.UpdateProgress(350, storage);
    EXPECT_EQ(monitor.ratio, 25);
}

TEST(Monitor, JobLevelCountsEarlierObjectsAndZeroTotal) {
    MemoryStorage storage;
    ALMonitor monitor(AL_MONITOR_JOB);
    monitor.object_start = 40;
    monitor.object_size = 100;
    monitor.UpdateProgress(90, storage);
    EXPECT_EQ(monitor.ratio, -1);
    monitor.job_total = 1000;
    monitor.job_done = 250;
    monitor.UpdateProgress(90, storage);
    EXPECT_EQ(monitor.bytes_done, 300);
    EXPECT_EQ(monitor.ratio, 30);
}

TEST_F(MonitorTest, SimpleMonitorReportsEveryBufferLoad) {
    MemoryStorage storage(PatternBytes(64));
    ALSimpleMonitor monitor(RecordCall);
    monitor.job_total = 128;
    monitor.job_done = 64;
    monitor.object_start = 0;
    monitor.object_size = 64;
    storage.SetMonitor(&monitor);
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    uint8_t bytes[64];
    ASSERT_EQ(storage.ReadBuffer(bytes, 64), 64);
    ASSERT_EQ(Calls().size(), 4u);
    // Each load reports the position of its first byte.
    const int32_t kObject[] = {0, 25, 50, 75};
    const int32_t kJob[] = {50, 62, 75, 87};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Calls()[i].text, L"<null>");
        EXPECT_EQ(Calls()[i].object_ratio, kObject[i]);
        EXPECT_EQ(Calls()[i].job_ratio, kJob[i]);
    }
    storage.SetMonitor(nullptr);
    storage.Seek(0);
    EXPECT_EQ(Calls().size(), 4u);
}

TEST_F(MonitorTest, SimpleMonitorWithoutCallbackStaysQuiet) {
    MemoryStorage storage(PatternBytes(20));
    ALSimpleMonitor monitor(nullptr);
    monitor.job_total = 20;
    storage.SetMonitor(&monitor);
    ASSERT_EQ(storage.Open(), AL_NO_ERRORS);
    uint8_t bytes[20];
    EXPECT_EQ(storage.ReadBuffer(bytes, 20), 20);
    EXPECT_EQ(monitor.ratio, 80);
    monitor.NotifyOperation(EntryExtractBegin, nullptr, nullptr);
    monitor.flags |= ALMonitor::kTextMessages;
    monitor.ShowMessage(DirectoryEntryText, L"%s", L"x");
    EXPECT_TRUE(Calls().empty());
}

TEST_F(MonitorTest, EntryBeginEventsPassTheMemberName) {
    ALEntry sentinel(nullptr);
    ALEntry* entry = new ALEntry(nullptr, sentinel, new ALFile(L"Windows/install.exe"), nullptr,
                                 nullptr, nullptr);
    ALSimpleMonitor monitor(RecordCall);
    for (int event : {0, 1, 2, 3, 4, 5, 6, 10, 11, 12}) {
        monitor.NotifyOperation(static_cast<ALMonitorEvent>(event), nullptr, entry);
    }
    monitor.NotifyOperation(EntryExtractBegin, nullptr, nullptr);  // no entry: nothing
    ASSERT_EQ(Calls().size(), 3u);
    for (const Call& call : Calls()) {
        EXPECT_EQ(call.text, L"Windows/install.exe");
        EXPECT_EQ(call.object_ratio, -1);
        EXPECT_EQ(call.job_ratio, -1);
    }
    delete entry;
}

TEST_F(MonitorTest, TextMessagesOnlyWhenSwitchedOn) {
    ALSimpleMonitor monitor(RecordCall);
    monitor.ShowMessage(DirectoryEntryText, L"%s", L"Windows/install.exe");
    EXPECT_TRUE(Calls().empty());
    monitor.flags |= ALMonitor::kTextMessages;
    const struct {
        int32_t number;
        const wchar_t* text;
    } kCases[] = {{12, L"Directory entry: Windows/install.exe"},
                  {13, L"Wild card match: Windows/install.exe"},
                  {14, L"Sorting entries"},
                  {15, L"Done sorting entries"},
                  {16, L"Sorting is Windows/install.exe complete"},
                  {99, L"Bad monitor message type!!!"},
                  {2, L"Bad monitor message type!!!"}};
    for (const auto& c : kCases) {
        Calls().clear();
        monitor.ShowMessage(c.number, L"%s", L"Windows/install.exe");
        ASSERT_EQ(Calls().size(), 1u) << c.number;
        EXPECT_EQ(Calls()[0].text, c.text);
        EXPECT_EQ(Calls()[0].object_ratio, -1);
        EXPECT_EQ(Calls()[0].job_ratio, -1);
    }
}

TEST_F(MonitorTest, MessageArgumentsAreNeverFormats) {
    ALSimpleMonitor monitor(RecordCall);
    monitor.flags |= ALMonitor::kTextMessages;
    monitor.ShowMessage(SortProgressText, L"%d%%", 40);
    monitor.ShowMessage(DirectoryEntryText, L"%s", L"100% %s %d");
    ASSERT_EQ(Calls().size(), 2u);
    EXPECT_EQ(Calls()[0].text, L"Sorting is 40% complete");
    EXPECT_EQ(Calls()[1].text, L"Directory entry: 100% %s %d");
}

TEST_F(MonitorTest, LongMessagesAreCutAt256Characters) {
    ALSimpleMonitor monitor(RecordCall);
    monitor.flags |= ALMonitor::kTextMessages;
    const std::wstring name(600, L'n');
    monitor.ShowMessage(DirectoryEntryText, L"%s", name.c_str());
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0].text, L"Directory entry: " + std::wstring(256 - 17, L'n'));
}

