"""The end-to-end harness: the real binary in a disposable desktop session.

A `Session` is one private desktop: a temporary HOME with its own XDG folders and Downloads, an Xvfb
display, a private session bus with the fake notification server (which also records launcher
badge signals), a private system bus with the fake login manager, a default handler for http,
https, mailto and folders that writes down the URLs it is given, and the stand-in service on the
build's port. `Session.launch()` starts the application as an `App`; a new `launch()` with the same
HOME is a restart. `E2ETestCase` gives each test class one session with the application loaded
(`launch_app = False` to start it yourself). A failing test prints the application's output, its
log, the stand-in's exchanges and the D-Bus records, and keeps the session folder (NOLAR_E2E_KEEP=1
keeps it always). Every `wait_*` helper polls with a deadline and raises AssertionError naming what
it waited for. Records are lists in arrival order; `since=len(previous)` shows what came later.
Environment: NOLAR_BUILD_DIR (a build configured with NOLAR_SERVICE_HOST=127.0.0.1:<port> and
NOLAR_TEST_CERT), NOLAR_SOURCE_DIR. Session(tray=True) puts a StatusNotifierWatcher on the bus and
Session(color_scheme=N) the desktop portal's settings (all in fake_peers.py; S.desktop drives the portal).
"""

import configparser
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from harness_support import (APP_ID, DEFAULT_TIMEOUT, FOREIGN_HOST, HERE, PASS_THROUGH, SERVICE_HOST, SOURCE_DIR,  # noqa: F401
                             USER_AGENT_SUFFIX, Adopted, BusPeer, Build, Child, StandIn, descendants, environOf, poll,
                             readJsonLines, reapOrphans, startBus, readLine)

NOTIFICATIONS = ("org.freedesktop.Notifications", "/org/freedesktop/Notifications")
LOGIN1 = ("org.freedesktop.login1", "/org/freedesktop/login1")


def session_cookie(header):
    """The service's session cookie in a Cookie header, or None."""
    match = re.search(r"(?:^|;\s*)(nolar_session=[^;]+)", header or "")
    return match.group(1) if match else None


