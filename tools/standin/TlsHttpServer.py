"""A threading HTTP server bound to one loopback address that speaks TLS on every connection."""

import socket
import ssl
import sys
from http.server import ThreadingHTTPServer


class TlsHttpServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, host, port, handlerClass, sslContext, state, pages):
        self.hostAddress = host
        self.sslContext = sslContext
        self.state = state
        self.pages = pages
        super().__init__((host, port), handlerClass)

    def finish_request(self, request, client_address):
        # The handshake runs here, in the connection's own thread, so that a client that
        # stalls or speaks plain HTTP cannot hold up the accepting loop.
        try:
            request.settimeout(30)
            tls = self.sslContext.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            sys.stderr.write("standin: %s tls handshake failed: %s\n" % (self.hostAddress, e))
            sys.stderr.flush()
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def shutdown_request(self, request):
        # After wrap_socket the plain socket is detached; the TLS socket was closed above.
        try:
            request.close()
        except OSError:
            pass

    def handle_error(self, request, client_address):
        kind, value = sys.exc_info()[:2]
        if isinstance(value, (ConnectionError, socket.timeout, ssl.SSLError)):
            return
        sys.stderr.write("standin: %s error: %s: %s\n" % (self.hostAddress, kind.__name__, value))
        sys.stderr.flush()
