// The order in which the builder's workers take the files of a tree: the
// writer's next file first, then the largest that the read-ahead bound
// holds, each file once.
#include <gtest/gtest.h>

#include <vector>

#include "tools/sea_build/pack/pack_schedule.h"

namespace {

constexpr size_t kNone = PackSchedule::kNone;

// Starts jobs as free workers would with nothing taken yet: the order.
std::vector<size_t> StartAll(PackSchedule& schedule, size_t next_taken, int64_t ahead_bytes) {
    std::vector<size_t> order;
    int64_t running = 0;
    for (size_t job; (job = schedule.Next(next_taken, running, ahead_bytes)) != kNone;) {
        schedule.Start(job);
        running += schedule.Size(job);
        order.push_back(job);
    }
    return order;
}

TEST(PackScheduleTest, WriterNextFirstThenLargestThatFitsEachOnce) {
    PackSchedule schedule({5, 100, 7, 300, 7, 1});
    // Job 3 (300) is more than the bound holds beside the others; the
    // equal sizes go in job order.
    EXPECT_EQ(StartAll(schedule, 0, 130), (std::vector<size_t>{0, 1, 2, 4, 5}));
    EXPECT_FALSE(schedule.AllStarted());
    // Once the writer waits for it, the big job runs whatever the bound.
    EXPECT_EQ(schedule.Next(3, 120, 130), 3u);
    schedule.Start(3);
    EXPECT_TRUE(schedule.AllStarted());
    EXPECT_EQ(schedule.Next(3, 0, 1000), kNone);
}

TEST(PackScheduleTest, NothingStartsAheadWhenTheBoundIsFull) {
    PackSchedule schedule({10, 10, 10});
    schedule.Start(0);
    EXPECT_EQ(schedule.Next(0, 10, 15), kNone);
    EXPECT_EQ(schedule.Next(0, 10, 20), 1u);
}

}  // namespace
