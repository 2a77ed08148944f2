"""At home on the desktop: the tray item and its menu, a hidden start at login, the command line,
the desktop's dark style, spell checking, and the per-user installer."""

import re
import subprocess
import unittest
from pathlib import Path

from gi.repository import GLib
from harness import APP_ID, BusPeer, E2ETestCase, poll
from harness_support import SOURCE_DIR

ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
DARK = "matchMedia('(prefers-color-scheme: dark)').matches"


def visibleWindows(app):
    return [w for w in app.windows() if app.visible(w)]


class BackgroundAndTrayTest(E2ETestCase):
    """Started with --background, as at login, with a panel's tray on the bus."""
    session_options = {"tray": True}
    launch_app = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            cls.app = cls.session.launch(args=["--background"])
        except BaseException:
            cls.failed = True
            raise

    def item(self):
        registered = poll(lambda: self.session.tray_items(), 30, "a StatusNotifierItem registration")
        self.assertEqual(len(registered), 1)
        return BusPeer(self.session.session_bus, registered[0]["sender"], registered[0]["service"])

    def prop(self, peer, interface, name):
        return peer.call("org.freedesktop.DBus.Properties", "Get", "(ss)", (interface, name)).unpack()[0]

    def showWithTheTrayMenu(self):
        item = self.item()
        menu = BusPeer(self.session.session_bus, item.name, self.prop(item, ITEM, "Menu"))
        _, (_, _, children) = menu.call(MENU, "GetLayout", "(iias)", (0, -1, [])).unpack()
        labels = {props.get("label"): ident for ident, props, _ in children}
        self.assertIn("Показать Нолар", labels, f"the tray menu holds {list(labels)}")
        menu.call(MENU, "Event", "(isvu)", (labels["Показать Нолар"], "clicked", GLib.Variant("i", 0), 0))
        self.app.wait_visible(True)

    def test_hidden_start_works_and_the_tray_follows_the_badge_and_shows_the_window(self):
        session, standin = self.session, self.session.standin
        item = self.item()  # barrier: the app is up, and it made its item
        self.assertEqual(visibleWindows(self.app), [], "a start with --background showed a window")
        since = len(session.notifications())
        standin.queue_js('new Notification("В фоне", {body: "пришло"})')
        session.wait_notification(lambda n: n["summary"] == "В фоне", since=since)

        # (script, status, label)
        for script, status, label in [("navigator.setAppBadge(5)", "NeedsAttention", "5"),
                                      ("navigator.setAppBadge(1000)", "NeedsAttention", "999+"),
                                      ("navigator.clearAppBadge()", "Active", "")]:
            with self.subTest(script):
                standin.queue_js(script)
                poll(lambda: (self.prop(item, ITEM, "Status"), self.prop(item, ITEM, "XAyatanaLabel")) == (status, label),
                     30, f"the item in state {status} with label {label!r} after {script}")

        self.assertEqual(session.second_launch(args=["--background"]), 0)
        self.assertEqual(visibleWindows(self.app), [], "a second start with --background showed the window")
        self.showWithTheTrayMenu()

    def test_misspelt_russian_word_gets_a_correction(self):
        session, app = self.session, self.app
        _, match = session.wait_for_log(r"spell checking:(.*)$", since=app.log_start)
        self.assertEqual(match.group(1).split(), ["ru_RU", "en_US"])
        if not app.visible():
            self.assertEqual(session.second_launch(), 0)
            app.wait_visible(True)
        session.standin.evaluate("""(function () {
            var t = document.createElement("textarea");
            t.id = "spell";
            t.style.cssText = "position:fixed;left:0;top:0;width:400px;height:80px;font-size:32px;z-index:9";
            document.body.appendChild(t);
            t.focus();
            t.value = "превет";
            t.setSelectionRange(6, 6);
            return true;
        })()""")
        app.key("space")  # the word is checked once the caret leaves it
        poll(lambda: session.standin.evaluate("document.getElementById('spell').value") == "превет ", 30,
             "the typed blank")
        app.click(40, 30, button=3)
        poll(lambda: app.windows(kinds=("POPUP_MENU", "DROPDOWN_MENU")), 30, "the context menu")
        session.x("xdotool", "key", "Down", "Return")
        value = poll(lambda: (lambda v: v if v != "превет " else None)(
            session.standin.evaluate("document.getElementById('spell').value")), 30, "the corrected word")
        self.assertRegex(value.strip(), r"^[а-яё]+$", "the first menu item was not a correction")


