#include "MenuBuilder.h"

namespace MenuBuilder {

namespace {
using platform::MenuItem;
constexpr uint32_t Cmd = platform::Command;

MenuItem item(const char* title, const char* action, const char* key, uint32_t modifiers, bool delegate = false) {
    MenuItem m;
    m.title = title;
    m.action = action;
    m.key = key;
    m.modifiers = modifiers;
    m.targetsDelegate = delegate;
    return m;
}
MenuItem checkItem(const char* title, const char* action) {
    MenuItem m = item(title, action, "", 0, true);
    m.checkable = true;
    return m;
}
} // namespace

platform::MenuBar tree() {
    platform::MenuBar bar;
    bar.menus.push_back({"Нолар",
                         {item("О программе «Нолар»", "orderFrontStandardAboutPanel:", "", Cmd),
                          item("Проверить обновления…", "checkForUpdates:", "", Cmd, true),
                          checkItem("Запускать при входе в систему", "toggleLaunchAtLogin:"),
                          MenuItem::sep(),
                          item("Скрыть «Нолар»", "hide:", "h", Cmd),
                          item("Скрыть остальные", "hideOtherApplications:", "h", Cmd | platform::Option),
                          item("Показать все", "unhideAllApplications:", "", Cmd),
                          MenuItem::sep(),
                          item("Завершить «Нолар»", "terminate:", "q", Cmd)}});
    bar.menus.push_back({"Правка",
                         {item("Отменить", "undo:", "z", Cmd),
                          item("Повторить", "redo:", "z", Cmd | platform::Shift),
                          MenuItem::sep(),
                          item("Вырезать", "cut:", "x", Cmd),
                          item("Копировать", "copy:", "c", Cmd),
                          item("Вставить", "paste:", "v", Cmd),
                          item("Вставить без форматирования", "pasteAsPlainText:", "v",
                               Cmd | platform::Option | platform::Shift),
                          item("Выбрать все", "selectAll:", "a", Cmd)}});
    bar.menus.push_back({"Вид",
                         {item("Обновить страницу", "reloadPage:", "r", Cmd, true),
                          MenuItem::sep(),
                          item("Увеличить", "zoomInPage:", "=", Cmd, true),
                          item("Уменьшить", "zoomOutPage:", "-", Cmd, true),
                          item("Фактический размер", "zoomResetPage:", "0", Cmd, true),
                          MenuItem::sep(),
                          item("Во весь экран", "toggleFullScreen:", "f", Cmd | platform::Control)}});
    bar.menus.push_back({"Окно",
                         {item("Закрыть окно", "performClose:", "w", Cmd),
                          item("Свернуть", "performMiniaturize:", "m", Cmd),
                          item("Масштаб", "performZoom:", "", Cmd),
                          MenuItem::sep(),
                          item("Нолар", "showMain", "1", Cmd, true)}});
    bar.windowsMenu = 3;
    return bar;
}

void install(platform::Application& app) { app.setMainMenu(tree()); }

std::vector<platform::MenuItem> trayMenu() {
    return {item("Показать Нолар", "showMain", "", 0, true), item("Проверить обновления…", "checkForUpdates:", "", 0, true),
            MenuItem::sep(), item("Выйти", "terminate:", "", 0, true)};
}

} // namespace MenuBuilder
