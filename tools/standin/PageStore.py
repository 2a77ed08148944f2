"""The stand-in's pages and files, read once from pages/ with the addresses filled in."""

import os

PAGES_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")


def tinyPdf():
    """A one-page PDF whose cross-reference table points at the right byte offsets."""
    stream = b"BT /F1 24 Tf 72 720 Td (Nolar test report) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        b"<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream),
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


class PageStore:
    def __init__(self, serviceOrigin, foreignOrigin, messengerDir=None):
        self.serviceOrigin = serviceOrigin
        self.messengerDir = messengerDir
        self.foreignOrigin = foreignOrigin
        self.hook = self.readText("hook.js")
        self.style = self.readText("style.css")
        self.pdf = tinyPdf()
        self.binary = bytes(range(256)) * 16
        self.foreignText = "Файл с чужого сервера.\n".encode()

    def messengerFile(self, name):
        """(content type, bytes) of a file of the --messenger-dir folder, or None."""
        types = {".html": "text/html; charset=utf-8", ".js": "text/javascript", ".json": "application/json",
                 ".css": "text/css"}
        kind = types.get(os.path.splitext(name)[1])
        if not kind or "/" in name or name.startswith("."):
            return None
        try:
            with open(os.path.join(self.messengerDir, name), "rb") as f:
                return kind, f.read()
        except OSError:
            return None

    def readText(self, name):
        with open(os.path.join(PAGES_DIR, name), encoding="utf-8") as f:
            return f.read()

    def page(self, name, channel):
        """An HTML page as bytes; `channel` names the command queue its hook polls."""
        text = self.readText(name)
        # The hook goes in first: the addresses it holds are filled in with the page's own.
        text = text.replace("{{HOOK}}", self.hook).replace("{{STYLE}}", self.style)
        text = text.replace("{{CHANNEL}}", channel)
        text = text.replace("{{SERVICE_ORIGIN}}", self.serviceOrigin)
        text = text.replace("{{FOREIGN_ORIGIN}}", self.foreignOrigin)
        return text.encode("utf-8")