class CommandLineAndLoginItemTest(E2ETestCase):
    """No tray and a dark desktop: the app runs as usual; the command line; start at login."""
    session_options = {"color_scheme": 1}

    def run_binary(self, *args):
        return subprocess.run([str(self.session.build.binary), *args], env=self.session.env, capture_output=True,
                              text=True, timeout=30)

    def test_version_help_and_unknown_options(self):
        # (arguments, exit status, pattern of stdout)
        for args, status, out in [(["--version"], 0, r"^Нолар 1\.4 \(сборка 27\)\n$"),
                                  (["--help"], 0, r"--background"),
                                  (["--no-such-option"], 2, r"^$"),
                                  (["--background", "stray"], 2, r"^$")]:
            with self.subTest(args):
                done = self.run_binary(*args)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertRegex(done.stdout, out)
                if status:
                    self.assertIn(args[-1], done.stderr)

    def test_no_tray_watcher_means_one_log_line_and_nothing_else(self):
        self.session.wait_for_log(r"tray: no status notifier watcher", since=self.app.log_start)
        self.assertEqual(sum("tray:" in line for line in self.app.log_lines()), 1)
        self.assertTrue(self.app.visible())

    def test_page_follows_the_portal_colour_scheme(self):
        standin = self.session.standin
        poll(lambda: standin.evaluate(DARK) is True, 30, "the page to prefer the dark scheme")
        self.session.desktop.call("org.nolar.Test.Desktop", "SetColorScheme", "(u)", (2,))
        poll(lambda: standin.evaluate(DARK) is False, 30, "the page to prefer the light scheme")

    def test_menu_item_writes_and_removes_the_autostart_entry(self):
        actions = BusPeer(self.session.session_bus, APP_ID, "/" + APP_ID.replace(".", "/"))
        entry = self.session.config_home / "autostart" / f"{APP_ID}.desktop"
        action = "delegate-toggleLaunchAtLogin"

        def state():
            return actions.call("org.gtk.Actions", "Describe", "(s)", (action,)).unpack()[0][2][0]
        self.assertFalse(state())
        for enabled in (True, False, True):
            with self.subTest(enabled=enabled):
                actions.call("org.gtk.Actions", "Activate", "(sava{sv})", (action, [], {}))
                poll(lambda: entry.exists() == enabled and state() == enabled, 30, f"autostart {enabled}")
        exec_line = re.search(r"^Exec=(.*)$", entry.read_text(), re.M).group(1)
        argv = GLib.shell_parse_argv(exec_line)[1]
        self.assertEqual(argv, [str(self.session.build.binary.resolve()), "--background"])
        done = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


class InstallTest(E2ETestCase):
    launch_app = False

    def install(self, *args):
        done = subprocess.run([str(SOURCE_DIR / "scripts" / "install"), *args], env=self.session.env,
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def tree(self):
        return {p.relative_to(self.session.home) for p in self.session.home.rglob("*")}

    def test_install_twice_run_and_uninstall(self):
        data, home = self.session.data_home, self.session.home
        before = self.tree()
        self.install("--from", str(self.session.build.dir))
        self.install("--from", str(self.session.build.dir))
        bundle = data / "Nolar" / "Nolar.app"
        entry = data / "applications" / f"{APP_ID}.desktop"
        metainfo = data / "metainfo" / f"{APP_ID}.metainfo.xml"
        for path in (bundle / "Contents" / "Info.plist", entry, metainfo,
                     data / "icons" / "hicolor" / "scalable" / "apps" / f"{APP_ID}.svg"):
            self.assertTrue(path.is_file(), path)
        for check in (["desktop-file-validate", str(entry)], ["appstreamcli", "validate", "--no-net", str(metainfo)]):
            done = subprocess.run(check, capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

        argv = GLib.shell_parse_argv(re.search(r"^Exec=(.*)$", entry.read_text(), re.M).group(1))[1]
        self.assertEqual(argv, [str(bundle / "Contents" / "Linux" / "nolar")])
        app = self.session.launch(binary=argv[0])
        self.assertIn(f" at {bundle}", app.log_lines()[0])
        self.assertEqual(app.quit(), 0)

        self.install("--uninstall")
        left = {p for p in self.tree() - before if not p.match("applications/mimeinfo.cache")}
        installed = [p for p in left if re.search(r"Nolar\.app|org\.nolar|/(applications|icons|metainfo)(/|$)",
                                                  "/" + str(p))]
        self.assertEqual(installed, [], "the uninstaller left these behind")
        self.assertTrue((data / "Nolar").is_dir(), "the user's website data went with the app")
        self.assertNotIn("org.nolar", (data / "applications" / "mimeinfo.cache").read_text(errors="replace")
                         if (data / "applications" / "mimeinfo.cache").exists() else "")
        self.assertTrue(home.is_dir())


if __name__ == "__main__":
    unittest.main()
