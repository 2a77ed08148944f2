"""Support for harness.py: child processes, the build's configuration, the stand-in service's
control API and private D-Bus buses. Tests import what they need from harness, not from here."""

import atexit
import ctypes
import json
import os
import re
import select
import signal
import ssl
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

HERE = Path(__file__).resolve().parent
SOURCE_DIR = Path(os.environ.get("NOLAR_SOURCE_DIR") or HERE.parents[1])
SERVICE_HOST = "127.0.0.1"
FOREIGN_HOST = "127.0.0.2"
APP_ID = "org.nolar.Nolar"
USER_AGENT_SUFFIX = " Version/26.0 Safari/605.1.15 KelNolarMac/1.4"
PASS_THROUGH = ("PATH", "USER", "LOGNAME", "TZ", "G_MESSAGES_DEBUG", "G_DEBUG", "GTK_DEBUG", "GDK_DEBUG",
                "WEBKIT_DEBUG", "JSC_SIGNAL_FOR_GC", "ASAN_OPTIONS", "UBSAN_OPTIONS")
DEFAULT_TIMEOUT = 60
PORT_WAIT = 300


# --- processes ---------------------------------------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36
# Orphaned grandchildren (the engine's helper processes) come back to us, so they can be reaped
# and counted instead of lingering as zombies of a PID 1 that never waits.
_libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
_children = []


def _dieWithParent():
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def processes():
    """{pid: (ppid, pgid, state)} of every process on the machine."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path(f"/proc/{entry}/stat").read_text()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        found[int(entry)] = (int(fields[1]), int(fields[2]), fields[0])
    return found


def groupMembers(pgid):
    """Live (non-zombie) processes of a process group."""
    return [pid for pid, (_, group, state) in processes().items() if group == pgid and state != "Z"]


def descendants():
    """Live processes that descend from this one. Being a subreaper, this process inherits every
    orphan below it, so a process started detached (setsid, double fork) still counts."""
    table = processes()
    mine = set()
    for pid, (ppid, _, state) in table.items():
        chain, seen = ppid, set()
        while chain > 1 and chain not in seen:
            if chain == os.getpid():
                if state != "Z":
                    mine.add(pid)
                break
            seen.add(chain)
            chain = table.get(chain, (0,))[0]
    return mine


def environOf(pid):
    try:
        raw = Path(f"/proc/{pid}/environ").read_bytes()
    except OSError:
        return {}
    return dict(item.split("=", 1) for item in raw.decode(errors="replace").split("\0") if "=" in item)


def reapOrphans():
    """Waits for the zombies this process inherited (not for its own Popen children)."""
    known = {c.popen.pid for c in _children}
    for pid, (ppid, _, state) in processes().items():
        if state == "Z" and ppid == os.getpid() and pid not in known:
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass


def poll(predicate, timeout, what, interval=0.05):
    """Calls `predicate` until it returns something truthy, which is returned; fails after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class Child:
    """A process in its own process group; stdout and stderr go to files in `logDir`."""

    def __init__(self, name, argv, env, logDir, passFds=()):
        self.name = name
        self.stdoutPath = Path(logDir) / f"{name}.out"
        self.stderrPath = Path(logDir) / f"{name}.err"
        with open(self.stdoutPath, "ab") as out, open(self.stderrPath, "ab") as err:
            self.popen = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=err,
                                          pass_fds=passFds, start_new_session=True, preexec_fn=_dieWithParent)
        _children.append(self)

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def output(self, which="err", tail=40):
        path = self.stderrPath if which == "err" else self.stdoutPath
        try:
            lines = path.read_text(errors="replace").splitlines()
        except OSError:
            return ""
        return "\n".join(lines[-tail:])

    def waitForLine(self, regex, timeout, what):
        """Waits for a line of stdout matching `regex`; fails early when the process ends."""
        def seen():
            match = re.search(regex, self.stdoutPath.read_text(errors="replace"), re.M)
            if match:
                return match
            if not self.running():
                raise AssertionError(f"{self.name} ended (status {self.popen.returncode}) before {what}:\n"
                                     f"{self.output()}")
            return None
        return poll(seen, timeout, f"{what} ({self.name})")

    def waitGroupEmpty(self, timeout):
        reapOrphans()
        poll(lambda: not groupMembers(self.pid) or reapOrphans(), timeout,
             f"every process of {self.name}'s group to end")

    def stop(self, grace=10):
        """SIGTERM to the whole group, SIGKILL to whatever is left after `grace` seconds."""
        for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 10)):
            if not groupMembers(self.pid) and not self.running():
                break
            try:
                os.killpg(self.pid, sig)
            except ProcessLookupError:
                pass
            deadline = time.monotonic() + wait
            while time.monotonic() < deadline and (self.running() or groupMembers(self.pid)):
                reapOrphans()
                time.sleep(0.05)
        self.popen.poll()
        if self in _children:
            _children.remove(self)


