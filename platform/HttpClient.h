#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    double timeoutSeconds = 60;
    bool ignoreCache = true;
    bool httpsOnly = false;     // the address and every redirect must be https
    uint64_t maxBytes = 0;      // a longer body fails the request unread; 0: no limit
};

struct HttpResponse {
    std::optional<int> status;            // nullopt: no HTTP response
    std::optional<std::string> body;
    std::optional<std::string> error;     // transport error, localised description
};

struct DownloadResult {
    std::optional<std::string> file;      // a temporary file holding the body; the caller moves it
    std::optional<int> status;
    std::optional<std::string> error;
};

// Completions run on the main thread.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual void send(const HttpRequest& request, std::function<void(HttpResponse)> completion) = 0;
    virtual void download(const HttpRequest& request, std::function<void(DownloadResult)> completion) = 0;
};

} // namespace platform
