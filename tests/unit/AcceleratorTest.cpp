#include <gtest/gtest.h>

#include <map>

#include "MenuBuilder.h"
#include "platform/Menu.h"

namespace {

using platform::Command;
using platform::Control;
using platform::MenuItem;
using platform::Option;
using platform::Shift;

MenuItem keyed(const std::string& key, uint32_t modifiers) {
    MenuItem m;
    m.title = "x";
    m.action = "x:";
    m.key = key;
    m.modifiers = modifiers;
    return m;
}

TEST(AcceleratorTest, TranslatesKeysAndModifiers) {
    struct Row {
        std::string key;
        uint32_t modifiers;
        std::string expected;
    };
    const Row rows[] = {
        {"q", Command, "<Primary>q"},
        {"h", Command | Option, "<Primary><Alt>h"},
        {"z", Command | Shift, "<Primary><Shift>z"},
        {"v", Command | Option | Shift, "<Primary><Alt><Shift>v"},
        {"=", Command, "<Primary>equal"},
        {"-", Command, "<Primary>minus"},
        {"0", Command, "<Primary>0"},
        {"1", Command, "<Primary>1"},
        {"f", Command | Control, "F11"},
        {"f", Command | Control | Shift, "<Shift>F11"},
        {"f", Command, "<Primary>f"},
        {"f", Control, "<Control>f"},
        {"k", 0, "k"},
        {"", Command, ""},
        {"", Command | Option, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(platform::accelerator(keyed(row.key, row.modifiers)), row.expected)
            << "key '" << row.key << "' modifiers " << std::hex << row.modifiers;
}

TEST(AcceleratorTest, SeparatorHasNoAccelerator) {
    EXPECT_EQ(platform::accelerator(MenuItem::sep()), "");
}

// Every accelerator of the real menu must parse as a distinct GTK shortcut: a clash would make one item unreachable.
TEST(AcceleratorTest, MenuTreeShortcutsAreDistinct) {
    std::map<std::string, std::string> seen;
    for (const auto& menu : MenuBuilder::tree().menus)
        for (const auto& item : menu.items) {
            auto accel = platform::accelerator(item);
            if (accel.empty())
                continue;
            auto [it, inserted] = seen.emplace(accel, item.action);
            EXPECT_TRUE(inserted) << accel << " used by " << it->second << " and " << item.action;
        }
    EXPECT_EQ(seen.count("F11"), 1u);
    EXPECT_EQ(seen.at("<Primary>w"), "performClose:");
}

} // namespace
