"""Everything the stand-in remembers between requests, shared by all serving threads."""

import collections
import hashlib
import json
import os
import shutil
import subprocess
import threading
import time

# Test machinery, not pages: never counted against fail_next.
HOOK_PATHS = ("/messenger/cmd", "/__report")
UPDATE_MODES = ("normal", "404", "truncated")
# How /app/mac/version.json.sig answers: signed by the build's key, absent, by another key, or
# over bytes other than those served (the manifest changed after signing).
SIGNATURE_MODES = ("good", "missing", "otherkey", "stale")
SIGN_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign-update")
DEFAULT_MANIFEST = b'{"build": 0}'


class StandinState:
    def __init__(self, serviceHost, port, stateDir, updateKey=None):
        self.serviceHost = serviceHost
        self.updateKey = updateKey
        self.port = port
        self.stateDir = stateDir
        self.changed = threading.Condition()
        # Sequence numbers keep growing across resets so that a test's "since" stays meaningful.
        self.requestSeq = 0
        self.reportSeq = 0
        self.commandSeq = 0
        self.resetSwitches()
        self.resetManifest()
        self.clearRecords()
        self.clearCommands()

    # --- records -------------------------------------------------------

    def clearRecords(self):
        with self.changed:
            self.requests = collections.deque(maxlen=50000)
            self.reports = collections.deque(maxlen=20000)
            self.hits = collections.Counter()

    def recordRequest(self, host, method, path, headers):
        with self.changed:
            self.requestSeq += 1
            record = {
                "seq": self.requestSeq,
                "time": time.time(),
                "host": host,
                "hostHeader": headers.get("Host"),
                "method": method,
                "path": path,
                "ua": headers.get("User-Agent"),
                "cookie": headers.get("Cookie"),
                "status": None,
                "dropped": False,
            }
            self.requests.append(record)
            self.hits[(host, path.split("?", 1)[0])] += 1
            self.changed.notify_all()
            return record

    def finishRequest(self, record, status=None, dropped=False):
        with self.changed:
            record["status"] = status
            record["dropped"] = dropped
            self.changed.notify_all()

    def hitCount(self, host, path):
        with self.changed:
            if host:
                return self.hits[(host, path)]
            return sum(n for (h, p), n in self.hits.items() if p == path)

    def allHits(self):
        with self.changed:
            return [{"host": h, "path": p, "hits": n} for (h, p), n in sorted(self.hits.items())]

    def addReport(self, host, payload):
        if not isinstance(payload, dict):
            payload = {"kind": "malformed", "value": payload}
        with self.changed:
            self.reportSeq += 1
            report = {
                "seq": self.reportSeq,
                "time": time.time(),
                "host": host,
                "kind": str(payload.get("kind", "")),
                "value": payload.get("value"),
                "origin": payload.get("origin"),
                "page": payload.get("page"),
            }
            self.reports.append(report)
            self.changed.notify_all()
            return report

    def listRequests(self, match):
        with self.changed:
            return [dict(r) for r in self.requests if match(r)]

    def listReports(self, match):
        with self.changed:
            return [dict(r) for r in self.reports if match(r)]

    def waitFor(self, what, match, timeout):
        """First record of `what` ("report" or "request") accepted by match, or None after timeout."""
        deadline = time.monotonic() + max(0.0, timeout)
        with self.changed:
            while True:
                records = self.reports if what == "report" else self.requests
                for r in records:
                    if match(r):
                        return dict(r)
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(min(left, 1.0))

    # --- command queues ---------------------------------------------------

    def queueCommand(self, channel, js):
        with self.changed:
            self.commandSeq += 1
            self.commands[channel].append(js)
            return self.commandSeq

    def takeCommands(self, channel):
        with self.changed:
            queue = self.commands.get(channel)
            if not queue:
                return []
            taken = list(queue)
            queue.clear()
            return taken

    def pendingCommands(self):
        with self.changed:
            return {c: list(q) for c, q in self.commands.items() if q}

    # --- switches ----------------------------------------------------------

    def resetSwitches(self):
        with self.changed:
            self.headStatus = 200
            self.down = False
            self.silent = False
            self.failNext = 0
            self.failPath = None

    def clearCommands(self):
        with self.changed:
            self.commands = collections.defaultdict(collections.deque)

    def applySwitches(self, settings):
        with self.changed:
            if "head_status" in settings:
                self.headStatus = int(settings["head_status"])
            if "down" in settings:
                self.down = bool(settings["down"])
            if "silent" in settings:
                self.silent = bool(settings["silent"])
                self.changed.notify_all()
            if "fail_next" in settings:
                self.failNext = max(0, int(settings["fail_next"]))
                self.failPath = settings.get("fail_path") or None
            return self.switches()

    def switches(self):
        with self.changed:
            return {"head_status": self.headStatus, "down": self.down, "silent": self.silent,
                    "fail_next": self.failNext, "fail_path": self.failPath}

    def shouldDrop(self, host, path, reusedConnection):
        """Whether this request's connection is to be cut without an answer.

        HTTP clients (libsoup among them) silently resend a request once when a kept-alive
        connection closes before answering. So a failure on a reused connection is not counted
        against fail_next: the resend arrives on a fresh connection and fails for real there.
        """
        if path.startswith("/__control/") or path == "/__report" or host != self.serviceHost:
            return False
        with self.changed:
            if self.down:
                return True
            # Polls of the page's command hook would otherwise eat the failures meant for the client.
            if self.failNext > 0 and path not in HOOK_PATHS:
                if self.failPath is None or path.startswith(self.failPath):
                    if not reusedConnection:
                        self.failNext -= 1
                    return True
            return False

    def holdWhileSilent(self, host, path, limit=600):
        """While `silent` is on, a request to the service is accepted and never answered: this
        blocks until the switch goes off (at most `limit` seconds); True when it held the request."""
        if path.startswith("/__control/") or path == "/__report" or path in HOOK_PATHS or host != self.serviceHost:
            return False
        with self.changed:
            if not self.silent:
                return False
            self.changed.wait_for(lambda: not self.silent, timeout=limit)
            return True

    # --- manifest and update archives --------------------------------------

    def resetManifest(self):
        with self.changed:
            self.manifestStatus = 200
            self.manifestBody = DEFAULT_MANIFEST
            self.manifestRedirect = None
            self.manifestPad = 0
            self.signatureMode = "good"
            self.published = {}

    def setManifest(self, settings):
        with self.changed:
            if "manifest" in settings:
                self.manifestBody = json.dumps(settings["manifest"], ensure_ascii=False).encode()
                self.manifestStatus = 200
            if "raw" in settings:
                raw = settings["raw"]
                self.manifestBody = raw.encode() if isinstance(raw, str) else json.dumps(raw).encode()
                self.manifestStatus = 200
            if "status" in settings:
                self.manifestStatus = int(settings["status"])
            if "pad" in settings:
                self.manifestPad = int(settings["pad"])
            if "redirect" in settings:
                self.manifestRedirect = settings["redirect"] or None
            if "signature" in settings:
                if settings["signature"] not in SIGNATURE_MODES:
                    raise ValueError("signature must be one of " + ", ".join(SIGNATURE_MODES))
                self.signatureMode = settings["signature"]
            return self.manifestState()

    def manifestState(self):
        with self.changed:
            return {"status": self.manifestStatus, "body": self.manifestBody.decode("utf-8", "replace"),
                    "redirect": self.manifestRedirect, "pad": self.manifestPad, "signature": self.signatureMode}

    def manifest(self):
        with self.changed:
            return self.manifestStatus, self.manifestBody + b" " * self.manifestPad, self.manifestRedirect

    def signature(self):
        """The detached signature of the manifest as served, or None (answered with 404)."""
        with self.changed:
            body, mode = self.manifestBody + b" " * self.manifestPad, self.signatureMode
        if not self.updateKey or mode == "missing":
            return None
        key = self.updateKey
        if mode == "otherkey":
            key = os.path.join(self.stateDir, "other-update-key.pem")
            if not os.path.exists(key):
                subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True)
        if mode == "stale":
            body += b"\n"
        signed = os.path.join(self.stateDir, "manifest-%d.json" % threading.get_ident())
        with open(signed, "wb") as f:
            f.write(body)
        subprocess.run([SIGN_TOOL, key, signed], check=True)
        with open(signed + ".sig", "rb") as f:
            return f.read()

    def publish(self, settings):
        """Copies the archive into the state folder and points the manifest at it; returns the manifest."""
        source = settings.get("zip")
        if not isinstance(source, str) or not os.path.isfile(source):
            raise ValueError("zip must be the path of an existing file")
        mode = settings.get("mode", "normal")
        if mode not in UPDATE_MODES:
            raise ValueError("mode must be one of " + ", ".join(UPDATE_MODES))
        name = os.path.basename(source)
        target = os.path.join(self.stateDir, "updates", name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        # Copy under a temporary name: an archive being served must never be seen half written.
        partial = target + ".partial"
        shutil.copyfile(source, partial)
        os.replace(partial, target)
        digest = hashlib.sha256()
        with open(target, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                digest.update(chunk)
        manifest = {
            "build": settings.get("build", 0),
            "minBuild": settings.get("minBuild", 0),
            "versionName": settings.get("versionName", "?"),
            "url": "https://%s:%d/updates/%s" % (self.serviceHost, self.port, name),
            "sha256": settings.get("sha256") or digest.hexdigest(),
            "notes": settings.get("notes", ""),
        }
        with self.changed:
            self.published[name] = {"path": target, "mode": mode, "sha256": digest.hexdigest(),
                                    "size": os.path.getsize(target)}
            self.manifestBody = json.dumps(manifest, ensure_ascii=False).encode()
            self.manifestStatus = 200
        return manifest

    def publishedFile(self, name):
        with self.changed:
            entry = self.published.get(name)
            return dict(entry) if entry else None

    def publishedFiles(self):
        with self.changed:
            return {n: dict(e) for n, e in self.published.items()}
