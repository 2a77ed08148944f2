#pragma once
#include "platform/MainQueue.h"

namespace platform::gtk {

// The default GLib main context as the system's main queue.
class GtkMainQueue : public platform::MainQueue {
public:
    GtkMainQueue() = default;
    void async(std::function<void()> fn) override;
    void after(double seconds, std::function<void()> fn) override;
    std::unique_ptr<platform::Timer> repeating(double seconds, std::function<void()> fn) override;
};

} // namespace platform::gtk
