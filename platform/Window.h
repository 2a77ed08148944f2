#pragma once
#include <memory>
#include <string>

namespace platform {

class WebView;

struct Rect {
    int x = 0, y = 0;          // top-left corner, screen coordinates, y grows downwards
    int width = 0, height = 0;
};

struct WindowSpec {
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0; // 0: no minimum
    std::string title;
    std::string autosaveName;        // non-empty: frame saved and restored under this name
    bool center = false;             // centre on screen before restoring a saved frame
};

class Window;

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    // The user (close button, Ctrl+W) asks to close the window; false keeps it open.
    virtual bool windowShouldClose(Window& window) = 0;
    // The window is closing (after a true answer, or after close()).
    virtual void windowWillClose(Window& window) = 0;
};

// A top-level window whose only content is a web view.
class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderOut() = 0;
    virtual void close() = 0;          // closes for good; windowWillClose follows
    virtual bool isVisible() const = 0;
    virtual bool isFullScreen() const = 0;
    virtual Rect frame() const = 0;
    virtual void setTopLeft(int x, int y) = 0;
    virtual WebView& webView() = 0;    // the content view
};

class WindowFactory {
public:
    virtual ~WindowFactory() = default;
    // The window keeps the web view; the delegate must outlive the window.
    virtual std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content,
                                                 WindowDelegate& delegate) = 0;
};

} // namespace platform
