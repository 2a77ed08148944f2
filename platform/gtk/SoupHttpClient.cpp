#include "platform/gtk/SoupHttpClient.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <glib/gstdio.h>
#include <gio/gunixoutputstream.h>

namespace platform::gtk {

namespace {

constexpr gsize chunkSize = 64 * 1024;
// The wording users already know from the system's own network errors.
constexpr const char* timedOutText = "Превышен лимит времени на запрос.";
constexpr const char* badUrlText = "Неподдерживаемый URL";
constexpr const char* connectionLostText = "Сетевое соединение было потеряно.";
constexpr const char* insecureText = "Сервер перенаправил запрос на незащищённый адрес.";
constexpr const char* tooLargeText = "Ответ сервера слишком велик.";

#ifdef NOLAR_TEST_CERT
// Test builds trust one extra certificate, and only on the loopback hosts the tests use.
gboolean acceptTestCertificate(SoupMessage* message, GTlsCertificate* peer, GTlsCertificateFlags, gpointer data)
{
    const char* host = g_uri_get_host(soup_message_get_uri(message));
    std::string_view h = host ? host : "";
    if (h != "127.0.0.1" && h != "127.0.0.2")
        return FALSE;
    return g_tls_certificate_is_same(peer, G_TLS_CERTIFICATE(data));
}
#endif

} // namespace

// One request in flight. Exactly one asynchronous step is pending at any time, and the step that
// ends the chain frees the transfer, so nothing else may delete it.
struct SoupHttpClient::Transfer {
    SoupHttpClient* owner;
    SoupSession* session;
    SoupMessage* message = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    GInputStream* input = nullptr;
    GOutputStream* output = nullptr;
    GBytes* writing = nullptr;
    GError* startError = nullptr;
    std::string path;
    std::string body;
    goffset received = 0;
    guint timeoutMs = 0;
    guint timer = 0;
    bool timedOut = false;
    bool toFile = false;
    bool httpsOnly = false;
    guint64 maxBytes = 0;
    const char* refusal = nullptr; // why the transfer was stopped on our side
    std::function<void(platform::HttpResponse)> onResponse;
    std::function<void(platform::DownloadResult)> onDownload;