class Session:
    """One private desktop session; see the module's description."""

    def __init__(self, name="e2e", downloads_in_home=False, tray=False, color_scheme=None):
        self.build = Build()
        self.options = dict(downloads_in_home=downloads_in_home, tray=tray, color_scheme=color_scheme)
        self.root = Path(tempfile.mkdtemp(prefix=f"nolar-e2e-{name}-"))
        self.home = self.root / "home"
        self.config_home = self.home / ".config"
        self.data_home = self.home / ".local" / "share"
        self.state_home = self.home / ".local" / "state"
        self.cache_home = self.home / ".cache"
        self.runtime_dir = self.root / "runtime"
        self.tmp_dir = self.root / "tmp"
        self.downloads = self.home / "Downloads"
        self.log_dir = self.root / "logs"
        self.records_dir = self.root / "records"
        self.log_path = self.state_home / "Nolar" / "nolar.log"
        self.settings_path = self.config_home / "Nolar" / "settings.ini"
        self.infrastructure = []
        self.apps = []
        self.app = None
        self.launches = 0
        self.notifier = self.logind = self.standin = self.desktop = None

    # --- set-up and tear-down ------------------------------------------------------------------

    def start(self):
        self._makeHome()
        self.env = self._baseEnv()
        self._startDisplay()
        child, self.session_bus = startBus("session", self.log_dir, self.env)
        self.infrastructure.append(child)
        child, self.system_bus = startBus("system", self.log_dir, self.env)
        self.infrastructure.append(child)
        self.env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus, DBUS_SYSTEM_BUS_ADDRESS=self.system_bus)
        peers = ["--notifications", self.records_dir / "notifications.jsonl", "--launcher-record",
                 self.records_dir / "launcher.jsonl", "--logind", self.records_dir / "sleep-matches.jsonl"]
        self.notifier = BusPeer(self.session_bus, *NOTIFICATIONS)
        self.logind = BusPeer(self.system_bus, *LOGIN1)
        if self.options["tray"]:
            peers += ["--watcher", self.records_dir / "tray.jsonl"]
        if self.options["color_scheme"] is not None:
            peers += ["--color-scheme", self.options["color_scheme"]]
            self.desktop = BusPeer(self.session_bus, "org.freedesktop.portal.Desktop",
                                   "/org/freedesktop/portal/desktop")
        self._startPeers("peers", peers)
        self.standin = StandIn(self.build, self.root / "standin", self.log_dir, self.env)
        self.infrastructure.append(self.standin.child)
        return self

    def close(self, keep=False):
        for peer in (self.notifier, self.logind, self.desktop):
            if peer:
                peer.close()
        for app in reversed(self.apps):
            app.stop()
        for child in reversed(self.infrastructure):
            child.stop()
        # whatever left its process group (an app relaunched detached by the updater, say)
        for pid in self.session_processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        reapOrphans()
        if keep or os.environ.get("NOLAR_E2E_KEEP"):
            sys.stderr.write(f"kept the session folder {self.root}\n")
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def _makeHome(self):
        for folder in (self.config_home, self.data_home / "applications", self.state_home, self.cache_home,
                       self.runtime_dir, self.tmp_dir, self.log_dir, self.records_dir, self.root / "bin"):
            folder.mkdir(parents=True, exist_ok=True)
        self.runtime_dir.chmod(0o700)
        if self.options["downloads_in_home"]:
            # what xdg-user-dirs writes when the user deleted the Downloads folder
            (self.config_home / "user-dirs.dirs").write_text('XDG_DOWNLOAD_DIR="$HOME/"\n')
        else:
            self.downloads.mkdir()
            (self.config_home / "user-dirs.dirs").write_text('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
        self._installUrlHandler()

    def _installUrlHandler(self):
        """The session's default browser, mail client and file manager: it writes down the URL."""
        self.opened_urls_path = self.records_dir / "opened-urls.txt"
        script = self.root / "bin" / "open-url"
        # What the app sets for its own drawing must not reach the programs it opens: it would show
        # after the address and no address would match.
        script.write_text(f"#!/bin/sh\nprintf '%s%s\\n' \"$1\" \"${{GDK_GL:+ GDK_GL}}${{WEBKIT_DISABLE_DMABUF_RENDERER:+ DMABUF}}\" "
                          f">> '{self.opened_urls_path}'\n")
        script.chmod(0o755)
        types = ["x-scheme-handler/http", "x-scheme-handler/https", "x-scheme-handler/mailto",
                 "x-scheme-handler/nolartest", "x-scheme-handler/file", "inode/directory"]
        desktop = "nolar-test-url-handler.desktop"
        (self.data_home / "applications" / desktop).write_text(
            "[Desktop Entry]\nType=Application\nName=Test URL handler\nNoDisplay=true\n"
            f"Exec={script} %u\nMimeType={';'.join(types)};\n")
        (self.config_home / "mimeapps.list").write_text(
            "[Default Applications]\n" + "".join(f"{t}={desktop}\n" for t in types))

    def _baseEnv(self):
        env = {k: v for k, v in os.environ.items() if k in PASS_THROUGH or k.startswith("WEBKIT_")}
        env.setdefault("PATH", "/usr/local/bin:/usr/bin:/bin")
        env.update(HOME=str(self.home), LANG="C.UTF-8", XDG_CONFIG_HOME=str(self.config_home),
                   XDG_DATA_HOME=str(self.data_home), XDG_STATE_HOME=str(self.state_home),
                   XDG_CACHE_HOME=str(self.cache_home), XDG_RUNTIME_DIR=str(self.runtime_dir),
                   XDG_DATA_DIRS="/usr/local/share:/usr/share", XDG_CONFIG_DIRS="/etc/xdg", TMPDIR=str(self.tmp_dir),
                   GDK_BACKEND="x11", NO_AT_BRIDGE="1", GTK_A11Y="none", GSETTINGS_BACKEND="memory",
                   GIO_USE_VFS="local", WEBKIT_DISABLE_COMPOSITING_MODE="1")
        return env

    def _startDisplay(self):
        read, write = os.pipe()
        try:
            child = Child("xvfb", ["Xvfb", "-displayfd", str(write), "-screen", "0", "1600x1000x24",
                                   "-nolisten", "tcp", "-noreset"], self.env, self.log_dir, passFds=(write,))
        finally:
            os.close(write)
        self.infrastructure.append(child)
        self.display = ":" + readLine(read, 30, "Xvfb's display number").strip()
        self.env["DISPLAY"] = self.display

    def _startPeers(self, name, args):
        child = Child(name, ["/usr/bin/python3", str(HERE / "fake_peers.py"), *map(str, args)], self.env, self.log_dir)
        self.infrastructure.append(child)
        child.waitForLine(r"^ready$", 30, f"the fake {name} to own their names")

    # --- the application -----------------------------------------------------------------------

    def launch(self, wait_loaded=True, extra_env=None, timeout=DEFAULT_TIMEOUT, binary=None, args=()):
        """Starts the application (the build's, or the executable `binary` of another copy of the
        bundle) with the command line `args`; with `wait_loaded`, returns once its page reported "loaded"."""
        self.launches += 1
        app = App(self, dict(self.env, **(extra_env or {})), f"app-{self.launches}", binary=binary, args=args)
        self.apps.append(app)
        self.app = app
        if wait_loaded:
            app.wait_loaded(timeout)
        return app

    def marks(self):
        """(request seq, report seq, log length) now: where a run that starts later begins."""
        return (*self.standin.seqs(), len(self.log_lines()))

    def adopt_relaunch(self, since, wait_loaded=True, timeout=DEFAULT_TIMEOUT):
        """Waits for a run of the application that this session did not start (its executable is
        called "nolar", it is not one of the session's apps) and takes it over as `self.app`.
        `since` is `marks()` from before it started."""
        known = {app.pid for app in self.apps}
        pid = poll(lambda: next((p for p in self.session_processes("nolar") if p not in known), None), timeout,
                   "a run of the application started outside the session")
        self.launches += 1
        app = App(self, None, f"app-{self.launches}-adopted", adopted=pid, since=since)
        self.apps.append(app)
        self.app = app
        if wait_loaded:
            app.wait_loaded(timeout)
        return app

    def session_processes(self, executable=None):
        """Live processes started in this session (by HOME), also those that left their process
        group; with `executable` (e.g. "nolar") only those whose program has that file name."""
        found = []
        for pid in descendants():
            if environOf(pid).get("HOME") != str(self.home):
                continue
            if executable:
                try:
                    if Path(os.readlink(f"/proc/{pid}/exe")).name != executable:
                        continue
                except OSError:
                    continue
            found.append(pid)
        return sorted(found)

    def second_launch(self, timeout=30, args=()):
        """Runs the binary again in this session with the command line `args` (it hands over to the
        running one) and waits for it to end; returns its exit status."""
        self.launches += 1
        child = Child(f"second-launch-{self.launches}", [str(self.build.binary), *args], self.env, self.log_dir)
        try:
            child.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"a second launch did not end within {timeout} s:\n{child.output()}") from None
        finally:
            child.stop(grace=3)
        return child.popen.returncode

    # --- what the session recorded ---------------------------------------------------------------

    def log_lines(self):
        try:
            return self.log_path.read_text(errors="replace").split("\n")[:-1]  # a line still being written: not yet
        except FileNotFoundError:
            return []

    def wait_for_log(self, regex, since=0, timeout=DEFAULT_TIMEOUT):
        """Waits for a line of the application's log from index `since` on; returns (index, match)."""
        def found():
            lines = self.log_lines()
            for i in range(since, len(lines)):
                match = re.search(regex, lines[i])
                if match:
                    return i, match
            return None
        return poll(found, timeout, f"a log line matching {regex!r}")

    def settings(self):
        """The application's settings file as {group: {key: value}} (raw strings)."""
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(self.settings_path)
        return {group: dict(parser[group]) for group in parser.sections()}

    def records(self, name, since=0):
        """What a fake peer (fake_peers.py) wrote down, in arrival order: "notifications" (each Notify
        answered, with the server's `id`), "launcher" (each LauncherEntry.Update: uri, props),
        "sleep-matches" (subscriptions to PrepareForSleep), "tray" (registered items: sender, service),
        "file-manager" (calls: method, uris)."""
        return readJsonLines(self.records_dir / f"{name}.jsonl")[since:]

    def wait_record(self, name, since=0, matches=bool, timeout=DEFAULT_TIMEOUT, what=None):
        """Waits for a record of `name` for which `matches(record)` is true; returns it."""
        return poll(lambda: next((r for r in self.records(name, since) if matches(r)), None), timeout,
                    what or f"a record in {name}")

    def wait_notification(self, summary, since=0):
        return self.wait_record("notifications", since, lambda n: n["summary"] == summary,
                                what=f"the notification {summary!r}")

    def click_notification(self, server_id, action="default"):
        """The server reports that the user clicked the notification (or one of its actions)."""
        self.notifier.call("org.nolar.Test.Notifications", "EmitActionInvoked", "(us)", (server_id, action))

    def prepare_for_sleep(self, sleeping):
        """The login manager announces sleep (True) or waking up (False)."""
        self.logind.call("org.nolar.Test.Login1", "EmitPrepareForSleep", "(b)", (sleeping,))

    def opened_urls(self, since=0):
        """URLs handed to the desktop's default handlers, in order."""
        try:
            return self.opened_urls_path.read_text().split("\n")[:-1][since:]
        except FileNotFoundError:
            return []

    def wait_opened_url(self, matches, since=0, timeout=DEFAULT_TIMEOUT):
        return poll(lambda: next((u for u in self.opened_urls(since) if matches(u)), None), timeout,
                    "a URL handed to the desktop")

    def start_file_manager(self):
        """Puts the fake file manager on the session bus; until then a call to it finds nobody."""
        self._startPeers("file-manager", ["--file-manager", self.records_dir / "file-manager.jsonl"])

    def x(self, *argv, check=True):
        """Runs an X client (xdotool, xprop, ...) on the session's display; returns its stdout."""
        done = subprocess.run(argv, env=self.env, capture_output=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError(f"{' '.join(argv)} failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
        return done.stdout.decode(errors="replace")

    def diagnostics(self, title="failure"):
        parts = [f"\n===== {title}: session {self.root} (display {getattr(self, 'display', '?')})"]
        for app in self.apps:
            parts.append(f"--- {app.child.name} (pid {app.pid}, {'running' if app.running() else 'ended'}) stderr:\n"
                         f"{app.child.output(tail=40)}")
        parts.append("--- nolar.log:\n" + "\n".join(self.log_lines()[-30:]))
        if self.standin:
            parts.append("--- stand-in:\n" + self.standin.child.output(tail=40))
        parts.append("--- notifications: " + "\n".join(map(str, self.records("notifications")[-10:])))
        parts.append("--- launcher: " + "\n".join(map(str, self.records("launcher")[-10:])))
        for child in self.infrastructure:
            if not child.running():
                parts.append(f"--- {child.name} ended ({child.popen.returncode}):\n{child.output()}")
        return "\n".join(parts) + "\n"


class App:
    """One run of the application binary in a session, with its X window."""

    def __init__(self, session, env, name, binary=None, adopted=None, since=None, args=()):
        self.session = session
        self.request_seq, self.report_seq, self.log_start = since or session.marks()
        self.loaded = None
        self.main_window = None
        if adopted:
            self.child = Adopted(name, adopted)
        else:
            self.child = Child(name, [str(binary or session.build.binary), *args], env, session.log_dir)

    @property
    def pid(self):
        return self.child.pid

    def running(self):
        return self.child.running()

    def wait_loaded(self, timeout=DEFAULT_TIMEOUT):
        """Waits for this run's first "loaded" report of the messenger page; returns its value."""
        standin = self.session.standin

        def loaded():
            # short waits on the stand-in, so that an app that died at start fails the test at once
            found = standin.call("GET", "wait", {"what": "report", "kind": "loaded", "host": SERVICE_HOST,
                                                 "since": self.report_seq, "timeout": 2})
            if found is None and not self.running():
                raise AssertionError(f"{self.child.name} ended with status {self.child.popen.returncode} "
                                     f"before its page loaded:\n{self.child.output()}")
            return found
        if not self.loaded:
            self.loaded = poll(loaded, timeout, f'the page of {self.child.name} to report "loaded"')["value"]
        return self.loaded

    def wait_exit(self, timeout=30):
        """Waits for the process and every helper process of its group to end; returns the status."""
        poll(lambda: not self.running(), timeout, f"{self.child.name} to end")
        self.child.waitGroupEmpty(timeout)
        return self.child.popen.returncode

    def quit(self, timeout=30):
        """Ctrl+Q, then waits for the whole process group to end; returns the exit status."""
        self.key("ctrl+q")
        return self.wait_exit(timeout)

    def stop(self):
        self.child.stop()

    # --- the X window ----------------------------------------------------------------------------

    def windows(self, kinds=("NORMAL",)):
        """This process's top-level windows (mapped or not) whose _NET_WM_WINDOW_TYPE is one of
        `kinds` (NORMAL: the main window and popups; DIALOG: alerts and panels), oldest first."""
        for _ in range(50):
            # This xdotool dies on BadWindow, printing nothing, when a window closes while it searches.
            done = subprocess.run(["xdotool", "search", "--pid", str(self.pid)], env=self.session.env,
                                  capture_output=True, timeout=30)
            if b"BadWindow" not in done.stderr:
                break
        else:
            raise AssertionError(f"xdotool search kept failing on a closing window: {done.stderr!r}")
        if done.returncode not in (0, 1) or (done.returncode == 1 and done.stdout.strip()):  # 1: none found
            raise AssertionError(f"xdotool search failed ({done.returncode}): {done.stderr!r}")
        wanted = tuple(f"_NET_WM_WINDOW_TYPE_{k}" for k in kinds)
        found = []
        for w in done.stdout.decode().split():
            prop = subprocess.run(["xprop", "-id", w, "_NET_WM_WINDOW_TYPE"], env=self.session.env,
                                  capture_output=True, timeout=30)
            if prop.returncode != 0 and b"BadWindow" not in prop.stderr:
                raise AssertionError(f"xprop -id {w} failed: {prop.stderr!r}")
            if any(k.encode() in prop.stdout for k in wanted):  # a window closed since the search has none
                found.append(w)
        return found

    def window(self, timeout=DEFAULT_TIMEOUT):
        """The main window: the first normal top-level window the process mapped."""
        if not self.main_window:
            def mapped():
                return next((w for w in self.windows() if self.visible(w)), None)
            self.main_window = poll(mapped, timeout, f"a window of {self.child.name}")
        return self.main_window

    def info(self, wid=None):
        """xwininfo's fields as a dict (e.g. "Map State", "Width", "Absolute upper-left X")."""
        text = self.session.x("xwininfo", "-id", wid or self.window(), check=False)
        return {k.strip(): v.strip() for k, v in re.findall(r"^\s*([^:\n]+):\s*(.*)$", text, re.M)}

    def visible(self, wid=None):
        return self.info(wid).get("Map State") == "IsViewable"

    def wait_visible(self, visible=True, wid=None, timeout=DEFAULT_TIMEOUT):
        poll(lambda: self.visible(wid) == visible, timeout, f"the window to be {'shown' if visible else 'hidden'}")

    def title(self, wid=None):
        return self.session.x("xdotool", "getwindowname", wid or self.window()).rstrip("\n")

    def geometry(self, wid=None):
        info = self.info(wid)
        return {"x": int(info["Absolute upper-left X"]), "y": int(info["Absolute upper-left Y"]),
                "width": int(info["Width"]), "height": int(info["Height"])}

    def click(self, x, y, wid=None, button=1):
        """Clicks at (x, y) relative to the window (the main one by default)."""
        self.focus(wid)
        self.session.x("xdotool", "mousemove", "--sync", "--window", wid or self.window(), str(x), str(y),
                       "click", str(button))

    def focus(self, wid=None):
        self.session.x("xdotool", "windowfocus", "--sync", wid or self.window())

    def key(self, *keys, wid=None):
        """Focuses the window (the main one by default) and types xdotool key names (e.g. "ctrl+w")."""
        self.focus(wid)
        self.session.x("xdotool", "key", "--clearmodifiers", *keys)

    def open_popup(self, trigger, channel="messenger"):
        """Runs `trigger` in the page polling `channel`; returns the new window once it is on screen."""
        before = set(self.windows()) | {self.window()}
        self.session.standin.queue_js(trigger, channel)
        return poll(lambda: next((w for w in self.windows() if w not in before and self.visible(w)), None), 30,
                    f"a popup window after {trigger}")

    def wait_gone(self, wid, what="the window"):
        """Waits until the window is destroyed, not just hidden."""
        poll(lambda: not self.session.x("xwininfo", "-id", wid, check=False).strip(), 30, f"{what} to close")

    def transient_for(self, wid):
        """The window a dialog belongs to (as an int), or None."""
        match = re.search(r"window id # (0x[0-9a-f]+)", self.session.x("xprop", "-id", wid, "WM_TRANSIENT_FOR",
                                                                          check=False))
        return int(match.group(1), 16) if match else None

    def screenshot(self, path, wid=None):
        self.session.x("import", "-window", wid or self.window(), str(path))
        return Path(path)

    def log_lines(self):
        """The log lines written since this run started."""
        return self.session.log_lines()[self.log_start:]


class E2ETestCase(unittest.TestCase):
    """A test class with one session (and, unless `launch_app` is False, the application loaded)."""

    session_options = {}
    launch_app = True
    session = None
    app = None

    @classmethod
    def setUpClass(cls):
        cls.failed = False
        cls.session = Session(cls.__name__, **cls.session_options)
        try:
            cls.session.start()
            if cls.launch_app:
                cls.app = cls.session.launch()
        except BaseException:
            sys.stderr.write(cls.session.diagnostics(f"{cls.__name__} set-up"))
            cls.session.close(keep=True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close(keep=cls.failed)

    def run(self, result=None):
        if result is None:
            return super().run(result)
        before = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > before:
            type(self).failed = True
            sys.stderr.write(self.session.diagnostics(self.id()))
        return result
