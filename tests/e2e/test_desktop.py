"""At home on the desktop: the tray item and its menu, a hidden start at login, the command line,
the desktop's dark style, spell checking, and the per-user installer; what survives a restart."""

import re
import unittest

from gi.repository import GLib
from harness import APP_ID, SOURCE_DIR, BusPeer, E2ETestCase, poll, session_cookie

DARK = "matchMedia('(prefers-color-scheme: dark)').matches"


def execArgv(entry):
    return GLib.shell_parse_argv(re.search(r"^Exec=(.*)$", entry.read_text(), re.M).group(1))[1]


class DesktopTest(E2ETestCase):
    """Started with --background, as at login, with a panel's tray on the bus and a dark desktop."""
    session_options, launch_options = {"tray": True, "color_scheme": 1}, {"args": ["--background"]}

    def test_hidden_start_works_and_the_tray_follows_the_badge_and_shows_the_window(self):
        session, app = self.session, self.app
        registered = session.wait_record("tray", what="a StatusNotifierItem registration")
        item = BusPeer(session.session_bus, registered["sender"], registered["service"])

        def prop(name):
            return item.call("org.freedesktop.DBus.Properties", "Get", "(ss)",
                             ("org.kde.StatusNotifierItem", name)).unpack()[0]
        self.assertEqual(app.shown(), [], "--background showed a window")
        since = len(session.records("notifications"))
        self.standin.queue_js('new Notification("В фоне", {body: "пришло"})')
        session.wait_notification("В фоне", since)
        for script, state in [("navigator.setAppBadge(5)", ("NeedsAttention", "5")),
                              ("navigator.setAppBadge(1000)", ("NeedsAttention", "999+")),
                              ("navigator.clearAppBadge()", ("Active", ""))]:
            self.standin.queue_js(script)
            poll(lambda: (prop("Status"), prop("XAyatanaLabel")) == state, 30, f"{state} after {script}")

        session.run(session.build.binary, "--background")
        self.assertEqual(app.shown(), [], "a second start with --background showed the window")
        menu = BusPeer(session.session_bus, item.name, prop("Menu"))
        _, (_, _, children) = menu.call("com.canonical.dbusmenu", "GetLayout", "(iias)", (0, -1, [])).unpack()
        labels = {props.get("label"): ident for ident, props, _ in children}
        menu.call("com.canonical.dbusmenu", "Event", "(isvu)",
                  (labels["Показать Нолар"], "clicked", GLib.Variant("i", 0), 0))
        app.wait_visible(True)

    def test_misspelt_russian_word_gets_a_correction(self):
        session, app, field = self.session, self.app, "document.getElementById('spell').value"
        self.assertEqual(session.wait_for_log(r"spell checking:(.*)$", app.marks.log).group(1).split(),
                         ["ru_RU", "en_US"])
        if not app.shown():
            session.run(session.build.binary)
            app.wait_visible(True)
        self.standin.evaluate("""(() => {
            const t = document.body.appendChild(document.createElement("textarea"));
            t.style.cssText = "position:fixed;left:0;top:0;width:400px;height:80px;font-size:32px;z-index:9";
            t.id = "spell"; t.value = "превет"; t.focus(); t.setSelectionRange(6, 6); })()""")
        app.key("space")  # the word is checked once the caret leaves it
        poll(lambda: self.standin.evaluate(field) == "превет ", 30, "the typed blank")
        app.click(40, 30, button=3)
        poll(lambda: app.windows("POPUP_MENU", "DROPDOWN_MENU"), 30, "the context menu")
        session.run("xdotool", "key", "Down", "Return")
        value = poll(lambda: (v := self.standin.evaluate(field)) != "превет " and v, 30, "the corrected word")
        self.assertRegex(value.strip(), r"^[а-яё]+$", "the first menu item was not a correction")

    def test_version_help_and_unknown_options(self):
        for args, status, out in [(["--version"], 0, r"^Нолар 1\.4 \(сборка 27\)\n$"),
                                  (["--help"], 0, r"--background"), (["--no-such-option"], 2, r"^$"),
                                  (["--background", "stray"], 2, r"^$")]:
            with self.subTest(args):
                self.assertRegex(self.session.run(self.session.build.binary, *args, status=status), out)

    def test_page_follows_the_portal_colour_scheme(self):
        poll(lambda: self.standin.evaluate(DARK) is True, 30, "the page to prefer the dark scheme")
        self.session.bus_peer("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop").call(
            "org.nolar.Test.Desktop", "SetColorScheme", "(u)", (2,))
        poll(lambda: self.standin.evaluate(DARK) is False, 30, "the page to prefer the light scheme")

    def test_menu_item_writes_and_removes_the_autostart_entry(self):
        actions, toggle = self.session.bus_peer(APP_ID), "delegate-toggleLaunchAtLogin"
        entry = self.session.config_home / "autostart" / f"{APP_ID}.desktop"

        def state():
            return actions.call("org.gtk.Actions", "Describe", "(s)", (toggle,)).unpack()[0][2][0]
        self.assertFalse(state())
        for enabled in (True, False, True):
            actions.call("org.gtk.Actions", "Activate", "(sava{sv})", (toggle, [], {}))
            poll(lambda: entry.exists() == enabled and state() == enabled, 30, f"autostart {enabled}")
        self.assertEqual(execArgv(entry), [str(self.session.build.binary.resolve()), "--background"])
        self.session.run("desktop-file-validate", entry)


