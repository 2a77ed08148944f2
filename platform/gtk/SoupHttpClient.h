#pragma once
#include <set>
#include <libsoup/soup.h>
#include "platform/HttpClient.h"

namespace platform::gtk {

// HTTP over libsoup on the GLib main loop. Completions run on the thread that started the request
// (the main thread), exactly once, unless the client is destroyed first: then they never run.
class SoupHttpClient : public platform::HttpClient {
public:
    SoupHttpClient();
    ~SoupHttpClient() override;
    SoupHttpClient(const SoupHttpClient&) = delete;
    SoupHttpClient& operator=(const SoupHttpClient&) = delete;

    void send(const platform::HttpRequest& request, std::function<void(platform::HttpResponse)> completion) override;
    // The body goes into a new private file in the temporary directory, which the caller then owns
    // (also for a non-200 status).
    void download(const platform::HttpRequest& request,
                  std::function<void(platform::DownloadResult)> completion) override;

    struct Transfer;
    void forget(Transfer* transfer) { transfers.erase(transfer); }

private:
    Transfer* start(const platform::HttpRequest& request);

    SoupSession* session;
    GTlsCertificate* testCertificate = nullptr;
    std::set<Transfer*> transfers;
};

} // namespace platform::gtk
