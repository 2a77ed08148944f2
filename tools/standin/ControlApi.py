"""The /__control/ endpoints through which tests steer and inspect the stand-in."""

import json
from urllib.parse import parse_qs

from StandinState import HOOK_PATHS


def pathOf(record):
    return record["path"].split("?", 1)[0]


class ControlApi:
    def __init__(self, handler, state):
        self.handler = handler
        self.state = state
        query = parse_qs(handler.query, keep_blank_values=True)
        self.params = {k: v[-1] for k, v in query.items()}

    def handle(self, body):
        name = self.handler.pathOnly[len("/__control/"):].strip("/")
        method = self.handler.command
        routes = {
            ("GET", "hits"): self.hits,
            ("GET", "requests"): self.requests,
            ("GET", "reports"): self.reports,
            ("GET", "wait"): self.wait,
            ("GET", "state"): self.snapshot,
            ("POST", "reset"): self.reset,
            ("POST", "command"): self.command,
            ("POST", "set"): self.setSwitches,
            ("POST", "manifest"): self.manifest,
            ("POST", "publish"): self.publish,
        }
        route = routes.get(("GET" if method == "HEAD" else method, name))
        if route is None:
            known = sorted({n for _, n in routes})
            self.handler.sendJson(404, {"error": "no such control endpoint", "endpoints": known})
            return
        if method == "GET" or method == "HEAD":
            self.handler.quiet = True
        try:
            payload = json.loads(body.decode("utf-8")) if body.strip() else {}
            if not isinstance(payload, dict):
                raise ValueError("the body must be a JSON object")
            status, answer = route(payload)
        except (ValueError, TypeError, KeyError, OSError) as e:
            status, answer = 400, {"error": str(e)}
        self.handler.sendJson(status, answer)

    # --- inspection -----------------------------------------------------

    def matcher(self, kinds):
        """A record filter built from the query parameters that apply to `kinds` of record."""
        since = int(self.params.get("since") or 0)
        wanted = {k: self.params[k] for k in kinds if self.params.get(k)}
        noHooks = self.params.get("nohooks") not in (None, "", "0", "false")

        def match(record):
            if record["seq"] <= since:
                return False
            for key, value in wanted.items():
                actual = pathOf(record) if key == "path" else record.get(key)
                if str(actual) != value:
                    return False
            return not (noHooks and "path" in record and pathOf(record) in HOOK_PATHS)
        return match

    def hits(self, _payload):
        path = self.params.get("path")
        if not path:
            return 200, {"hits": None, "all": self.state.allHits()}
        return 200, {"hits": self.state.hitCount(self.params.get("host"), path)}

    def requests(self, _payload):
        return 200, self.state.listRequests(self.matcher(("host", "path", "method")))

    def reports(self, _payload):
        return 200, self.state.listReports(self.matcher(("kind", "host", "origin")))

    def wait(self, _payload):
        what = self.params.get("what", "report")
        if what not in ("report", "request"):
            raise ValueError("what must be report or request")
        keys = ("kind", "host", "origin") if what == "report" else ("host", "path", "method")
        timeout = min(float(self.params.get("timeout") or 10), 300.0)
        match = self.matcher(keys)
        if what == "request":
            # a request counts once it has been answered (or cut off), not while in flight
            base = match
            match = lambda r: (r["status"] is not None or r["dropped"]) and base(r)  # noqa: E731
        found = self.state.waitFor(what, match, timeout)
        if found is None:
            return 408, {"timeout": True}
        return 200, found

    def snapshot(self, _payload):
        return 200, {
            "switches": self.state.switches(),
            "manifest": self.state.manifestState(),
            "published": self.state.publishedFiles(),
            "commands": self.state.pendingCommands(),
            "lastRequestSeq": self.state.requestSeq,
            "lastReportSeq": self.state.reportSeq,
        }

    # --- steering -------------------------------------------------------

    def reset(self, payload):
        self.state.clearRecords()
        self.state.clearCommands()
        if payload.get("all"):
            self.state.resetSwitches()
            self.state.resetManifest()
        return 200, {"ok": True, "lastRequestSeq": self.state.requestSeq, "lastReportSeq": self.state.reportSeq}

    def command(self, payload):
        js = payload["js"]
        if not isinstance(js, str):
            raise ValueError("js must be a string")
        channel = str(payload.get("channel") or "messenger")
        return 200, {"queued": self.state.queueCommand(channel, js), "channel": channel}

    def setSwitches(self, payload):
        return 200, self.state.applySwitches(payload)

    def manifest(self, payload):
        return 200, self.state.setManifest(payload)

    def publish(self, payload):
        return 200, self.state.publish(payload)
