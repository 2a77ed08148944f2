#pragma once
#include "platform/Workspace.h"

namespace platform::gtk {

// The desktop's default handlers, file manager and recently used files.
class GtkWorkspace : public platform::Workspace {
public:
    GtkWorkspace() = default;
    bool openURL(const std::string& url) override;
    void revealFile(const std::string& path) override;
    void downloadFinished(const std::string& path) override;
};

} // namespace platform::gtk
