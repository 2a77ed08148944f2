// The process entry: the platform, the one application delegate, and the event loop.
#include "AppConfig.h"
#include "AppDelegate.h"
#include "Log.h"
#include "platform/gtk/GtkPlatform.h"
#include <unistd.h>

namespace {
// The application object does not own its delegate; this reference keeps it for the whole run.
std::shared_ptr<AppDelegate> delegate;
} // namespace

int main() {
    auto gtk = platform::gtk::GtkPlatform::create();
    platform::Platform& platform = gtk->services();
    AppConfig::useMainBundle(&platform.bundles.main());
    delegate = std::make_shared<AppDelegate>(platform);
    platform.app.setDelegate(delegate.get());
    int status = platform.app.run();
    Log::flush();
    // Nothing is torn down: the views and windows would outlive the toolkit they belong to.
    _exit(status);
}
