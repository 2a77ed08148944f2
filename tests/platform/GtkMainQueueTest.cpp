#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "RunLoop.h"
#include "platform/gtk/GtkMainQueue.h"

namespace {

TEST(GtkMainQueue, AsyncFromAnotherThreadRunsOnTheMainThreadInOrder)
{
    platform::gtk::GtkMainQueue queue;
    std::vector<std::pair<int, std::thread::id>> seen;
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            queue.async([&, i] { seen.emplace_back(i, std::this_thread::get_id()); });
    }).join();
    ASSERT_TRUE(runUntil([&] { return seen.size() == 3; }));
    const auto main = std::this_thread::get_id();
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::thread::id>>{{0, main}, {1, main}, {2, main}}));
}

// A timer stopped from inside its own callback (the offline probe does this) must not fire again;
// a one-off timer fires once.
TEST(GtkMainQueue, AfterRunsOnceAndRepeatingStopsWhenInvalidatedOrDropped)
{
    platform::gtk::GtkMainQueue queue;
    int onceRuns = 0, invalidatedRuns = 0, droppedRuns = 0;
    std::unique_ptr<platform::Timer> invalidated, dropped;
    queue.after(0.01, [&] { ++onceRuns; });
    invalidated = queue.repeating(0.01, [&] {
        if (++invalidatedRuns == 3)
            invalidated->invalidate();
    });
    dropped = queue.repeating(0.01, [&] {
        if (++droppedRuns == 2)
            dropped.reset();
    });
    ASSERT_TRUE(runUntil([&] { return invalidatedRuns == 3 && droppedRuns == 2; }));
    invalidated->invalidate();   // twice is harmless
    bool sentinel = false;
    queue.after(0.1, [&] { sentinel = true; });
    ASSERT_TRUE(runUntil([&] { return sentinel; }));
    EXPECT_EQ(std::make_tuple(onceRuns, invalidatedRuns, droppedRuns), std::make_tuple(1, 3, 2));
}

} // namespace
