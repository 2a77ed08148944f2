#include "GtkWindowFactory.h"

#include "GtkApp.h"
#include "GtkWindowAdapter.h"

namespace platform::gtk {

GtkWindowFactory::GtkWindowFactory(GtkApp& app, KeyFileSettings& settings) : app_(app), settings_(settings) {}

std::shared_ptr<platform::Window> GtkWindowFactory::createWindow(const platform::WindowSpec& spec,
                                                                 std::shared_ptr<platform::WebView> content,
                                                                 platform::WindowDelegate& delegate) {
    return std::make_shared<GtkWindowAdapter>(app_.gtkApplication(), settings_, spec, std::move(content), delegate);
}

} // namespace platform::gtk
