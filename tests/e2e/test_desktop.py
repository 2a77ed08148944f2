"""At home on the desktop: the tray item and its menu, a hidden start at login, the command line,
the desktop's dark style, spell checking, and the per-user installer."""

import re
import subprocess
import unittest

from gi.repository import GLib
from harness import APP_ID, BusPeer, E2ETestCase, poll
from harness_support import SOURCE_DIR

DARK = "matchMedia('(prefers-color-scheme: dark)').matches"


def execArgv(entry):
    return GLib.shell_parse_argv(re.search(r"^Exec=(.*)$", entry.read_text(), re.M).group(1))[1]


def shown(app):
    return [w for w in app.windows() if app.visible(w)]


def validate(*argv):
    done = subprocess.run(argv, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr


class BackgroundAndTrayTest(E2ETestCase):
    """Started with --background, as at login, with a panel's tray on the bus."""
    session_options = {"tray": True}
    launch_app = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.app = cls.session.launch(args=["--background"])

    def test_hidden_start_works_and_the_tray_follows_the_badge_and_shows_the_window(self):
        session, standin, app = self.session, self.session.standin, self.app
        registered = session.wait_record("tray", what="a StatusNotifierItem registration")
        item = BusPeer(session.session_bus, registered["sender"], registered["service"])

        def prop(name):
            return item.call("org.freedesktop.DBus.Properties", "Get", "(ss)", ("org.kde.StatusNotifierItem", name)
                             ).unpack()[0]
        self.assertEqual(shown(app), [], "--background showed a window")
        since = len(session.records("notifications"))
        standin.queue_js('new Notification("В фоне", {body: "пришло"})')
        session.wait_notification("В фоне", since)

        for script, state in [("navigator.setAppBadge(5)", ("NeedsAttention", "5")),
                              ("navigator.setAppBadge(1000)", ("NeedsAttention", "999+")),
                              ("navigator.clearAppBadge()", ("Active", ""))]:
            standin.queue_js(script)
            poll(lambda: (prop("Status"), prop("XAyatanaLabel")) == state, 30, f"the item {state} after {script}")

        self.assertEqual(session.second_launch(args=["--background"]), 0)
        self.assertEqual(shown(app), [], "a second start with --background showed the window")
        menu = BusPeer(session.session_bus, item.name, prop("Menu"))
        _, (_, _, children) = menu.call("com.canonical.dbusmenu", "GetLayout", "(iias)", (0, -1, [])).unpack()
        labels = {props.get("label"): ident for ident, props, _ in children}
        menu.call("com.canonical.dbusmenu", "Event", "(isvu)",
                  (labels["Показать Нолар"], "clicked", GLib.Variant("i", 0), 0))
        app.wait_visible(True)

    def test_misspelt_russian_word_gets_a_correction(self):
        session, app = self.session, self.app
        _, match = session.wait_for_log(r"spell checking:(.*)$", since=app.log_start)
        self.assertEqual(match.group(1).split(), ["ru_RU", "en_US"])
        if not shown(app):
            self.assertEqual(session.second_launch(), 0)
            app.wait_visible(True)
        field = "document.getElementById('spell').value"
        session.standin.evaluate("""(function () {
            var t = document.body.appendChild(document.createElement("textarea"));
            t.id = "spell";
            t.style.cssText = "position:fixed;left:0;top:0;width:400px;height:80px;font-size:32px;z-index:9";
            t.focus();
            t.value = "превет";
            t.setSelectionRange(6, 6);
        })()""")
        app.key("space")  # the word is checked once the caret leaves it
        poll(lambda: session.standin.evaluate(field) == "превет ", 30, "the typed blank")
        app.click(40, 30, button=3)
        poll(lambda: app.windows(kinds=("POPUP_MENU", "DROPDOWN_MENU")), 30, "the context menu")
        session.x("xdotool", "key", "Down", "Return")
        value = poll(lambda: (lambda v: v if v != "превет " else None)(session.standin.evaluate(field)), 30,
                     "the corrected word")
        self.assertRegex(value.strip(), r"^[а-яё]+$", "the first menu item was not a correction")


class CommandLineAndLoginItemTest(E2ETestCase):
    """No tray and a dark desktop: the app runs as usual; the command line; start at login."""
    session_options = {"color_scheme": 1}

    def test_version_help_and_unknown_options(self):
        for args, status, out in [(["--version"], 0, r"^Нолар 1\.4 \(сборка 27\)\n$"), (["--help"], 0, r"--background"),
                                  (["--no-such-option"], 2, r"^$"), (["--background", "stray"], 2, r"^$")]:
            done = subprocess.run([str(self.session.build.binary), *args], env=self.session.env, capture_output=True,
                                  text=True, timeout=30)
            self.assertEqual((done.returncode, bool(re.search(out, done.stdout))), (status, True), (args, done))

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
            actions.call("org.gtk.Actions", "Activate", "(sava{sv})", (action, [], {}))
            poll(lambda: entry.exists() == enabled and state() == enabled, 30, f"autostart {enabled}")
        self.assertEqual(execArgv(entry), [str(self.session.build.binary.resolve()), "--background"])
        validate("desktop-file-validate", str(entry))


class InstallTest(E2ETestCase):
    launch_app = False

    def install(self, *args):
        done = subprocess.run([str(SOURCE_DIR / "scripts" / "install"), *args], env=self.session.env,
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_install_twice_run_and_uninstall(self):
        home, data = self.session.home, self.session.data_home
        before = set(home.rglob("*"))
        self.install("--from", str(self.session.build.dir))
        self.install("--from", str(self.session.build.dir))
        bundle, entry = data / "Nolar" / "Nolar.app", data / "applications" / f"{APP_ID}.desktop"
        metainfo = data / "metainfo" / f"{APP_ID}.metainfo.xml"
        for path in (bundle / "Contents" / "Info.plist", data / "icons/hicolor/scalable/apps" / f"{APP_ID}.svg"):
            self.assertTrue(path.is_file(), path)
        validate("desktop-file-validate", str(entry))
        validate("appstreamcli", "validate", "--no-net", str(metainfo))
        self.assertEqual(execArgv(entry), [str(bundle / "Contents" / "Linux" / "nolar")])
        app = self.session.launch(binary=execArgv(entry)[0])
        self.assertIn(f" at {bundle}", app.log_lines()[0])
        self.assertEqual(app.quit(), 0)

        self.install("--uninstall")
        # what the run made (website data, log, settings) stays; nothing of the installation does
        left = [p for p in set(home.rglob("*")) - before
                if re.search(r"Nolar\.app|org\.nolar|/(icons|metainfo)(/|$)|/applications/(?!mimeinfo\.cache$)", str(p))]
        self.assertEqual(left, [])
        cache = data / "applications" / "mimeinfo.cache"
        self.assertNotIn("org.nolar", cache.read_text() if cache.exists() else "")
        self.assertTrue((data / "Nolar").is_dir(), "the user's website data went with the app")


if __name__ == "__main__":
    unittest.main()
