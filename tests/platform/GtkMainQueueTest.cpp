#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "RunLoop.h"
#include "platform/gtk/GtkMainQueue.h"

using platform::gtk::GtkMainQueue;

namespace {

TEST(GtkMainQueueTest, AsyncFromAnotherThreadRunsOnTheMainThreadInOrder) {
    GtkMainQueue queue;
    std::vector<int> seen;
    std::vector<std::thread::id> threads;
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            queue.async([&, i] {
                seen.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    worker.join();
    ASSERT_TRUE(runUntil([&] { return seen.size() == 5; }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    for (auto id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(GtkMainQueueTest, AfterRunsOnce) {
    GtkMainQueue queue;
    int runs = 0;
    bool sentinel = false;
    queue.after(0.01, [&] { ++runs; });
    queue.after(0.1, [&] { sentinel = true; });
    ASSERT_TRUE(runUntil([&] { return sentinel; }));
    EXPECT_EQ(runs, 1);
}

// A timer stopped from inside its own callback (the offline probe does this) must not fire again.
TEST(GtkMainQueueTest, RepeatingTimerStopsWhenInvalidatedOrDropped) {
    GtkMainQueue queue;
    int invalidatedRuns = 0, droppedRuns = 0;
    std::unique_ptr<platform::Timer> invalidated, dropped;
    invalidated = queue.repeating(0.01, [&] {
        if (++invalidatedRuns == 3)
            invalidated->invalidate();
    });
    dropped = queue.repeating(0.01, [&] {
        if (++droppedRuns == 2)
            dropped.reset();
    });
    ASSERT_TRUE(runUntil([&] { return invalidatedRuns == 3 && droppedRuns == 2; }));
    invalidated->invalidate(); // twice is harmless
    bool sentinel = false;
    queue.after(0.1, [&] { sentinel = true; });
    ASSERT_TRUE(runUntil([&] { return sentinel; }));
    EXPECT_EQ(invalidatedRuns, 3);
    EXPECT_EQ(droppedRuns, 2);
}

} // namespace
