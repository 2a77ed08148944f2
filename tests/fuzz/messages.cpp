// The page-message dispatcher: whatever a frame posts, a message from a foreign or unknown
// origin shows no notification, sets no badge, asks for no permission and starts no update check.
#include <cstdlib>
#include "AppConfig.h"
#include "MainWindowController.h"
#include "Notifier.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"
#include "fuzz/Check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The dispatcher logs; keep that out of the user's own log.
    char folder[] = "/tmp/nolar-fuzz-XXXXXX";
    if (mkdtemp(folder)) setenv("XDG_STATE_HOME", folder, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    if (size < 1) return 0;
    static fakes::FakePlatform p;
    static auto notifier = Notifier::create(p.notifications, p.queue);
    static auto controller =
        MainWindowController::create(p.services, notifier, std::make_shared<Updater>(p.services), "granted");
    std::optional<std::string> origin;
    if (data[0] % 3 == 1) origin = AppConfig::ownHost();
    if (data[0] % 3 == 2) origin = "x" + AppConfig::ownHost();
    auto notes = p.notifications.added.size(), badges = p.app.badges.size(), http = p.http.sent.size();
    auto asked = p.notifications.authorizationRequests;
    controller->didReceiveScriptMessage(*p.web.created.at(0), {fuzzText(data + 1, size - 1), origin});
    p.queue.drain();
    if (data[0] % 3 == 1) return 0;
    FUZZ_CHECK(p.notifications.added.size() == notes, "a foreign frame showed a notification");
    FUZZ_CHECK(p.app.badges.size() == badges, "a foreign frame set the badge");
    FUZZ_CHECK(p.http.sent.size() == http, "a foreign frame started an update check");
    FUZZ_CHECK(p.notifications.authorizationRequests == asked, "a foreign frame asked for permission");
    return 0;
}
