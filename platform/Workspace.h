#pragma once
#include <string>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool openURL(const std::string& url) = 0;         // the user's default handler
    virtual void revealFile(const std::string& path) = 0;     // selected in the file manager
    virtual void downloadFinished(const std::string& path) = 0; // tell the desktop (recently used files)
};

} // namespace platform
