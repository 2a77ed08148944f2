#pragma once
#include <functional>
#include <glib.h>

// Runs the default main context until done() holds. A short tick wakes the loop for conditions that
// other threads change; the cap only keeps a broken build from hanging, no test depends on timing.
inline bool runUntil(const std::function<bool()>& done, guint capSeconds = 20)
{
    gint64 end = g_get_monotonic_time() + capSeconds * G_USEC_PER_SEC;
    guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && g_get_monotonic_time() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return done();
}
