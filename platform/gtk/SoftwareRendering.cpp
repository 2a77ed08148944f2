#include "SoftwareRendering.h"

#include <glib.h>

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

void leaveGlUnusedWithoutGpu()
{
    if (!softwareRenderingOnly())
        return;
    g_setenv("GDK_GL", "disable", FALSE);
    g_setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", FALSE);
}

} // namespace platform::gtk
