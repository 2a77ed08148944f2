#include <gtest/gtest.h>

#include "platform/gtk/GtkApp.h"

using platform::gtk::GtkApp;

namespace {

TEST(GtkAppTest, LauncherCountFromBadgeLabel) {
    struct Row {
        std::optional<std::string> label;
        std::optional<long long> count;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt},
        {"", std::nullopt},
        {"1", 1},
        {"42", 42},
        {"999", 999},
        {"999+", 1000}, // the label says "more than 999"
        {"abc", std::nullopt},
        {"99999999999999999999999", std::nullopt}, // absurd text must not overflow into a bogus count
    };
    for (const auto& row : rows)
        EXPECT_EQ(GtkApp::launcherCount(row.label), row.count) << row.label.value_or("(none)");
}

} // namespace
