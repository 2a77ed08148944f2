#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>
#include <glib/gstdio.h>
#include "LocalHttpServer.h"
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

const std::string timedOut = "Превышен лимит времени на запрос.";

HttpResponse send(SoupHttpClient& client, const HttpRequest& request)
{
    std::optional<HttpResponse> result;
    int calls = 0;
    client.send(request, [&](HttpResponse r) { result = r, ++calls; });
    EXPECT_TRUE(runUntil([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    return result.value_or(HttpResponse{});
}

DownloadResult download(SoupHttpClient& client, const HttpRequest& request)
{
    std::optional<DownloadResult> result;
    client.download(request, [&](DownloadResult r) { result = r; });
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
    return result.value_or(DownloadResult{});
}

std::set<std::string> leftovers()
{
    std::set<std::string> names;
    GDir* dir = g_dir_open(g_get_tmp_dir(), 0, nullptr);
    while (const gchar* name = dir ? g_dir_read_name(dir) : nullptr)
        if (g_str_has_prefix(name, "nolar-dl-"))
            names.insert(name);
    if (dir)
        g_dir_close(dir);
    return names;
}

GTlsCertificate* makeSelfSignedCertificate(const std::string& dir)
{
    std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
    std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                          " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + key +
                          " -out " + cert;
    gint status = -1;
    gchar* out = nullptr;
    gchar* err = nullptr;
    gboolean ran = g_spawn_command_line_sync(command.c_str(), &out, &err, &status, nullptr);
    g_free(out);
    g_free(err);
    if (!ran || status != 0)
        return nullptr;
    return g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), nullptr);
}

} // namespace

struct SendCase {
    const char* method;
    const char* path;
    int status;
    const char* body;
};

TEST(SoupHttpClientTest, ReportsStatusAndBodyOfEveryAnswer)
{
    LocalHttpServer server;
    SoupHttpClient client;
    const SendCase cases[] = {
        {"GET", "/ok", 200, "hello nolar"},
        {"GET", "/missing", 404, "not here"},
        {"HEAD", "/empty", 204, ""},
        {"HEAD", "/ok", 200, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        HttpResponse r = send(client, HttpRequest{c.method, server.url(c.path), 10, true, false, 0});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, std::string(c.body));
        EXPECT_EQ(r.error, std::nullopt);
    }
}

TEST(SoupHttpClientTest, AsksPastCachesOnlyWhenTold)
{
    LocalHttpServer server;
    SoupHttpClient client;
    for (bool ignoreCache : {true, false}) {
        send(client, HttpRequest{"GET", server.url("/ok"), 10, ignoreCache, false, 0});
        std::string request = server.lastRequest("/ok");
        EXPECT_EQ(request.find("Cache-Control: no-cache") != std::string::npos, ignoreCache) << request;
        EXPECT_EQ(request.find("Pragma: no-cache") != std::string::npos, ignoreCache) << request;
    }
}

TEST(SoupHttpClientTest, FailuresWithoutAnswerHaveNoStatus)
{
    LocalHttpServer server;
    SoupHttpClient client;
    std::string refused = "http://127.0.0.1:" + std::to_string(LocalHttpServer::closedPort()) + "/ok";
    const struct {
        std::string url;
        double timeout;
        std::optional<std::string> error;
    } cases[] = {
        {refused, 10, std::nullopt},
        {server.url("/stall"), 0.3, timedOut},
        {"not a url", 10, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        HttpResponse r = send(client, HttpRequest{"GET", c.url, c.timeout, true, false, 0});
        EXPECT_EQ(r.status, std::nullopt);
        EXPECT_EQ(r.body, std::nullopt);
        ASSERT_TRUE(r.error.has_value());
        EXPECT_FALSE(r.error->empty());
        if (c.error) {
            EXPECT_EQ(*r.error, *c.error);
        }
    }
}

TEST(SoupHttpClientTest, BodyCutShortIsAnError)
{
    LocalHttpServer server;
    SoupHttpClient client;
    HttpResponse r = send(client, HttpRequest{"GET", server.url("/truncated"), 10, true, false, 0});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, std::nullopt);
    EXPECT_TRUE(r.error.has_value());
}

TEST(SoupHttpClientTest, TimeOutCountsSilenceNotTheWholeTransfer)
{
    LocalHttpServer server;
    SoupHttpClient client;
    // The trickle lasts about twice the limit, but never pauses for long.
    HttpResponse r = send(client, HttpRequest{"GET", server.url("/slow"), 1.0, true, false, 0});
    EXPECT_EQ(r.error, std::nullopt);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, std::string(20 * 64, 's'));
}

