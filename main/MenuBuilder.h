#pragma once
#include "platform/Application.h"
#include "platform/Menu.h"
#include <vector>

// The application's menu bar, built in code.
namespace MenuBuilder {

// The four menus: the application menu, "Правка", "Вид", "Окно" (the windows menu).
platform::MenuBar tree();

// Installs the tree; items that target the delegate reach the application's delegate.
void install(platform::Application& app);

// The tray icon's menu: show the window, check for updates, quit; every item goes to the delegate.
std::vector<platform::MenuItem> trayMenu();

} // namespace MenuBuilder
