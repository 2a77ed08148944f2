#pragma once
#include "platform/Window.h"

namespace platform::gtk {

class GtkApp;
class KeyFileSettings;

// Makes the application's windows; autosaved frames go to the settings file.
class GtkWindowFactory : public platform::WindowFactory {
public:
    GtkWindowFactory(GtkApp& app, KeyFileSettings& settings);
    std::shared_ptr<platform::Window> createWindow(const platform::WindowSpec& spec,
                                                   std::shared_ptr<platform::WebView> content,
                                                   platform::WindowDelegate& delegate) override;

private:
    GtkApp& app_;
    KeyFileSettings& settings_;
};

} // namespace platform::gtk