    Transfer(SoupHttpClient* owner, SoupSession* session)
        : owner(owner), session(SOUP_SESSION(g_object_ref(session))) {}
    ~Transfer()
    {
        if (timer)
            g_source_remove(timer);
        g_clear_pointer(&writing, g_bytes_unref);
        g_clear_object(&output);
        g_clear_object(&input);
        g_clear_object(&message);
        g_clear_object(&cancellable);
        g_clear_error(&startError);
        g_object_unref(session);
    }
};

namespace {

using Transfer = SoupHttpClient::Transfer;

gboolean onTimeout(gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    t->timer = 0;
    t->timedOut = true;
    g_cancellable_cancel(t->cancellable);
    return G_SOURCE_REMOVE;
}

// The limit is on silence, not on the whole transfer: a large archive on a slow but live link
// must not fail just because it takes long.
void armTimer(Transfer* t)
{
    if (t->timer)
        g_source_remove(t->timer);
    t->timer = t->timeoutMs ? g_timeout_add(t->timeoutMs, onTimeout, t) : 0;
}

std::optional<std::string> errorText(Transfer* t, GError* error)
{
    if (t->refusal)
        return std::string(t->refusal);
    if (t->timedOut && (!error || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)))
        return std::string(timedOutText);
    if (error)
        return std::string(error->message);
    return std::nullopt;
}

// libsoup ends a body quietly when the connection closes early, so a short body is caught here.
// Counting the bytes as they came is exact because the session decodes no content encodings.
bool cutShort(Transfer* t)
{
    SoupStatus status = soup_message_get_status(t->message);
    if (g_strcmp0(soup_message_get_method(t->message), SOUP_METHOD_HEAD) == 0 || status == SOUP_STATUS_NO_CONTENT ||
        status == SOUP_STATUS_NOT_MODIFIED)
        return false;
    SoupMessageHeaders* headers = soup_message_get_response_headers(t->message);
    return soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
           t->received != soup_message_headers_get_content_length(headers);
}

// Ends the transfer: builds the result, hands it over and frees everything.
void finish(Transfer* t, GError* error)
{
    if (t->timer) {
        g_source_remove(t->timer);
        t->timer = 0;
    }
    std::optional<int> status;
    if (t->input)
        status = static_cast<int>(soup_message_get_status(t->message));
    std::optional<std::string> text = errorText(t, error);
    if (!text && t->input && cutShort(t))
        text = std::string(connectionLostText);

    std::optional<std::string> file;
    if (t->toFile) {
        GError* closeError = nullptr;
        if (t->output && !g_output_stream_close(t->output, nullptr, &closeError) && !text)
            text = std::string(closeError->message);
        g_clear_error(&closeError);
        if (!text)
            file = t->path;
        else if (!t->path.empty())
            g_unlink(t->path.c_str());
    }

    SoupHttpClient* owner = t->owner;
    auto onResponse = std::move(t->onResponse);
    auto onDownload = std::move(t->onDownload);
    std::optional<std::string> body;
    if (!text && !t->toFile)
        body = std::move(t->body);
    if (owner)
        owner->forget(t);
    delete t;
    if (!owner)
        return;
    if (onDownload)
        onDownload(platform::DownloadResult{file, status, text});
    else if (onResponse)
        onResponse(platform::HttpResponse{status, body, text});
}

void readNext(Transfer* t);

void onWritten(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    GError* error = nullptr;
    g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, &error);
    g_clear_pointer(&t->writing, g_bytes_unref);
    if (error) {
        finish(t, error);
        g_error_free(error);
        return;
    }
    readNext(t);
}

void onRead(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!bytes) {
        finish(t, error);
        g_error_free(error);
        return;
    }
    gsize size = 0;
    const void* bytesData = g_bytes_get_data(bytes, &size);
    if (size == 0) {
        g_bytes_unref(bytes);
        finish(t, nullptr);
        return;
    }
    armTimer(t);
    t->received += size;
    if (t->maxBytes && static_cast<guint64>(t->received) > t->maxBytes) {
        g_bytes_unref(bytes);
        t->refusal = tooLargeText;
        finish(t, nullptr);
        return;
    }
    if (t->toFile) {
        t->writing = bytes;
        g_output_stream_write_all_async(t->output, bytesData, size, G_PRIORITY_DEFAULT, t->cancellable,
                                        onWritten, t);
        return;
    }
    t->body.append(static_cast<const char*>(bytesData), size);
    g_bytes_unref(bytes);
    readNext(t);
}

void readNext(Transfer* t)
{
    g_input_stream_read_bytes_async(t->input, chunkSize, G_PRIORITY_DEFAULT, t->cancellable, onRead, t);
}

bool isHttps(SoupMessage* message)
{
    return g_strcmp0(g_uri_get_scheme(soup_message_get_uri(message)), "https") == 0;
}

// Before each send, the first and every redirected one: a plain http hop is never made.
void onStarting(SoupMessage* message, gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    if (isHttps(message))
        return;
    t->refusal = insecureText;
    g_cancellable_cancel(t->cancellable);
}

// A response that must not be read: it came over plain http after all, or announces more than the limit.
const char* refusalOfResponse(Transfer* t)
{
    if (t->httpsOnly && !isHttps(t->message))
        return insecureText;
    SoupMessageHeaders* headers = soup_message_get_response_headers(t->message);
    if (t->maxBytes && soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        static_cast<guint64>(soup_message_headers_get_content_length(headers)) > t->maxBytes)
        return tooLargeText;
    return nullptr;
}

