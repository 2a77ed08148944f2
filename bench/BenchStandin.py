"""The stand-in service as the client benchmark uses it: started once, asked over its control API."""
import json
import os
import signal
import ssl
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request

ORIGIN = "https://127.0.0.1:47443"


class BenchStandin:
    def __init__(self, server, cert, key, messengerDir=None):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", server, "--cert", cert, "--key", key]
            + (["--messenger-dir", messengerDir] if messengerDir else []), stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        line = self.process.stdout.readline()
        if not line.startswith("standin ready"):
            self.stop()
            raise SystemExit("the stand-in did not start (is port 47443 taken by a test run?)")
        self.tls = ssl.create_default_context(cafile=cert)

    def call(self, method, endpoint, params=None, payload=None, timeout=30):
        url = "%s/__control/%s" % (ORIGIN, endpoint)
        if params:
            url += "?" + urllib.parse.urlencode(params)
        data = json.dumps(payload).encode() if payload is not None else None
        request = urllib.request.Request(url, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout, context=self.tls) as answer:
                return json.loads(answer.read() or b"null")
        except urllib.error.HTTPError as error:
            if error.code == 408:
                return None
            raise

    def lastReportSeq(self):
        return int(self.call("GET", "state")["lastReportSeq"])

    def lastRequestSeq(self):
        return int(self.call("GET", "state")["lastRequestSeq"])

    def pollsSince(self, since):
        """Command-hook polls (the page's and its frame's timers) answered after request `since`."""
        return sum(1 for r in self.call("GET", "requests", {"since": since})
                   if r["path"].startswith("/messenger/cmd"))

    def waitReport(self, kind, since, timeout):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            found = self.call("GET", "wait", {"what": "report", "kind": kind, "since": since,
                                              "timeout": min(left, 60)}, timeout=min(left, 60) + 10)
            if found is not None:
                return found

    def askVisibility(self, since, timeout):
        """document.visibilityState of the client's /messenger/ page, through its command hook."""
        self.call("POST", "command", payload={
            "channel": "messenger", "js": "report('bench-visibility', document.visibilityState)"})
        found = self.waitReport("bench-visibility", since, timeout)
        # An unanswered command must not reach the next run's page.
        self.call("POST", "reset")
        return found["value"] if found else "no answer in %d s" % timeout

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(10)
