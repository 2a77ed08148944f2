#pragma once
#include "platform/Application.h"
#include "platform/Menu.h"

// The application's menu bar, built in code.
namespace MenuBuilder {

// The four menus: the application menu, "Правка", "Вид", "Окно" (the windows menu).
platform::MenuBar tree();

// Installs the tree; items that target the delegate reach the application's delegate.
void install(platform::Application& app);

} // namespace MenuBuilder
