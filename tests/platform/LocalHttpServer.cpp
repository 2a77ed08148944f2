#include "LocalHttpServer.h"

#include <chrono>

namespace {

GSocketListener* listenOnLoopback(int* port)
{
    GSocketListener* listener = g_socket_listener_new();
    GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
    GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
    GSocketAddress* effective = nullptr;
    g_socket_listener_add_address(listener, address, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr,
                                  &effective, nullptr);
    *port = effective ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective)) : 0;
    g_clear_object(&effective);
    g_object_unref(address);
    g_object_unref(loopback);
    return listener;
}

bool writeAll(GIOStream* stream, const std::string& data)
{
    return g_output_stream_write_all(g_io_stream_get_output_stream(stream), data.data(), data.size(), nullptr,
                                     nullptr, nullptr);
}

std::string head(int status, const char* reason, size_t length, bool withLength = true)
{
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    if (withLength)
        text += "Content-Length: " + std::to_string(length) + "\r\n";
    return text + "Connection: close\r\n\r\n";
}

} // namespace

LocalHttpServer::LocalHttpServer(GTlsCertificate* certificate)
    : certificate(certificate ? G_TLS_CERTIFICATE(g_object_ref(certificate)) : nullptr),
      stop(g_cancellable_new())
{
    listener = listenOnLoopback(&port);
    acceptor = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer()
{
    g_cancellable_cancel(stop);
    acceptor.join();
    for (auto& worker : workers)
        worker.join();
    g_socket_listener_close(listener);
    g_object_unref(listener);
    g_object_unref(stop);
    g_clear_object(&certificate);
}

std::string LocalHttpServer::url(const std::string& path, const std::string& host) const
{
    return std::string(certificate ? "https://" : "http://") + host + ":" + std::to_string(port) + path;
}

std::string LocalHttpServer::lastRequest(const std::string& path) const
{
    std::lock_guard lock(mutex);
    auto found = requests.find(path);
    return found == requests.end() ? "" : found->second;
}

std::string LocalHttpServer::fileBody()
{
    std::string body(300 * 1024 + 17, '\0');
    guint32 state = 2463534242u;
    for (char& c : body) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        c = static_cast<char>(state % 7 == 0 ? 0 : state & 0xff);
    }
    return body;
}

int LocalHttpServer::closedPort()
{
    int port = 0;
    GSocketListener* listener = listenOnLoopback(&port);
    g_socket_listener_close(listener);
    g_object_unref(listener);
    return port;
}

int LocalHttpServer::requestCount(const std::string& path) const
{
    std::lock_guard lock(mutex);
    auto found = counts.find(path);
    return found == counts.end() ? 0 : found->second;
}

void LocalHttpServer::acceptLoop()
{
    while (GSocketConnection* connection = g_socket_listener_accept(listener, nullptr, stop, nullptr)) {
        ++accepted;
        std::lock_guard lock(mutex);
        workers.emplace_back([this, connection] {
            serve(connection);
            g_object_unref(connection);
        });
    }
}

void LocalHttpServer::serve(GSocketConnection* connection)
{
    GIOStream* stream = G_IO_STREAM(g_object_ref(connection));
    if (certificate) {
        GIOStream* tls = g_tls_server_connection_new(stream, certificate, nullptr);
        g_object_unref(stream);
        stream = tls;
        if (!stream || !g_tls_connection_handshake(G_TLS_CONNECTION(stream), stop, nullptr)) {
            g_clear_object(&stream);
            return;
        }
    }
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        gssize n = g_input_stream_read(g_io_stream_get_input_stream(stream), buffer, sizeof buffer, stop, nullptr);
        if (n <= 0)
            break;
        request.append(buffer, n);
    }
    size_t space = request.find(' ');
    size_t pathEnd = request.find(' ', space + 1);
    if (space != std::string::npos && pathEnd != std::string::npos) {
        std::string path = request.substr(space + 1, pathEnd - space - 1);
        {
            std::lock_guard lock(mutex);
            requests[path] = request;
            ++counts[path];
        }
        respond(stream, request.substr(0, space), path);
    }
    g_io_stream_close(stream, nullptr, nullptr);
    g_object_unref(stream);
}

void LocalHttpServer::respond(GIOStream* stream, const std::string& method, const std::string& path)
{
    bool headOnly = method == "HEAD";
    auto reply = [&](int status, const char* reason, const std::string& body) {
        writeAll(stream, head(status, reason, body.size(), status != 204) + (headOnly ? "" : body));
    };
    if (path == "/ok") {
        reply(200, "OK", "hello nolar");
    } else if (path == "/empty") {
        reply(204, "No Content", "");
    } else if (path == "/file") {
        reply(200, "OK", fileBody());
    } else if (path == "/truncated") {
        writeAll(stream, head(200, "OK", 100000) + std::string(50000, 'x'));
    } else if (path == "/slow") {
        writeAll(stream, head(200, "OK", 20 * 64));
        for (int i = 0; i < 20 && !g_cancellable_is_cancelled(stop); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            writeAll(stream, std::string(64, 's'));
        }
    } else if (path.rfind("/redirect?to=", 0) == 0) {
        writeAll(stream, "HTTP/1.1 302 Found\r\nLocation: " + path.substr(13) +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    } else if (path == "/stall") {
        char buffer[256];
        while (g_input_stream_read(g_io_stream_get_input_stream(stream), buffer, sizeof buffer, stop, nullptr) > 0) {
        }
        if (!g_cancellable_is_cancelled(stop))
            ++stallsAbandoned;
    } else {
        reply(404, "Not Found", "not here");
    }
}
