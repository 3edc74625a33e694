// How the payload's entries are split between the two extraction threads.
// (The files, results and texts of extraction on two threads are compared
// with one thread's for every case of the hostile catalogue.)
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sea/extract_lanes.h"

namespace {

constexpr uint64_t MiB = 1u << 20;

TEST(PlanLanes, OneThreadWhenASecondCannotHelp) {
    const std::vector<LaneItem> two = {{500, 0}, {400, 0}};
    EXPECT_TRUE(PlanLanes({{500, 0}}, kLanesMemory, 0).empty());
    EXPECT_TRUE(PlanLanes(two, kLanesMemory, 901).empty());  // too little work
    EXPECT_FALSE(PlanLanes(two, kLanesMemory, 900).empty());
    // Nothing may run beside an entry that needs the whole budget.
    EXPECT_TRUE(PlanLanes({{500, kLanesMemory}, {400, 0}}, kLanesMemory, 0).empty());
    // Entries that must keep their order leave the worker nothing.
    EXPECT_TRUE(PlanLanes({{500, 0, false}, {400, 0, false}}, kLanesMemory, 0).empty());
}

TEST(PlanLanes, BalancesTheCostsLargestFirst) {
    const uint64_t costs[] = {100, 400, 300, 10, 10};
    std::vector<LaneItem> items;
    for (uint64_t cost : costs) items.push_back({cost, 0});
    const std::vector<bool> plan = PlanLanes(items, kLanesMemory, 0);
    ASSERT_EQ(plan.size(), 5u);
    uint64_t load[2] = {0, 0};
    for (size_t i = 0; i < 5; ++i) load[plan[i]] += costs[i];
    EXPECT_EQ(load[0], load[1]);
    EXPECT_NE(plan[1], plan[2]);  // the two largest start at once
}

// Whatever the entries, two that may run at once fit the budget together,
// and entries that must keep their order stay on the driver's thread.
TEST(PlanLanes, NeverPairsDecodersBeyondTheBudget) {
    std::mt19937 random(7);
    const uint64_t needs[] = {0, 64u << 10, 2 * MiB, 8 * MiB + 16384, 9 * MiB + 1, 12 * MiB, 16 * MiB, 18 * MiB};
    for (int round = 0; round < 500; ++round) {
        std::vector<LaneItem> items(2 + random() % 12);
        for (LaneItem& item : items) {
            item = {1 + random() % 1000, needs[random() % 8], random() % 5 != 0};
        }
        const std::vector<bool> plan = PlanLanes(items, kLanesMemory, 0);
        for (size_t w = 0; w < plan.size(); ++w) {
            if (!plan[w]) continue;
            EXPECT_TRUE(items[w].independent);
            for (size_t d = 0; d < plan.size(); ++d) {
                if (plan[d]) continue;
                EXPECT_LE(items[w].memory + items[d].memory, kLanesMemory) << round;
            }
        }
    }
}

TEST(IndependentNames, EntriesWhoseNamesMeetKeepTheirOrder) {
    const struct {
        std::vector<std::wstring> names;
        std::vector<bool> independent;
    } rows[] = {
        {{L"a/x.txt", L"a/y.txt", L"b.txt"}, {true, true, true}},  // a shared folder is no meeting
        {{L"link", L"link/escape.txt", L"good.txt"}, {false, false, true}},
        {{L"same.txt", L"dir/", L"same.txt"}, {false, true, false}},
        {{L"Setup.EXE", L"setup.exe. ", L"other"}, {false, false, true}},
        {{L"a\\b\\c.txt", L"A/B", L"d"}, {false, false, true}},
        {{L"dir/", L"dir/file.txt", L"PROGRA~1/x.txt"}, {true, true, false}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IndependentNames(row.names), row.independent) << testing::PrintToString(row.names);
    }
}

}  // namespace
