#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include "RunLoop.h"
#include "TempDir.h"
#include "platform/gtk/SoupHttpClient.h"

#ifndef NOLAR_TEST_CERT
#define NOLAR_TEST_CERT ""
#endif

using platform::DownloadResult;
using platform::HttpRequest;
using platform::HttpResponse;
using platform::gtk::SoupHttpClient;

namespace {

const std::string fileBody = [] {
    std::string body(300 * 1024 + 17, '\0');
    std::ranges::generate(body, std::mt19937(7));
    return body;
}();

// libsoup's server on 127.0.0.1 (HTTPS with a certificate), served by the main loop that the tests
// run while they wait. Routes: /ok, /missing (404), /empty (204), /file, /redirect?to=URL (302),
// and on the connection taken from libsoup: /truncated (closes before its Content-Length), /slow
// (a live trickle), /stall (never answers).
struct Server {
    explicit Server(GTlsCertificate* certificate = nullptr)
        : server(soup_server_new("tls-certificate", certificate, nullptr)),
          scheme(certificate ? "https://" : "http://")
    {
        // Before any handshake, so it counts connections whose certificate was refused.
        g_signal_connect_swapped(server, "request-started", G_CALLBACK(+[](int* n) { ++*n; }), &started);
        soup_server_add_handler(server, nullptr, handle, this, nullptr);
        int options = SOUP_SERVER_LISTEN_IPV4_ONLY | (certificate ? SOUP_SERVER_LISTEN_HTTPS : 0);
        EXPECT_TRUE(soup_server_listen_local(server, 0, SoupServerListenOptions(options), nullptr));
        GSList* uris = soup_server_get_uris(server);
        port = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0;
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~Server()
    {
        std::ranges::for_each(stalls, g_object_unref);
        g_object_unref(server);
    }
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const
    {
        return scheme + host + ":" + std::to_string(port) + path;
    }
    // The client gave up a stall when its connection reads as ended.
    int abandonedStalls() const
    {
        return std::ranges::count_if(stalls, [](GIOStream* s) {
            auto* in = G_POLLABLE_INPUT_STREAM(g_io_stream_get_input_stream(s));
            return g_pollable_input_stream_is_readable(in);
        });
    }

    static void handle(SoupServer*, SoupServerMessage* m, const char* path, GHashTable* query, gpointer self)
    {
        auto* s = static_cast<Server*>(self);
        const char* q = g_uri_get_query(soup_server_message_get_uri(m));
        std::string p = path, key = q ? p + "?" + q : p;
        ++s->count[key];
        s->headers[key].clear();
        auto add = [](const char* name, const char* value, gpointer h) {
            *static_cast<std::string*>(h) += std::string(name) + ": " + value + "\n";
        };
        soup_message_headers_foreach(soup_server_message_get_request_headers(m), add, &s->headers[key]);
        if (p == "/ok" || p == "/file" || p == "/missing") {
            std::string body = p == "/ok" ? "hello nolar" : p == "/file" ? fileBody : "not here";
            soup_server_message_set_status(m, p == "/missing" ? 404 : 200, nullptr);
            soup_server_message_set_response(m, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
        } else if (p == "/empty") {
            soup_server_message_set_status(m, 204, nullptr);
        } else if (p == "/redirect") {
            soup_server_message_set_redirect(m, 302, static_cast<char*>(g_hash_table_lookup(query, "to")));
        } else {
            s->raw(soup_server_message_steal_connection(m), p);
        }
    }

    static void write(GIOStream* stream, const std::string& data)
    {
        GOutputStream* out = g_io_stream_get_output_stream(stream);
        g_output_stream_write_all(out, data.data(), data.size(), nullptr, nullptr, nullptr);
    }

    void raw(GIOStream* stream, const std::string& path)
    {
        // HTTP/1.0: the connection ends with the response.
        auto head = [](int n) {
            return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n";
        };
        if (path == "/stall")
            return stalls.push_back(stream);
        write(stream, path == "/slow" ? head(20 * 64) : head(100000) + std::string(50000, 'x'));
        // The slow body comes in 20 pieces, 100 ms apart; the truncated one ends here.
        g_timeout_add(100, [](gpointer data) -> gboolean {
            auto* trickle = static_cast<std::pair<GIOStream*, int>*>(data);
            if (trickle->second-- > 0) {
                write(trickle->first, std::string(64, 's'));
                return G_SOURCE_CONTINUE;
            }
            g_io_stream_close(trickle->first, nullptr, nullptr);
            g_object_unref(trickle->first);
            delete trickle;
            return G_SOURCE_REMOVE;
        }, new std::pair<GIOStream*, int>(stream, path == "/slow" ? 20 : 0));
    }

    SoupServer* server;
    std::string scheme;
    int port = 0, started = 0;
    std::vector<GIOStream*> stalls;
    std::map<std::string, int> count;
    std::map<std::string, std::string> headers;   // of each path's last request, "Name: value" lines
};

struct SoupHttpClientTest : testing::Test {
    HttpResponse send(const HttpRequest& request)
    {
        std::optional<HttpResponse> result;
        int calls = 0;
        client.send(request, [&](HttpResponse r) { result = r, ++calls; });
        EXPECT_TRUE(runUntil([&] { return calls > 0; }));
        EXPECT_EQ(calls, 1);
        return result.value_or(HttpResponse{});
    }
    DownloadResult download(const HttpRequest& request)
    {
        std::optional<DownloadResult> result;
        client.download(request, [&](DownloadResult r) { result = r; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or(DownloadResult{});
    }
    Server server;
    SoupHttpClient client;
};

HttpRequest get(const std::string& url, bool httpsOnly = false, double timeout = 10)
{
    return HttpRequest{"GET", url, timeout, true, httpsOnly, 0};
}

std::set<std::string> leftovers()
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(g_get_tmp_dir()))
        if (entry.path().filename().string().starts_with("nolar-dl-"))
            names.insert(entry.path());
    return names;
}

} // namespace

TEST_F(SoupHttpClientTest, AnswersAsTextAndAsAPrivateFileOnlyWhenComplete)
{
    const std::set<std::string> before = leftovers();
    const uint64_t size = fileBody.size();
    const struct {
        const char* method;
        const char* path;
        int status;
        std::optional<std::string> body;   // none: the request fails although there was an answer
        uint64_t maxBytes = 0;
    } cases[] = {
        {"GET", "/ok", 200, "hello nolar"},
        {"GET", "/missing", 404, "not here"},
        {"HEAD", "/empty", 204, ""},
        {"HEAD", "/ok", 200, ""},
        {"GET", "/file", 200, fileBody, size},
        {"GET", "/file", 200, std::nullopt, size - 1},
        {"GET", "/truncated", 200, std::nullopt},
        // The trickle lasts about twice the limit, but never pauses for long.
        {"GET", "/slow", 200, std::string(20 * 64, 's')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + std::to_string(c.maxBytes));
        const HttpRequest request{c.method, server.url(c.path), 1, true, false, c.maxBytes};
        HttpResponse r = send(request);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.error.has_value(), !c.body);
        DownloadResult d = download(request);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.error.has_value(), !c.body);
        ASSERT_EQ(d.file.has_value(), c.body.has_value());
        if (!d.file)
            continue;
        EXPECT_TRUE(d.file->starts_with(g_get_tmp_dir()));
        EXPECT_EQ(fs::status(*d.file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(readFile(*d.file), *c.body);
        fs::remove(*d.file);
    }
    EXPECT_EQ(leftovers(), before);
}

TEST_F(SoupHttpClientTest, AsksPastCachesOnlyWhenTold)
{
    for (bool ignoreCache : {true, false}) {
        send(HttpRequest{"GET", server.url("/ok"), 10, ignoreCache, false, 0});
        const std::string& h = server.headers["/ok"];
        EXPECT_EQ(h.find("Cache-Control: no-cache") != std::string::npos, ignoreCache) << h;
        EXPECT_EQ(h.find("Pragma: no-cache") != std::string::npos, ignoreCache) << h;
    }
}

TEST_F(SoupHttpClientTest, FailuresWithoutAnswerHaveNoStatus)
{
    const struct {
        std::string url;
        bool httpsOnly;
        double timeout;
        std::optional<std::string> error;
    } cases[] = {
        {Server().url("/ok"), false, 10, std::nullopt},   // nobody listens there any more
        {server.url("/stall"), false, 0.3, "Превышен лимит времени на запрос."},
        {"not a url", false, 10, std::nullopt},
        {server.url("/ok"), true, 10, std::nullopt},   // refused before asking
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        HttpResponse r = send(get(c.url, c.httpsOnly, c.timeout));
        EXPECT_EQ(r.status, std::nullopt);
        EXPECT_EQ(r.body, std::nullopt);
        ASSERT_TRUE(r.error.has_value());
        EXPECT_FALSE(r.error->empty());
        EXPECT_EQ(c.error.value_or(*r.error), *r.error);
    }
    EXPECT_EQ(server.count["/stall"], 1);
    EXPECT_EQ(server.count["/ok"], 0);
}

TEST_F(SoupHttpClientTest, DestroyedClientNeverCompletes)
{
    bool called = false;
    {
        SoupHttpClient gone;
        gone.send(get(server.url("/stall"), false, 30), [&](HttpResponse) { called = true; });
        gone.download(get(server.url("/stall"), false, 30), [&](DownloadResult) { called = true; });
        ASSERT_TRUE(runUntil([&] { return server.count["/stall"] == 2; }));
    }
    EXPECT_TRUE(runUntil([&] { return server.abandonedStalls() == 2; }));
    EXPECT_FALSE(called);
}

// Besides the system's, only the build's test certificate is trusted, and only on the test hosts.
TEST_F(SoupHttpClientTest, TrustsTheBuildsTestCertificateOnLoopbackOnly)
{
    gchar* pem = nullptr;
    g_spawn_command_line_sync("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
                              " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
                              " -keyout /dev/stdout", &pem, nullptr, nullptr, nullptr);
    GTlsCertificate* unknown = pem ? g_tls_certificate_new_from_pem(pem, -1, nullptr) : nullptr;
    g_free(pem);
    ASSERT_NE(unknown, nullptr) << "openssl could not make a certificate";
    Server stranger(unknown);
    g_object_unref(unknown);
    HttpResponse refused = send(get(stranger.url("/ok")));
    EXPECT_TRUE(!refused.status && refused.error);
    EXPECT_GE(stranger.started, 1) << "it reached the server and stopped at the handshake";
    EXPECT_EQ(stranger.count["/ok"], 0);

    const fs::path cert = NOLAR_TEST_CERT;
    if (cert.empty())
        GTEST_SKIP() << "this build trusts no test certificate";
    const fs::path key = cert.parent_path() / "key.pem";
    GTlsCertificate* certificate = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), nullptr);
    if (!certificate)
        GTEST_SKIP() << "no key beside " << cert;
    Server tls(certificate);
    g_object_unref(certificate);
    HttpResponse trusted = send(get(tls.url("/ok")));
    EXPECT_EQ(trusted.error, std::nullopt);
    EXPECT_EQ(trusted.status, 200);
    // The same certificate names localhost too, but the exception is for the test hosts alone.
    int reached = tls.started;
    refused = send(get(tls.url("/ok?via=localhost", "localhost")));
    EXPECT_TRUE(!refused.status && refused.error);
    EXPECT_GT(tls.started, reached);
    EXPECT_EQ(tls.count["/ok?via=localhost"], 0);

    // A redirect to plain http is followed only when https is not required.
    std::string toPlain = tls.url("/redirect?to=" + server.url("/ok"));
    EXPECT_EQ(send(get(toPlain)).status, 200);
    ASSERT_EQ(server.count["/ok"], 1);
    refused = send(get(toPlain, true));
    EXPECT_TRUE(!refused.status && refused.error);
    EXPECT_EQ(server.count["/ok"], 1);
}
