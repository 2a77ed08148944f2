#pragma once
#include <memory>
#include "platform/Platform.h"

namespace platform::gtk {

// Builds the GTK / WebKitGTK / GIO implementation of every platform service.
// This header is free of toolkit headers so that the process entry can use it.
class GtkPlatform {
public:
    static std::unique_ptr<GtkPlatform> create();
    virtual ~GtkPlatform() = default;
    virtual platform::Platform& services() = 0;
};

} // namespace platform::gtk