class InstallTest(E2ETestCase):
    launch_options = None

    def storedZoom(self):
        settings = self.session.config_home / "Nolar" / "settings.ini"
        match = settings.exists() and re.search(r"^NolarZoom=(.*)$", settings.read_text(), re.M)
        return match and round(float(match.group(1)), 6)

    def pageZoom(self, app):
        """The web view's zoom as the page sees it: device pixels of the view per CSS pixel."""
        return round(app.geometry()["width"] / self.standin.evaluate("window.innerWidth"), 2)

    def test_install_twice_run_restart_and_uninstall(self):
        """The zoom and the service's session cookie survive a quit and a restart."""
        session, home, data = self.session, self.session.home, self.session.data_home
        before, install = set(home.rglob("*")), SOURCE_DIR / "scripts" / "install"
        for _ in range(2):
            session.run(install, "--from", session.build.dir, timeout=300)
        bundle, entry = data / "Nolar" / "Nolar.app", data / "applications" / f"{APP_ID}.desktop"
        for path in (bundle / "Contents/Info.plist", data / f"icons/hicolor/scalable/apps/{APP_ID}.svg"):
            self.assertTrue(path.is_file(), path)
        session.run("desktop-file-validate", entry)
        session.run("appstreamcli", "validate", "--no-net", data / "metainfo" / f"{APP_ID}.metainfo.xml")
        self.assertEqual(execArgv(entry), [str(bundle / "Contents" / "Linux" / "nolar")])
        app = session.launch(binary=execArgv(entry)[0])
        self.assertIn(f" at {bundle}", session.log_lines(app.marks.log)[0])
        cookie = session_cookie(app.loaded["cookie"])
        self.assertIsNotNone(cookie, f"the service set no session cookie: {app.loaded['cookie']!r}")
        self.assertEqual(self.pageZoom(app), 1.0)
        for key, zoom in [("ctrl+equal", 1.1), ("ctrl+equal", 1.2), ("ctrl+minus", 1.1), ("ctrl+0", 1.0),
                          ("ctrl+equal", 1.1), ("ctrl+equal", 1.2)]:
            with self.subTest(key=key, zoom=zoom):
                app.key(key)
                poll(lambda: self.storedZoom() == zoom, 30, f"NolarZoom={zoom} after {key}")
        self.assertEqual(self.pageZoom(app), 1.2)
        self.assertEqual(app.quit(), 0, "Ctrl+Q ends the process normally")
        again = session.launch(binary=execArgv(entry)[0])
        self.assertEqual((self.storedZoom(), self.pageZoom(again)), (1.2, 1.2))
        self.assertEqual(session_cookie(again.loaded["cookie"]), cookie, "another session after the restart")
        self.assertEqual(again.quit(), 0)

        session.run(install, "--uninstall")
        # what the run made (website data, log, settings) stays; nothing of the installation does
        self.assertEqual([p for p in set(home.rglob("*")) - before if re.search(
            r"Nolar\.app|org\.nolar|/(icons|metainfo)(/|$)|/applications/(?!mimeinfo\.cache$)", str(p))], [])
        cache = data / "applications" / "mimeinfo.cache"
        self.assertNotIn("org.nolar", cache.read_text() if cache.exists() else "")
        self.assertTrue((data / "Nolar").is_dir(), "the user's website data went with the app")


if __name__ == "__main__":
    unittest.main()
