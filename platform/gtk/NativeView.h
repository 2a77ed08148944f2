#pragma once
#include <gtk/gtk.h>

namespace platform { class Window; }

namespace platform::gtk {

// What the GTK window needs of a web view it shows (implemented by WebKitView).
class NativeView {
public:
    virtual ~NativeView() = default;
    virtual GtkWidget* widget() = 0;
    // The window now showing the view, or nullptr when it goes away.
    virtual void attachToWindow(platform::Window* window) = 0;
};

} // namespace platform::gtk
