"""The stand-in's pages: the service's own on the first host, a foreign site on the others."""

import json
import secrets
import shutil
from urllib.parse import parse_qs

HTML = "text/html; charset=utf-8"
SESSION_COOKIE = "nolar_session"
CORS = [("Access-Control-Allow-Origin", "*")]


def hasSessionCookie(header):
    return any(part.strip().startswith(SESSION_COOKIE + "=") for part in (header or "").split(";"))


class SiteRoutes:
    def __init__(self, handler, state, pages):
        self.handler = handler
        self.state = state
        self.pages = pages
        query = parse_qs(handler.query, keep_blank_values=True)
        self.params = {k: v[-1] for k, v in query.items()}

    def handle(self, body):
        path = self.handler.pathOnly
        method = self.handler.command
        if path == "/__report":
            self.report(body)
        elif method == "OPTIONS":
            self.handler.sendBytes(204, None, b"", CORS + [
                ("Access-Control-Allow-Methods", "GET, POST, OPTIONS"),
                ("Access-Control-Allow-Headers", "Content-Type"),
                ("Access-Control-Max-Age", "600")])
        elif method not in ("GET", "HEAD"):
            self.handler.sendBytes(405, "text/plain; charset=utf-8", b"method not allowed\n", [("Allow", "GET, HEAD")])
        elif path == "/messenger/cmd":
            self.commands()
        elif self.handler.server.hostAddress == self.state.serviceHost:
            self.servicePage(path)
        else:
            self.foreignPage(path)

    # --- test hook ------------------------------------------------------

    def report(self, body):
        if self.handler.command == "POST":
            try:
                payload = json.loads(body.decode("utf-8"))
            except ValueError:
                payload = {"kind": "malformed", "value": body.decode("utf-8", "replace")}
        else:
            value = self.params.get("value")
            try:
                value = json.loads(value) if value is not None else None
            except ValueError:
                pass
            payload = {"kind": self.params.get("kind", ""), "value": value, "origin": self.params.get("origin")}
        report = self.state.addReport(self.handler.server.hostAddress, payload)
        self.handler.sendBytes(204, None, b"", CORS)
        self.handler.quiet = True
        self.handler.logLine("report %s %s" % (report["kind"], json.dumps(report["value"], ensure_ascii=False)[:160]))

    def commands(self):
        taken = self.state.takeCommands(self.params.get("channel") or "messenger")
        self.handler.quiet = not taken
        self.handler.sendJson(200, taken)

    # --- the service ------------------------------------------------------

    def servicePage(self, path):
        h = self.handler
        pages = {
            "/": ("index.html", "root"),
            "/about/": ("about.html", "about"),
            "/popup/self-closing.html": ("popup.html", "popup"),
        }
        if self.pages.messengerDir and path.startswith("/messenger/"):
            found = self.pages.messengerFile(path[len("/messenger/"):] or "index.html")
            if found:
                h.sendBytes(200, found[0], found[1])
            else:
                self.notFound()
        elif path == "/messenger/":
            self.messenger()
        elif path == "/messenger":
            h.sendBytes(301, "text/plain; charset=utf-8", b"moved\n", [("Location", "/messenger/")])
        elif path in pages:
            name, channel = pages[path]
            h.sendBytes(200, HTML, self.pages.page(name, channel))
        elif path == "/files/report.pdf":
            h.sendBytes(200, "application/pdf", self.pages.pdf,
                        [("Content-Disposition", 'attachment; filename="report.pdf"')])
        elif path == "/files/data.bin":
            h.sendBytes(200, "application/x-nolar-test", self.pages.binary)
        elif path == "/files/named":
            # An attachment whose name the test chooses: what a hostile sender could name a file.
            name = "".join(c for c in self.params.get("name", "") if c >= " ").replace("\\", "\\\\").replace('"', '\\"')
            h.sendBytes(200, "text/plain; charset=utf-8", b"attachment body\n",
                        [("Content-Disposition", 'attachment; filename="%s"' % name)])
        elif path == "/go":
            # A link tracker of the service: an own link that redirects elsewhere.
            h.sendBytes(302, "text/plain; charset=utf-8", b"moved\n", [("Location", self.params.get("to", "/"))])
        elif path == "/app/mac/version.json":
            status, body, redirect = self.state.manifest()
            if redirect:
                h.sendBytes(302, "text/plain; charset=utf-8", b"moved\n", [("Location", redirect)])
            else:
                h.sendBytes(status, "application/json", body if status == 200 else b'{"error": "not found"}')
        elif path == "/app/mac/version.json.sig":
            signature = self.state.signature()
            if signature is None:
                self.notFound()
            else:
                h.sendBytes(200, "text/plain", signature)
        elif path.startswith("/updates/"):
            self.update(path[len("/updates/"):])
        else:
            self.notFound()

    def messenger(self):
        h = self.handler
        if h.command == "HEAD":
            status = self.state.switches()["head_status"]
            if status == 200:
                h.sendBytes(200, HTML, self.pages.page("messenger.html", "messenger"))
            else:
                h.sendBytes(status, "text/plain; charset=utf-8", b"")
            return
        headers = []
        if not hasSessionCookie(h.headers.get("Cookie")):
            headers.append(("Set-Cookie", "%s=%s; Max-Age=31536000; Path=/; Secure; SameSite=Lax"
                            % (SESSION_COOKIE, secrets.token_hex(12))))
        h.sendBytes(200, HTML, self.pages.page("messenger.html", "messenger"), headers)

    def update(self, name):
        h = self.handler
        entry = self.state.publishedFile(name)
        if entry is None or entry["mode"] == "404":
            self.notFound()
            return
        headers = [("Content-Disposition", 'attachment; filename="%s"' % name)]
        if entry["mode"] == "truncated":
            with open(entry["path"], "rb") as f:
                h.sendTruncated(200, "application/zip", f.read(), headers)
            return
        with open(entry["path"], "rb") as f:
            size = f.seek(0, 2)
            f.seek(0)
            h.status = 200
            h.send_response(200)
            h.send_header("Content-Type", "application/zip")
            h.send_header("Content-Length", str(size))
            h.send_header("Cache-Control", "no-store")
            for key, value in headers:
                h.send_header(key, value)
            h.end_headers()
            if h.command != "HEAD":
                shutil.copyfileobj(f, h.wfile, 1 << 16)

    # --- the foreign site -------------------------------------------------

    def foreignPage(self, path):
        h = self.handler
        if path == "/foreign/frame.html":
            h.sendBytes(200, HTML, self.pages.page("frame.html", "frame"))
        elif path == "/foreign/hostile.html":
            h.sendBytes(200, HTML, self.pages.page("hostile.html", "hostile"))
        elif path == "/foreign/page.html":
            h.sendBytes(200, HTML, self.pages.page("foreign-page.html", "foreign"))
        elif path == "/foreign/file.txt":
            h.sendBytes(200, "text/plain; charset=utf-8", self.pages.foreignText)
        else:
            self.notFound()

    def notFound(self):
        body = ("<!DOCTYPE html><html lang=\"ru\"><head><meta charset=\"utf-8\"><title>Не найдено</title>"
                "</head><body><h1>404</h1><p>Страница не найдена: %s</p></body></html>"
                % self.handler.pathOnly.replace("&", "&amp;").replace("<", "&lt;"))
        self.handler.sendBytes(404, HTML, body.encode("utf-8"))
