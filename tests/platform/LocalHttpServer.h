#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <gio/gio.h>

// A small HTTP server on 127.0.0.1 (HTTPS when given a certificate with its key) with fixed routes:
// /ok, /missing (404), /empty (204), /file (a binary body of several chunks), /truncated (closes
// before its Content-Length), /slow (a live trickle), /stall (never answers), /redirect?to=URL (302).
class LocalHttpServer {
public:
    explicit LocalHttpServer(GTlsCertificate* certificate = nullptr);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;
    // The head of the last request for the path, as received.
    std::string lastRequest(const std::string& path) const;
    int requestCount(const std::string& path) const;
    // Connections accepted, whether or not a request followed (a refused certificate ends them early).
    int connections() const { return accepted; }
    // How many /stall requests the client gave up on (closed the connection).
    int abandonedStalls() const { return stallsAbandoned; }

    static std::string fileBody();
    // A loopback port on which nobody listens.
    static int closedPort();

private:
    void acceptLoop();
    void serve(GSocketConnection* connection);
    void respond(GIOStream* stream, const std::string& method, const std::string& path);

    GTlsCertificate* certificate;
    GSocketListener* listener = nullptr;
    GCancellable* stop;
    int port = 0;
    std::thread acceptor;
    std::vector<std::thread> workers;
    mutable std::mutex mutex;
    std::map<std::string, std::string> requests;
    std::map<std::string, int> counts;
    std::atomic<int> accepted{0};
    std::atomic<int> stallsAbandoned{0};
};
