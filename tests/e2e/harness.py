"""The end-to-end harness: the real binary in a disposable desktop session.

A `Session` is a temporary HOME (whose user deleted the Downloads folder), an Xvfb display, private
session and system buses with the peers of fake_peers.py, a default handler for URLs and folders that
writes them down, and the stand-in service on the build's port (NOLAR_BUILD_DIR, a test build).
`E2ETestCase` gives each test class one session. A failure prints what the session's processes wrote
and keeps its folder (NOLAR_E2E_KEEP=1 keeps it always). Records are lists in arrival order; `since`,
a field of `Session.marks()` taken before, leaves out what came earlier."""

import atexit
import contextlib
import ctypes
import json
import os
import re
import select
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path
from types import SimpleNamespace

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

HERE = Path(__file__).resolve().parent
SOURCE_DIR = Path(os.environ.get("NOLAR_SOURCE_DIR") or HERE.parents[1])
SERVICE_HOST, FOREIGN_HOST = "127.0.0.1", "127.0.0.2"
APP_ID = "org.nolar.Nolar"
USER_AGENT_SUFFIX = " Version/26.0 Safari/605.1.15 KelNolarMac/1.4"
PASS_THROUGH = ("PATH", "USER", "LOGNAME", "TZ", "G_MESSAGES_DEBUG", "G_DEBUG", "GTK_DEBUG", "GDK_DEBUG",
                "JSC_SIGNAL_FOR_GC", "ASAN_OPTIONS", "UBSAN_OPTIONS")
TIMEOUT = 60
PEERS = ["/usr/bin/python3", HERE / "fake_peers.py"]

_libc = ctypes.CDLL(None)
# A subreaper: orphaned grandchildren (the engine's helpers, a run relaunched detached) come back to
# this process, so they can be found and reaped instead of lingering under a PID 1 that never waits.
_libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
_children = []


