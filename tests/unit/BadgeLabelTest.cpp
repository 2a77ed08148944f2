#include <gtest/gtest.h>
#include <cmath>
#include "BadgeLabel.h"

TEST(BadgeLabel, CountsBecomeLabels) {
    struct Row { double count; std::optional<std::string> label; } rows[] = {
        {0, std::nullopt}, {-5, std::nullopt}, {0.9, std::nullopt}, {NAN, std::nullopt}, {1, "1"}, {2.9, "2"},
        {999, "999"}, {999.5, "999"}, {1000, "999+"}, {1e300, "999+"}, {INFINITY, "999+"},
    };
    for (auto& r : rows) EXPECT_EQ(badgeLabel(r.count), r.label) << r.count;
}
