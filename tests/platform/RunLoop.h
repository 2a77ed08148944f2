#pragma once
#include <functional>
#include <glib.h>

// Runs the default main context until done() holds. A short tick wakes the loop for conditions that
// other threads change; the cap only keeps a broken build from hanging, no test depends on timing.
inline bool runUntil(const std::function<bool()>& done, guint capSeconds = 20)
{
    bool expired = false;
    guint cap = g_timeout_add_seconds(capSeconds, [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &expired);
    guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && !expired)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    if (!expired)
        g_source_remove(cap);
    return done();
}