void onSent(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    GError* error = nullptr;
    t->input = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!t->input) {
        finish(t, error);
        g_error_free(error);
        return;
    }
    if (const char* refusal = refusalOfResponse(t)) {
        t->refusal = refusal;
        finish(t, nullptr);
        return;
    }
    armTimer(t);
    readNext(t);
}

gboolean onStartFailed(gpointer data)
{
    auto* t = static_cast<Transfer*>(data);
    finish(t, t->startError);
    return G_SOURCE_REMOVE;
}

bool openPrivateFile(Transfer* t)
{
    gchar* name = g_build_filename(g_get_tmp_dir(), "nolar-dl-XXXXXX", nullptr);
    int fd = g_mkstemp_full(name, O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        int code = errno;
        t->startError = g_error_new(G_IO_ERROR, g_io_error_from_errno(code), "%s", g_strerror(code));
        g_free(name);
        return false;
    }
    t->path = name;
    g_free(name);
    t->output = g_unix_output_stream_new(fd, TRUE);
    return true;
}

} // namespace

SoupHttpClient::SoupHttpClient()
    : session(soup_session_new())
{
    soup_session_remove_feature_by_type(session, SOUP_TYPE_CONTENT_DECODER);
    // Each request keeps its own limit; the session's shorter default would cut it.
    g_object_set(session, "timeout", 0u, nullptr);
#ifdef NOLAR_TEST_CERT
    testCertificate = g_tls_certificate_new_from_file(NOLAR_TEST_CERT, nullptr);
#endif
}

SoupHttpClient::~SoupHttpClient()
{
    // Transfers still running end on their own once cancelled; their completions belong to
    // objects that may already be gone, so they are dropped.
    for (Transfer* t : transfers) {
        t->owner = nullptr;
        g_cancellable_cancel(t->cancellable);
    }
    g_clear_object(&testCertificate);
    g_object_unref(session);
}

SoupHttpClient::Transfer* SoupHttpClient::start(const platform::HttpRequest& request)
{
    auto* t = new Transfer(this, session);
    transfers.insert(t);
    double ms = request.timeoutSeconds * 1000.0;
    t->timeoutMs = ms <= 0 ? 0 : ms >= G_MAXUINT ? G_MAXUINT : static_cast<guint>(ms + 0.5);
    t->message = soup_message_new(request.method.c_str(), request.url.c_str());
    if (!t->message) {
        t->startError = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, badUrlText);
        return t;
    }
    t->maxBytes = request.maxBytes;
    t->httpsOnly = request.httpsOnly;
    if (t->httpsOnly) {
        if (!isHttps(t->message)) {
            t->startError = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, badUrlText);
            return t;
        }
        g_signal_connect(t->message, "starting", G_CALLBACK(onStarting), t);
    }
    if (request.ignoreCache) {
        SoupMessageHeaders* headers = soup_message_get_request_headers(t->message);
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
#ifdef NOLAR_TEST_CERT
    if (testCertificate)
        g_signal_connect_data(t->message, "accept-certificate", G_CALLBACK(acceptTestCertificate),
                              g_object_ref(testCertificate), [](gpointer d, GClosure*) { g_object_unref(d); },
                              GConnectFlags(0));
#endif
    return t;
}

namespace {

void launch(Transfer* t)
{
    if (t->startError) {
        g_idle_add(onStartFailed, t);
        return;
    }
    armTimer(t);
    soup_session_send_async(t->session, t->message, G_PRIORITY_DEFAULT, t->cancellable, onSent, t);
}

} // namespace

void SoupHttpClient::send(const platform::HttpRequest& request, std::function<void(platform::HttpResponse)> completion)
{
    Transfer* t = start(request);
    t->onResponse = std::move(completion);
    launch(t);
}

void SoupHttpClient::download(const platform::HttpRequest& request,
                              std::function<void(platform::DownloadResult)> completion)
{
    Transfer* t = start(request);
    t->onDownload = std::move(completion);
    t->toFile = true;
    if (!t->startError)
        openPrivateFile(t);
    launch(t);
}

} // namespace platform::gtk
