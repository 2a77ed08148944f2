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
    const std::pair<const char*, const char*> variables[] = {
        {"GDK_GL", "disable"},
        {"WEBKIT_DISABLE_DMABUF_RENDERER", "1"},
        // The engine would set up EGL as it starts the first page only to ask for the GPU's render
        // node and find none; naming one that is not there gives that answer at once. Nothing opens
        // it: no buffers are shared.
        {"WEBKIT_WEB_RENDER_DEVICE_FILE", "/dev/dri/no-render-node"},
    };
    for (auto [name, value] : variables) {
        if (g_getenv(name))
            continue;
        g_setenv(name, value, TRUE);
        setHere.push_back(name);
    }
}

const std::vector<std::string>& variablesSetForSoftwareRendering() { return setHere; }

} // namespace platform::gtk
