#include <gtest/gtest.h>
#include <map>
#include "MenuBuilder.h"
#include "platform/Menu.h"

namespace {

using namespace platform;

TEST(AcceleratorTest, TranslatesKeysAndModifiers) {
    struct Row { std::string key; uint32_t modifiers; std::string expected; } rows[] = {
        {"v", Command | Option | Shift, "<Primary><Alt><Shift>v"}, {"h", Command | Option, "<Primary><Alt>h"},
        {"f", Command | Control | Shift, "<Shift>F11"}, {"z", Command | Shift, "<Primary><Shift>z"},
        {"=", Command, "<Primary>equal"}, {"-", Command, "<Primary>minus"}, {"f", Command | Control, "F11"},
        {"q", Command, "<Primary>q"}, {"0", Command, "<Primary>0"}, {"1", Command, "<Primary>1"},
        {"f", Command, "<Primary>f"}, {"f", Control, "<Control>f"}, {"", Command | Option, ""}, {"k", 0, "k"},
        {"", Command, ""},
    };
    MenuItem item;
    for (const auto& row : rows) {
        item.key = row.key;
        item.modifiers = row.modifiers;
        EXPECT_EQ(accelerator(item), row.expected) << row.key << " " << std::hex << row.modifiers;
    }
    item.separator = true;
    EXPECT_EQ(accelerator(item), "") << "a separator with a key";
}

// Every accelerator of the real menu must be a distinct GTK shortcut: a clash makes one item unreachable.
TEST(AcceleratorTest, MenuTreeShortcutsAreDistinct) {
    std::map<std::string, std::string> seen;
    for (const auto& menu : MenuBuilder::tree().menus)
        for (const auto& item : menu.items) {
            auto accel = accelerator(item);
            if (accel.empty()) continue;
            auto [it, inserted] = seen.emplace(accel, item.action);
            EXPECT_TRUE(inserted) << accel << " used by " << it->second << " and " << item.action;
        }
    EXPECT_EQ(seen.count("F11"), 1u);
    EXPECT_EQ(seen.at("<Primary>w"), "performClose:");
}

} // namespace
