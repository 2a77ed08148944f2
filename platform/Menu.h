#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Modifier masks, as the menu tree is written (Command, Option, Control, Shift).
enum Modifier : uint32_t {
    Command = 0x100000,
    Option = 0x80000,
    Control = 0x40000,
    Shift = 0x20000,
};

struct MenuItem {
    bool separator = false;
    std::string title;
    std::string action;      // e.g. "terminate:", "reloadPage:", "showMain"
    std::string key;         // single lower-case character, or empty
    uint32_t modifiers = 0;
    bool targetsDelegate = false; // false: the toolkit's own handling (responder chain)
    bool checkable = false;       // shows a check mark: the delegate's actionState

    static MenuItem sep() { MenuItem m; m.separator = true; return m; }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

struct MenuBar {
    std::vector<Menu> menus;
    int windowsMenu = -1; // index of the menu that lists the open windows
};

// The GTK accelerator for an item ("<Primary>q", "F11"), or "" when it has no shortcut.
std::string accelerator(const MenuItem& item);

} // namespace platform
