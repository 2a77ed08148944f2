#include "SoftwareRendering.h"

#include <glib.h>

#include <utility>

namespace platform::gtk {

bool softwareRenderingOnly()
{
    static const bool answer = [] {
        GDir* dri = g_dir_open("/dev/dri", 0, nullptr);
        if (!dri)
            return true;
        bool renderNode = false;
        while (const char* name = g_dir_read_name(dri))
            renderNode = renderNode || g_str_has_prefix(name, "renderD");
        g_dir_close(dri);
        return !renderNode;
    }();
    return answer;
}

namespace {
std::vector<std::string> setHere;
}

void leaveGlUnusedWithoutGpu()
{
    if (!softwareRenderingOnly())
        return;
    for (auto [name, value] : {std::pair{"GDK_GL", "disable"}, std::pair{"WEBKIT_DISABLE_DMABUF_RENDERER", "1"}}) {
        if (g_getenv(name))
            continue;
        g_setenv(name, value, TRUE);
        setHere.push_back(name);
    }
}

const std::vector<std::string>& variablesSetForSoftwareRendering() { return setHere; }

} // namespace platform::gtk