class _FoundPopen:
    """The part of Popen that Child uses, for a process this one did not start."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None

    def poll(self):
        if self.returncode is None:
            try:
                done, status = os.waitpid(self.pid, os.WNOHANG)
                if done:
                    self.returncode = os.waitstatus_to_exitcode(status)
            except ChildProcessError:
                # Still the child of whoever started it: only whether it lives is known, not its status.
                state = processes().get(self.pid)
                if state is None or state[2] == "Z":
                    self.returncode = -1
        return self.returncode


class Adopted(Child):
    """A process started by something else (an application relaunched detached), handled like a
    Child. Being a subreaper, this process becomes its parent once its starter has ended, and then
    gets its exit status; before that an ended run reports -1. Its output went elsewhere."""

    def __init__(self, name, pid):
        self.name = name
        self.stdoutPath = self.stderrPath = None
        self.popen = _FoundPopen(pid)
        _children.append(self)

    def output(self, which="err", tail=40):
        return "(not captured: the process was started by another one)"


def _stopAll():
    for child in reversed(list(_children)):
        child.stop(grace=3)


atexit.register(_stopAll)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


# --- the build -----------------------------------------------------------------------------------

class Build:
    """What the test build was configured with, read from its CMake cache."""

    def __init__(self):
        directory = os.environ.get("NOLAR_BUILD_DIR")
        if not directory:
            raise RuntimeError("NOLAR_BUILD_DIR must name a build folder (ctest sets it)")
        self.dir = Path(directory)
        cache = {}
        for line in (self.dir / "CMakeCache.txt").read_text().splitlines():
            match = re.match(r"^([A-Za-z_][A-Za-z0-9_]*):[A-Z]+=(.*)$", line)
            if match:
                cache[match.group(1)] = match.group(2)
        host = cache.get("NOLAR_SERVICE_HOST", "")
        if not host.startswith(SERVICE_HOST + ":"):
            raise RuntimeError(f"the build's NOLAR_SERVICE_HOST is {host!r}; the tests need {SERVICE_HOST}:<port>")
        self.port = int(host.split(":", 1)[1])
        cert = cache.get("NOLAR_TEST_CERT", "")
        if not cert:
            raise RuntimeError("the build was configured without NOLAR_TEST_CERT")
        self.cert = Path(cert)
        self.key = self.cert.parent / "key.pem"
        # A build that checks manifest signatures: the private half of its key, beside its public one.
        publicKey = cache.get("NOLAR_UPDATE_KEY", "")
        self.updateKey = Path(publicKey.replace(".pub.pem", ".pem")) if publicKey.endswith(".pub.pem") else None
        self.bundle = self.dir / "Nolar.app"
        self.binary = self.bundle / "Contents" / "Linux" / "nolar"
        if not self.binary.exists():
            raise RuntimeError(f"{self.binary} is missing: build the nolar target first")


# --- the stand-in service ------------------------------------------------------------------------

class StandIn:
    """The stand-in service and its /__control/ API (see tools/standin/README.md)."""

    def __init__(self, build, root, logDir, env):
        self.base = f"https://{SERVICE_HOST}:{build.port}"
        self.context = ssl.create_default_context(cafile=str(build.cert))
        self.evalCount = 0
        argv = ["/usr/bin/python3", str(SOURCE_DIR / "tools/standin/server.py"), "--cert", str(build.cert),
                "--key", str(build.key), "--port", str(build.port), "--hosts", f"{SERVICE_HOST},{FOREIGN_HOST}",
                "--state-dir", str(root)]
        if build.updateKey:
            argv += ["--update-key", str(build.updateKey)]
        # The port is the build's; another run on this machine (a benchmark, a demo) may hold it a while.
        deadline = time.monotonic() + PORT_WAIT
        while True:
            self.child = Child("standin", argv, env, logDir)
            try:
                self.child.waitForLine(r"^standin ready", 30, "the stand-in to listen")
                return
            except AssertionError:
                self.child.stop()
                if "Address already in use" not in self.child.output() or time.monotonic() > deadline:
                    raise
            time.sleep(1)

    def call(self, method, endpoint, params=None, body=None, timeout=30):
        query = "?" + urllib.parse.urlencode({k: v for k, v in (params or {}).items() if v is not None}) \
            if params else ""
        data = json.dumps(body).encode() if body is not None else (b"{}" if method == "POST" else None)
        request = urllib.request.Request(f"{self.base}/__control/{endpoint}{query}", data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout, context=self.context) as answer:
                return json.loads(answer.read() or b"null")
        except urllib.error.HTTPError as e:
            if e.code == 408:
                return None
            raise AssertionError(f"stand-in {endpoint}: {e.code} {e.read().decode(errors='replace')}") from e

    def state(self):
        return self.call("GET", "state")

    def seqs(self):
        """(last request seq, last report seq): pass as `since` to see only what comes later."""
        state = self.state()
        return state["lastRequestSeq"], state["lastReportSeq"]

    def queue_js(self, js, channel="messenger"):
        """Queues a snippet for the pages polling `channel` (messenger, popup, about, root, frame)."""
        return self.call("POST", "command", body={"js": js, "channel": channel})

    def reports(self, **filters):
        return self.call("GET", "reports", filters)

    def requests(self, **filters):
        return self.call("GET", "requests", filters)

    def hits(self, host=None, path=None):
        return self.call("GET", "hits", {"host": host, "path": path})["hits"]

    def set(self, **switches):
        return self.call("POST", "set", body=switches)

    def publish(self, **body):
        return self.call("POST", "publish", body=body)

    def wait(self, what, timeout=DEFAULT_TIMEOUT, **filters):
        found = self.call("GET", "wait", dict(filters, what=what, timeout=timeout), timeout=timeout + 30)
        if found is None:
            recent = self.reports() if what == "report" else self.requests(nohooks=1)
            raise AssertionError(f"timed out after {timeout} s waiting for a {what} {filters}; recorded:\n"
                                 + "\n".join(json.dumps(r, ensure_ascii=False) for r in recent[-15:]))
        return found

    def wait_report(self, kind, since=0, timeout=DEFAULT_TIMEOUT, **filters):
        return self.wait("report", timeout, kind=kind, since=since, **filters)

    def wait_request(self, path, since=0, timeout=DEFAULT_TIMEOUT, **filters):
        return self.wait("request", timeout, path=path, since=since, **filters)

    def evaluate(self, expression, channel="messenger", timeout=DEFAULT_TIMEOUT):
        """Evaluates a JavaScript expression (a promise is awaited) in the page polling `channel`."""
        self.evalCount += 1
        kind = f"eval-{os.getpid()}-{self.evalCount}"
        since = self.seqs()[1]
        self.queue_js(f"Promise.resolve().then(function () {{ return ({expression}); }}).then("
                      f"function (v) {{ return report({json.dumps(kind)}, {{value: v === undefined ? null : v}}); }},"
                      f"function (e) {{ return report({json.dumps(kind)}, {{error: String(e)}}); }})", channel)
        answer = self.wait_report(kind, since=since, timeout=timeout)["value"]
        if "error" in answer:
            raise AssertionError(f"{expression!r} threw {answer['error']}")
        return answer["value"]


# --- D-Bus ---------------------------------------------------------------------------------------

def startBus(kind, logDir, env):
    """A private dbus-daemon (tests/bus.conf: everyone may do everything); returns (child, address)."""
    read, write = os.pipe()
    try:
        child = Child(f"{kind}-bus", ["dbus-daemon", f"--config-file={HERE.parent / 'bus.conf'}", "--nofork",
                                      "--nopidfile", f"--print-address={write}"], env, logDir, passFds=(write,))
    finally:
        os.close(write)
    return child, readLine(read, 30, f"the {kind} bus address").strip()


def readLine(fd, timeout, what):
    data = b""
    deadline = time.monotonic() + timeout
    try:
        while b"\n" not in data:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError(f"timed out waiting for {what}")
            chunk = os.read(fd, 256)
            if not chunk:
                raise AssertionError(f"no {what}: the process ended")
            data += chunk
    finally:
        os.close(fd)
    return data.decode().split("\n", 1)[0]


class BusPeer:
    """Calls into a fake peer on a private bus from the test process."""

    def __init__(self, address, name, path):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.connection = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        self.name, self.path = name, path

    def close(self):
        try:
            self.connection.close_sync(None)
        except GLib.Error:
            pass  # the bus went first

    def call(self, interface, method, signature=None, values=None):
        params = GLib.Variant(signature, values) if signature else None
        return self.connection.call_sync(self.name, self.path, interface, method, params, None,
                                         Gio.DBusCallFlags.NONE, 10000, None)


def readJsonLines(path):
    """The complete records of a JSON-lines file; a last line still being written is not one yet."""
    try:
        text = Path(path).read_text()
    except FileNotFoundError:
        return []
    return [json.loads(line) for line in text.split("\n")[:-1] if line.strip()]
