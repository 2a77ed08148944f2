#include "GtkMainQueue.h"

#include <glib.h>

#include <cmath>

namespace platform::gtk {

namespace {

using Job = std::function<void()>;

gboolean runOnce(gpointer data) {
    (*static_cast<Job*>(data))();
    return G_SOURCE_REMOVE;
}

gboolean runRepeating(gpointer data) {
    (*static_cast<Job*>(data))();
    return G_SOURCE_CONTINUE;
}

void deleteJob(gpointer data) { delete static_cast<Job*>(data); }

guint milliseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    return static_cast<guint>(std::llround(seconds * 1000.0));
}

class SourceTimer : public platform::Timer {
public:
    explicit SourceTimer(guint id) : id_(id) {}
    ~SourceTimer() override { invalidate(); }
    void invalidate() override {
        // Removing the source from inside its own callback is safe: GLib keeps the job alive until it returns.
        if (id_ != 0)
            g_source_remove(id_);
        id_ = 0;
    }

private:
    guint id_;
};

} // namespace

void GtkMainQueue::async(std::function<void()> fn) {
    // g_idle_add attaches to the default context and wakes it, from any thread.
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Job(std::move(fn)), deleteJob);
}

void GtkMainQueue::after(double seconds, std::function<void()> fn) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runOnce, new Job(std::move(fn)), deleteJob);
}

std::unique_ptr<platform::Timer> GtkMainQueue::repeating(double seconds, std::function<void()> fn) {
    guint id = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runRepeating,
                                  new Job(std::move(fn)), deleteJob);
    return std::make_unique<SourceTimer>(id);
}

} // namespace platform::gtk