TEST(SoupHttpClientTest, DownloadsIntoPrivateFileOnlyWhenComplete)
{
    LocalHttpServer server;
    SoupHttpClient client;
    std::set<std::string> before = leftovers();
    const struct {
        std::string path;
        std::optional<int> status;
        std::optional<std::string> content;
    } cases[] = {
        {"/file", 200, LocalHttpServer::fileBody()},
        {"/missing", 404, std::string("not here")},
        {"/truncated", 200, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        DownloadResult r = download(client, HttpRequest{"GET", server.url(c.path), 10, true, false, 0});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error.has_value(), !c.content.has_value());
        ASSERT_EQ(r.file.has_value(), c.content.has_value());
        if (!r.file)
            continue;
        EXPECT_TRUE(g_str_has_prefix(r.file->c_str(), g_get_tmp_dir()));
        struct stat info {};
        ASSERT_EQ(stat(r.file->c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(readFile(*r.file), *c.content);
        g_unlink(r.file->c_str());
    }
    EXPECT_EQ(leftovers(), before);
}

TEST(SoupHttpClientTest, ABodyOverTheLimitFailsAndLeavesNoFile)
{
    LocalHttpServer server;
    SoupHttpClient client;
    auto before = leftovers();
    const uint64_t size = LocalHttpServer::fileBody().size();
    for (uint64_t limit : {size, size - 1}) {
        SCOPED_TRACE(limit);
        HttpResponse sent = send(client, HttpRequest{"GET", server.url("/file"), 10, true, false, limit});
        DownloadResult fetched = download(client, HttpRequest{"GET", server.url("/file"), 10, true, false, limit});
        EXPECT_EQ(sent.body.has_value(), limit == size);
        EXPECT_EQ(fetched.file.has_value(), limit == size);
        EXPECT_EQ(fetched.error.has_value(), limit < size);
        if (fetched.file)
            g_unlink(fetched.file->c_str());
    }
    EXPECT_EQ(leftovers(), before);
}

TEST(SoupHttpClientTest, HttpsOnlyRefusesAPlainAddressUnasked)
{
    LocalHttpServer server;
    SoupHttpClient client;
    ASSERT_EQ(send(client, HttpRequest{"GET", server.url("/ok"), 10, true, false, 0}).status, 200);
    HttpResponse refused = send(client, HttpRequest{"GET", server.url("/ok"), 10, true, true, 0});
    EXPECT_EQ(refused.status, std::nullopt);
    EXPECT_TRUE(refused.error.has_value());
    EXPECT_EQ(server.requestCount("/ok"), 1);
}

TEST(SoupHttpClientTest, DestroyedClientNeverCompletes)
{
    LocalHttpServer server;
    bool called = false;
    {
        SoupHttpClient client;
        client.send(HttpRequest{"GET", server.url("/stall"), 30, true, false, 0}, [&](HttpResponse) { called = true; });
        client.download(HttpRequest{"GET", server.url("/stall"), 30, true, false, 0}, [&](DownloadResult) { called = true; });
        // Both requests must have reached the server before the client goes.
        ASSERT_TRUE(runUntil([&] { return server.requestCount("/stall") == 2; }));
    }
    EXPECT_TRUE(runUntil([&] { return server.abandonedStalls() == 2; }));
    EXPECT_FALSE(called);
}

TEST(SoupHttpClientTest, RefusesUnknownCertificates)
{
    TempDir dir;
    GTlsCertificate* certificate = makeSelfSignedCertificate(dir.path);
    ASSERT_NE(certificate, nullptr) << "openssl could not make a certificate";
    {
        LocalHttpServer server(certificate);
        SoupHttpClient client;
        HttpResponse r = send(client, HttpRequest{"GET", server.url("/ok"), 10, true, false, 0});
        EXPECT_EQ(r.status, std::nullopt);
        EXPECT_TRUE(r.error.has_value());
        // It reached the server and stopped at the handshake.
        EXPECT_GE(server.connections(), 1);
        EXPECT_EQ(server.requestCount("/ok"), 0);
    }
    g_object_unref(certificate);
}

TEST(SoupHttpClientTest, TrustsTheBuildsTestCertificateOnLoopbackOnly)
{
    std::string cert = NOLAR_TEST_CERT;
    if (cert.empty())
        GTEST_SKIP() << "this build trusts no test certificate";
    gchar* dir = g_path_get_dirname(cert.c_str());
    std::string key = std::string(dir) + "/key.pem";
    g_free(dir);
    GTlsCertificate* certificate = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), nullptr);
    if (!certificate)
        GTEST_SKIP() << "no key beside " << cert;
    {
        LocalHttpServer server(certificate);
        SoupHttpClient client;
        HttpResponse trusted = send(client, HttpRequest{"GET", server.url("/ok"), 10, true, false, 0});
        EXPECT_EQ(trusted.error, std::nullopt);
        EXPECT_EQ(trusted.status, 200);
        // The same certificate names localhost too, but the exception is for the test hosts alone.
        int reached = server.connections();
        HttpResponse other = send(client, HttpRequest{"GET", server.url("/ok?via=localhost", "localhost"), 10, true, false, 0});
        EXPECT_EQ(other.status, std::nullopt);
        EXPECT_TRUE(other.error.has_value());
        EXPECT_GT(server.connections(), reached);
        EXPECT_EQ(server.requestCount("/ok?via=localhost"), 0);

        // A redirect to plain http is followed only when https is not required.
        LocalHttpServer plain;
        std::string toPlain = server.url("/redirect?to=" + plain.url("/ok"));
        EXPECT_EQ(send(client, HttpRequest{"GET", toPlain, 10, true, false, 0}).status, 200);
        ASSERT_EQ(plain.requestCount("/ok"), 1);
        HttpResponse refused = send(client, HttpRequest{"GET", toPlain, 10, true, true, 0});
        EXPECT_EQ(refused.status, std::nullopt);
        EXPECT_TRUE(refused.error.has_value());
        EXPECT_EQ(plain.requestCount("/ok"), 1);
    }
    g_object_unref(certificate);
}
