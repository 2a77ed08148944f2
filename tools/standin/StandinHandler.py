"""One HTTP exchange with the stand-in: records it, applies the failure switches, routes it."""

import json
import socket
import ssl
import struct
import sys
import time
from http.server import BaseHTTPRequestHandler
from urllib.parse import urlsplit

from ControlApi import ControlApi
from SiteRoutes import SiteRoutes

MAX_BODY = 1 << 20


class StandinHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "standin"
    sys_version = ""
    # idle keep-alive connections are let go after this many seconds
    timeout = 75

    def setup(self):
        super().setup()
        self.exchanges = 0

    def version_string(self):
        return self.server_version

    def do_GET(self):
        self.handleExchange()

    def do_HEAD(self):
        self.handleExchange()

    def do_POST(self):
        self.handleExchange()

    def do_PUT(self):
        self.handleExchange()

    def do_DELETE(self):
        self.handleExchange()

    def do_OPTIONS(self):
        self.handleExchange()

    # --- the exchange ---------------------------------------------------

    def handleExchange(self):
        state = self.server.state
        host = self.server.hostAddress
        self.pathOnly = urlsplit(self.path).path or "/"
        self.query = urlsplit(self.path).query
        self.status = None
        self.quiet = False
        isControl = self.pathOnly.startswith("/__control/")
        record = None if isControl else state.recordRequest(host, self.command, self.path, self.headers)
        reused = self.exchanges > 0
        self.exchanges += 1
        if state.holdWhileSilent(host, self.pathOnly) or state.shouldDrop(host, self.pathOnly, reused):
            self.dropConnection()
            state.finishRequest(record, dropped=True)
            self.logLine("dropped")
            return
        try:
            body = self.readBody()
            if body is None:
                self.sendBytes(413, "text/plain; charset=utf-8", b"request body too large\n")
            elif body is False:
                self.sendBytes(400, "text/plain; charset=utf-8", b"malformed request body\n")
            elif isControl:
                ControlApi(self, state).handle(body)
            else:
                SiteRoutes(self, state, self.server.pages).handle(body)
        except (ConnectionError, socket.timeout, ssl.SSLError):
            # the client went away mid-exchange; nothing to answer
            self.close_connection = True
        except Exception as e:  # a bug in a route must not take the server down
            sys.stderr.write("standin: %s %s failed: %s: %s\n" % (self.command, self.path, type(e).__name__, e))
            if self.status is None:
                self.sendBytes(500, "text/plain; charset=utf-8", b"internal error\n")
            else:
                self.close_connection = True
        if record is not None:
            state.finishRequest(record, status=self.status)
        if not self.quiet:
            self.logLine(self.status)

    def readBody(self):
        """The request body as bytes; None when it is too large to accept, False when malformed."""
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            try:
                return self.readChunked()
            except ValueError:
                self.close_connection = True
                return False
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
        if length > MAX_BODY:
            self.close_connection = True
            return None
        body = self.rfile.read(length) if length > 0 else b""
        if len(body) < length:
            raise ConnectionError("request body cut short")
        return body

    def readChunked(self):
        parts = []
        total = 0
        while True:
            line = self.rfile.readline(1024)
            size = int(line.split(b";", 1)[0].strip() or b"0", 16)
            if size == 0:
                while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                    pass
                return b"".join(parts)
            total += size
            if total > MAX_BODY:
                self.close_connection = True
                return None
            parts.append(self.rfile.read(size))
            self.rfile.readline(1024)

    # --- answers ------------------------------------------------------------

    def sendBytes(self, status, contentType, body, headers=None):
        self.status = status
        self.send_response(status)
        if contentType:
            self.send_header("Content-Type", contentType)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in (headers or []):
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD" and status not in (204, 304):
            self.wfile.write(body)

    def sendJson(self, status, value, headers=None):
        body = json.dumps(value, ensure_ascii=False).encode("utf-8")
        self.sendBytes(status, "application/json; charset=utf-8", body, headers)

    def sendTruncated(self, status, contentType, body, headers=None):
        """Announces the whole body but sends only its first half, then ends the connection."""
        self.status = status
        self.send_response(status)
        self.send_header("Content-Type", contentType)
        self.send_header("Content-Length", str(len(body)))
        for name, value in (headers or []):
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            # FIN without a TLS close_notify: the client sees the stream end early
            self.connection.shutdown(socket.SHUT_RDWR)
        self.close_connection = True

    def dropConnection(self):
        """Ends the connection without any HTTP answer: a transport failure for the client."""
        self.status = None
        self.close_connection = True
        try:
            # linger 0 makes the close a reset, which no client mistakes for a finished answer
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass

    # --- logging ------------------------------------------------------------

    def logLine(self, outcome):
        stamp = time.strftime("%H:%M:%S", time.localtime())
        sys.stderr.write("%s %s %s %s %s\n" % (stamp, self.server.hostAddress, self.command, self.path, outcome))
        sys.stderr.flush()

    def log_message(self, format, *args):
        # Answers are logged once per exchange by logLine; this only sees protocol errors.
        sys.stderr.write("standin: %s %s\n" % (self.server.hostAddress, format % args))
        sys.stderr.flush()

    def log_request(self, code="-", size="-"):
        pass
