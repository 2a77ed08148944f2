// The process entry: the command line, the platform, the one application delegate, and the event loop.
#include "AppConfig.h"
#include "AppDelegate.h"
#include "CommandLine.h"
#include "Log.h"
#include "platform/gtk/GtkPlatform.h"
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {
// The application object does not own its delegate; this reference keeps it for the whole run.
std::shared_ptr<AppDelegate> delegate;
} // namespace

int main(int argc, char** argv) {
    std::string program = argc > 0 ? argv[0] : "nolar";
    CommandLine options = CommandLine::parse(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (options.action == CommandLine::Action::Error) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), options.error.c_str(), program.c_str());
        return 2;
    }
    if (options.action == CommandLine::Action::Help) {
        std::fputs(CommandLine::help(program).c_str(), stdout);
        return 0;
    }
    auto gtk = platform::gtk::GtkPlatform::create();
    platform::Platform& platform = gtk->services();
    AppConfig::useMainBundle(&platform.bundles.main());
    if (options.action == CommandLine::Action::Version) {
        std::fputs(CommandLine::version(AppConfig::versionName(), AppConfig::build()).c_str(), stdout);
        std::fflush(stdout);
        _exit(0);
    }
    delegate = std::make_shared<AppDelegate>(platform);
    delegate->startHidden = options.background;
    platform.app.setDelegate(delegate.get());
    // A start at login must not bring forward a run the user already has.
    if (options.background && platform.app.isRunningElsewhere()) _exit(0);
    int status = platform.app.run();
    Log::flush();
    // Nothing is torn down: the views and windows would outlive the toolkit they belong to.
    _exit(status);
}