def poll(predicate, timeout=TIMEOUT, what=None):
    """The first truthy value of `predicate()`; after `timeout` s a failure naming `what`, or without
    `what` the last value."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < deadline:
        time.sleep(0.05)
    if not value and what:
        raise AssertionError(f"timed out after {timeout} s waiting for {what}")
    return value


def processes():
    """{pid: (ppid, pgid, state, program name)} of every process on the machine."""
    found = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        with contextlib.suppress(OSError):
            text = stat.read_text()
            name, rest = text[text.index("(") + 1:].rsplit(")", 1)
            state, ppid, pgid = rest.split()[:3]
            found[int(stat.parent.name)] = (int(ppid), int(pgid), state, name)
    return found


def descendants(root=None):
    """processes() of the live processes below `root`; below this one, a subreaper, also those started
    detached."""
    table, root = processes(), root or os.getpid()
    found, size = {root}, 0
    while len(found) != size:
        size = len(found)
        found |= {pid for pid, (ppid, *_) in table.items() if ppid in found}
    return {pid: table[pid] for pid in found - {root} if table[pid][2] != "Z"}


def groupMembers(pgid):
    return [pid for pid, (_, group, state, _) in processes().items() if group == pgid and state != "Z"]


def _atExit():
    for child in reversed(_children):
        child.stop(grace=3)
    with contextlib.suppress(ChildProcessError):  # the orphans that came back to this process
        while os.waitpid(-1, os.WNOHANG)[0]:
            pass


atexit.register(_atExit)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


class Child:
    """A process in its own process group, its output in `logDir`/`name`.err. With `ready`, waits for
    the first line it writes to stdout or, when an argument holds "{fd}", to that descriptor."""

    def __init__(self, name, argv, env, logDir, ready=False):
        self.name, self.err = name, Path(logDir) / f"{name}.err"
        read, write = os.pipe()
        toFd = any("{fd}" in str(a) for a in argv)
        with open(self.err, "ab") as err:
            self.popen = subprocess.Popen(
                [str(a).replace("{fd}", str(write)) for a in argv], env=env, stdin=subprocess.DEVNULL,
                stdout=write if ready and not toFd else err, stderr=err, pass_fds=(write,),
                start_new_session=True, preexec_fn=lambda: _libc.prctl(1, signal.SIGKILL))  # PR_SET_PDEATHSIG
        os.close(write)
        self.pid, self.line = self.popen.pid, ""
        _children.append(self)
        with os.fdopen(read, "rb") as pipe:
            if ready and select.select([pipe], [], [], 30)[0]:
                self.line = pipe.readline().decode().strip()
        if ready and not self.line:
            raise AssertionError(f"{name} wrote no first line (status {self.popen.poll()}):\n{self.output()}")

    def running(self):
        return self.popen.poll() is None

    def output(self, tail=40):
        with contextlib.suppress(OSError):
            return "\n".join(self.err.read_text(errors="replace").splitlines()[-tail:])
        return ""

    def stop(self, grace=10):
        for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 10)):
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.pid, sig)
            if poll(lambda: not self.running() and not groupMembers(self.pid), wait):
                break
        if self in _children:
            _children.remove(self)


class Build:
    def __init__(self):
        self.dir = Path(os.environ["NOLAR_BUILD_DIR"])
        cache = dict(re.findall(r"^(\w+):\w+=(.*)$", (self.dir / "CMakeCache.txt").read_text(), re.M))
        self.port = int(cache["NOLAR_SERVICE_HOST"].removeprefix(SERVICE_HOST + ":"))
        self.cert = Path(cache["NOLAR_TEST_CERT"])
        # A build that checks manifest signatures: the private half of its key is beside the public one.
        self.updateKey = cache.get("NOLAR_UPDATE_KEY", "").replace(".pub.pem", ".pem")
        self.bundle = self.dir / "Nolar.app"
        self.binary = self.bundle / "Contents" / "Linux" / "nolar"


class StandIn:
    """The stand-in service and its /__control/ API (see tools/standin/README.md)."""

    def __init__(self, build, root, logDir, env):
        self.base = f"https://{SERVICE_HOST}:{build.port}/__control/"
        self.context, self.evals = ssl.create_default_context(cafile=build.cert), 0
        argv = ["/usr/bin/python3", SOURCE_DIR / "tools/standin/server.py", "--cert", build.cert, "--key",
                build.cert.parent / "key.pem", "--port", build.port, "--state-dir", root, "--hosts",
                f"{SERVICE_HOST},{FOREIGN_HOST}", *["--update-key", build.updateKey] * bool(build.updateKey)]
        # The port is the build's; another run on this machine (a benchmark, a demo) may hold it a while.
        deadline = time.monotonic() + 300
        while True:
            try:
                self.child = Child("standin", argv, env, logDir, ready=True)
                return
            except AssertionError as e:
                if "Address already in use" not in str(e) or time.monotonic() > deadline:
                    raise
            time.sleep(1)

    def call(self, endpoint, body=None, **params):
        """GET, or POST with a `body`; None when a wait timed out."""
        query = urllib.parse.urlencode({k: v for k, v in params.items() if v is not None})
        request = urllib.request.Request(f"{self.base}{endpoint}?{query}", body and json.dumps(body).encode(),
                                         {"Content-Type": "application/json"})
        try:
            timeout = params.get("timeout", 0) + 30
            with urllib.request.urlopen(request, context=self.context, timeout=timeout) as r:
                return json.loads(r.read() or b"null")
        except urllib.error.HTTPError as e:
            if e.code != 408:
                raise AssertionError(f"stand-in {endpoint}: {e.code} {e.read().decode()}") from e
        return None

    def seqs(self):
        state = self.call("state")
        return state["lastRequestSeq"], state["lastReportSeq"]

    def queue_js(self, js, channel="messenger"):
        """Queues a snippet for the pages polling `channel` (messenger, popup, about, root, frame)."""
        self.call("command", {"js": js, "channel": channel})

    def wait(self, what, timeout=TIMEOUT, **filters):
        found = self.call("wait", what=what, timeout=timeout, **filters)
        if found is None:  # what the stand-in saw is in its log
            raise AssertionError(f"timed out after {timeout} s waiting for a {what} {filters}")
        return found

    def wait_report(self, kind, since=0, **filters):
        return self.wait("report", kind=kind, since=since, **filters)

    def wait_request(self, path, since=0, **filters):
        return self.wait("request", path=path, since=since, **filters)

    def evaluate(self, expression, channel="messenger"):
        """Evaluates a JavaScript expression (a promise is awaited) in the page polling `channel`."""
        self.evals += 1
        kind, since = f"eval-{self.evals}", self.seqs()[1]
        self.queue_js(f"Promise.resolve().then(() => ({expression})).then(v => report('{kind}', "
                      f"{{value: v ?? null}}), e => report('{kind}', {{error: String(e)}}))", channel)
        answer = self.wait_report(kind, since)["value"]
        if "error" in answer:
            raise AssertionError(f"{expression!r} threw {answer['error']}")
        return answer["value"]


class BusPeer:
    def __init__(self, address, name, path):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.connection = Gio.DBusConnection.new_for_address_sync(address, flags)
        self.name, self.path = name, path

    def call(self, interface, method, signature=None, values=None):
        return self.connection.call_sync(self.name, self.path, interface, method, signature and
                                         GLib.Variant(signature, values), None, Gio.DBusCallFlags.NONE, 10000)


def session_cookie(header):
    match = re.search(r"(?:^|;\s*)(nolar_session=[^;]+)", header or "")
    return match and match.group(1)


class Session:
    def __init__(self, name, tray=False, color_scheme=None):
        self.build, self.tray, self.color_scheme = Build(), tray, color_scheme
        self.root = Path(tempfile.mkdtemp(prefix=f"nolar-e2e-{name}-"))
        self.home, self.log_dir, self.tmp_dir = self.root / "home", self.root / "logs", self.root / "tmp"
        self.config_home, self.data_home = self.home / ".config", self.home / ".local" / "share"
        self.records_dir, self.downloads = self.root / "records", self.home / "Downloads"
        self.infrastructure, self.apps, self.app, self.standin = [], [], None, None

    def start(self):
        for folder in (self.data_home / "applications", self.config_home, self.root / "runtime", self.tmp_dir,
                       self.log_dir, self.records_dir):
            folder.mkdir(parents=True, mode=0o700)
        # what xdg-user-dirs writes when the user deleted the Downloads folder
        (self.config_home / "user-dirs.dirs").write_text('XDG_DOWNLOAD_DIR="$HOME/"\n')
        self._installUrlHandler()
        self.env = {k: v for k, v in os.environ.items() if k in PASS_THROUGH or k.startswith("WEBKIT_")}
        self.env.setdefault("PATH", "/usr/local/bin:/usr/bin:/bin")
        self.env.update(HOME=str(self.home), LANG="C.UTF-8", XDG_RUNTIME_DIR=str(self.root / "runtime"),
                        TMPDIR=str(self.tmp_dir), GDK_BACKEND="x11", NO_AT_BRIDGE="1", GTK_A11Y="none",
                        GSETTINGS_BACKEND="memory", GIO_USE_VFS="local", WEBKIT_DISABLE_COMPOSITING_MODE="1")
        self.env["DISPLAY"] = ":" + self._start("xvfb", "Xvfb", "-displayfd", "{fd}", "-screen", "0",
                                                "1600x1000x24", "-nolisten", "tcp", "-noreset")
        bus = ["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={HERE.parent / 'bus.conf'}",
               "--print-address={fd}"]
        self.session_bus = self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start("session-bus", *bus)
        self.system_bus = self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self._start("system-bus", *bus)
        r = self.records_dir
        self._start("peers", *PEERS, "--notifications", r / "notifications.jsonl", "--launcher-record",
                    r / "launcher.jsonl", "--logind", r / "sleep-matches.jsonl",
                    *["--watcher", r / "tray.jsonl"] * self.tray,
                    *["--color-scheme", self.color_scheme] * (self.color_scheme is not None))
        self.standin = StandIn(self.build, self.root / "standin", self.log_dir, self.env)
        self.infrastructure.append(self.standin.child)
        return self

    def _start(self, name, *argv):
        self.infrastructure.append(Child(name, argv, self.env, self.log_dir, ready=True))
        return self.infrastructure[-1].line

    def _installUrlHandler(self):
        """The session's default browser, mail client and file manager: it writes down the URL."""
        script, self.opened_urls_path = self.root / "open-url", self.records_dir / "opened-urls.txt"
        # What the app sets for its own drawing must not reach the programs it opens: it would show
        # after the address and no address would match.
        script.write_text(f"#!/bin/sh\nprintf '%s%s\\n' \"$1\" \"${{GDK_GL:+ GDK_GL}}"
                          f"${{WEBKIT_DISABLE_DMABUF_RENDERER:+ DMABUF}}\" >> '{self.opened_urls_path}'\n")
        script.chmod(0o755)
        schemes = ("http", "https", "mailto", "nolartest", "file")
        types = ["inode/directory"] + [f"x-scheme-handler/{s}" for s in schemes]
        (self.data_home / "applications" / "nolar-test-url-handler.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Test URL handler\nNoDisplay=true\n"
            f"Exec={script} %u\nMimeType={';'.join(types)};\n")
        (self.config_home / "mimeapps.list").write_text(
            "[Default Applications]\n" + "".join(f"{t}=nolar-test-url-handler.desktop\n" for t in types))

    def close(self, keep=False):
        for child in reversed(self.infrastructure + [app.child for app in self.apps]):
            child.stop()
        for pid in descendants():  # this session's processes that left their group (a relaunched app)
            with contextlib.suppress(OSError):
                if f"\0HOME={self.home}\0" in "\0" + Path(f"/proc/{pid}/environ").read_text("latin-1"):
                    os.kill(pid, signal.SIGKILL)
        if keep or os.environ.get("NOLAR_E2E_KEEP"):
            sys.stderr.write(f"kept the session folder {self.root}\n")
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def launch(self, wait_loaded=True, extra_env=None, binary=None, args=()):
        child = Child(f"app-{len(self.apps) + 1}", [binary or self.build.binary, *args],
                      dict(self.env, **(extra_env or {})), self.log_dir)
        self.app = App(self, child)
        self.apps.append(self.app)
        if wait_loaded:
            self.app.wait_loaded()
        return self.app

    def marks(self):
        """Where the stand-in's requests and reports, the log, notifications and URLs handed out stand."""
        req, rep = self.standin.seqs()
        return SimpleNamespace(req=req, rep=rep, log=len(self.log_lines()), urls=len(self.opened_urls()),
                               notes=len(self.records("notifications")))

    def run(self, *argv, status=0, timeout=30):
        """The stdout of a program run in the session, once it ended with `status` (None: any)."""
        done = subprocess.run(list(map(str, argv)), env=self.env, capture_output=True, text=True,
                              errors="replace", timeout=timeout)
        if status is not None and done.returncode != status:
            raise AssertionError(f"{argv} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
        return done.stdout

    def _lines(self, path, since):
        """A file's complete lines from index `since` on (a last line still being written is not one yet)."""
        with contextlib.suppress(FileNotFoundError):
            return path.read_text(errors="replace").split("\n")[:-1][since:]
        return []

    def log_lines(self, since=0):
        return self._lines(self.home / ".local" / "state" / "Nolar" / "nolar.log", since)

    def log_matching(self, regex, since=0):
        return [line for line in self.log_lines(since) if re.search(regex, line)]

    def wait_for_log(self, regex, since=0, timeout=TIMEOUT):
        return poll(lambda: next(filter(None, map(re.compile(regex).search, self.log_lines(since))), None),
                    timeout, f"a log line matching {regex!r}")

    def records(self, name, since=0):
        """What a fake peer wrote down: "notifications" (id, summary, body), "launcher" (uri, props),
        "sleep-matches" (rule), "tray" (sender, service), "file-manager" (method, uris)."""
        return [json.loads(line) for line in self._lines(self.records_dir / f"{name}.jsonl", since)]

    def wait_record(self, name, since=0, matches=bool, what=None):
        return poll(lambda: next(filter(matches, self.records(name, since)), None), TIMEOUT,
                    what or f"a record in {name}")

    def wait_notification(self, summary, since=0):
        return self.wait_record("notifications", since, lambda n: n["summary"] == summary,
                                f"the notification {summary!r}")

    def click_notification(self, server_id):
        self.bus_peer("org.freedesktop.Notifications").call(
            "org.nolar.Test.Notifications", "EmitActionInvoked", "(us)", (server_id, "default"))

    def opened_urls(self, since=0):
        return self._lines(self.opened_urls_path, since)

    def wait_opened_url(self, since, matches=bool):
        return poll(lambda: next(filter(matches, self.opened_urls(since)), None), TIMEOUT,
                    "a URL handed to the desktop")

    def start_file_manager(self):
        """Puts the fake file manager on the session bus; until then a call to it finds nobody."""
        self._start("file-manager", *PEERS, "--file-manager", self.records_dir / "file-manager.jsonl")

    def bus_peer(self, name, path=None, system=False):
        path = path or "/" + name.replace(".", "/")
        return BusPeer(self.system_bus if system else self.session_bus, name, path)

    def diagnostics(self, title):
        parts = [f"\n===== {title}: session {self.root}"]
        for child in self.infrastructure + [app.child for app in self.apps]:
            state = "running" if child.running() else f"ended with status {child.popen.returncode}"
            parts.append(f"--- {child.name} (pid {child.pid}, {state}):\n{child.output(30)}")
        return "\n".join(parts + ["--- nolar.log:", *self.log_lines()[-30:]]) + "\n"


class App:
    def __init__(self, session, child):
        self.session, self.child, self.pid, self.marks = session, child, child.pid, session.marks()
        self.loaded = self.main_window = None

    def running(self):
        return self.child.running()

    def wait_loaded(self):
        if not self.loaded:
            found = self.session.standin.wait_report("loaded", self.marks.rep, host=SERVICE_HOST)
            self.loaded = found["value"]
            self.session.wait_for_log(r" loaded: ", self.marks.log)  # the log line may come after the report
        return self.loaded

    def quit(self):
        """Ctrl+Q; returns the exit status once the process and every helper of its group ended."""
        self.key("ctrl+q")
        return self.wait_exit()

    def wait_exit(self, timeout=30):
        poll(lambda: not self.running() and not groupMembers(self.pid), timeout, f"{self.child.name} to end")
        return self.child.popen.returncode

    def windows(self, *kinds):
        """This process's top-level windows (mapped or not) of these _NET_WM_WINDOW_TYPEs (by default
        NORMAL: the main window and popups; DIALOG: alerts and panels), oldest first."""
        for _ in range(50):
            # xdotool dies on BadWindow, printing nothing, when a window closes while it searches
            done = subprocess.run(["xdotool", "search", "--pid", str(self.pid)], env=self.session.env,
                                  capture_output=True, text=True, timeout=30)
            if "BadWindow" not in done.stderr:
                break
        if done.returncode not in (0, 1):  # 1: none found
            raise AssertionError(f"xdotool search failed ({done.returncode}): {done.stderr}")

        def typed(wid):  # a window closed since the search has no type
            text = self.session.run("xprop", "-id", wid, "_NET_WM_WINDOW_TYPE", status=None)
            return any(f"_NET_WM_WINDOW_TYPE_{k}" in text for k in kinds or ["NORMAL"])
        return list(filter(typed, done.stdout.split()))

    def window(self):
        """The main window: the first normal top-level window the process mapped."""
        self.main_window = self.main_window or poll(lambda: next(filter(self.visible, self.windows()), None),
                                                    TIMEOUT, f"a window of {self.child.name}")
        return self.main_window

    def shown(self, *kinds):
        return [w for w in self.windows(*kinds) if self.visible(w)]

    def info(self, wid=None):
        text = self.session.run("xwininfo", "-id", wid or self.window(), status=None)
        return dict(re.findall(r"^\s*([^:\n]+?):\s*(.*)$", text, re.M))

    def visible(self, wid=None):
        return self.info(wid).get("Map State") == "IsViewable"

    def wait_visible(self, visible=True):
        poll(lambda: self.visible() == visible, TIMEOUT, f"the main window {'' if visible else 'un'}mapped")

    def title(self, wid=None):
        return self.session.run("xdotool", "getwindowname", wid or self.window()).rstrip("\n")

    def geometry(self, wid=None):
        info = self.info(wid)
        return {key: int(info[field]) for key, field in [("x", "Absolute upper-left X"), ("width", "Width"),
                                                        ("y", "Absolute upper-left Y"), ("height", "Height")]}

    def focus(self, wid=None):
        self.session.run("xdotool", "windowfocus", "--sync", wid or self.window())

    def click(self, x, y, wid=None, button=1):
        self.focus(wid)
        self.session.run("xdotool", "mousemove", "--sync", "--window", wid or self.window(), x, y,
                         "click", button)

    def key(self, *keys, wid=None):
        self.focus(wid)
        self.session.run("xdotool", "key", "--clearmodifiers", *keys)

    def open_popup(self, trigger, channel="messenger"):
        """The new window on screen once `trigger` ran in the page polling `channel`."""
        before = set(self.windows()) | {self.window()}
        self.session.standin.queue_js(trigger, channel)
        return poll(lambda: next((w for w in self.shown() if w not in before), None), 30,
                    f"a window after {trigger}")

    def wait_gone(self, wid, what="the window"):
        """Waits until the window is destroyed, not just hidden."""
        poll(lambda: not self.session.run("xwininfo", "-id", wid, status=None).strip(), 30,
             f"{what} to close")

    def transient_for(self, wid):
        text = self.session.run("xprop", "-id", wid, "WM_TRANSIENT_FOR", status=None)
        match = re.search(r"# (0x[0-9a-f]+)", text)
        return match and int(match.group(1), 16)


class E2ETestCase(unittest.TestCase):
    session_options, launch_options = {}, {}  # launch_options None: the test starts the application

    @classmethod
    def startApp(cls):
        return None if cls.launch_options is None else cls.session.launch(**cls.launch_options)

    @classmethod
    def setUpClass(cls):
        cls.session, cls.failed = Session(cls.__name__, **cls.session_options), False
        try:
            cls.standin = cls.session.start().standin
            cls.app = cls.startApp()
        except BaseException:
            sys.stderr.write(cls.session.diagnostics(f"{cls.__name__} set-up"))
            cls.session.close(keep=True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close(keep=cls.failed)

    def run(self, result=None):
        result = result or self.defaultTestResult()
        before = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > before:
            type(self).failed = True
            sys.stderr.write(self.session.diagnostics(self.id()))
        return result
