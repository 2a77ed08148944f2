"""The main window and the process: window commands follow the focus, hiding and showing again, the
zoom keys, and what survives a quit and a restart (the zoom, the service's session cookie)."""

import re
import unittest

from harness import E2ETestCase, poll, session_cookie


class FocusTest(E2ETestCase):
    """Window commands act on the window that has the keyboard focus, whatever the toolkit last saw."""

    def clickNotification(self):
        since = len(self.session.records("notifications"))
        self.standin.queue_js('new Notification("Вернуть окно")')
        self.session.click_notification(self.session.wait_notification("Вернуть окно", since)["id"])

    def stacking(self):
        """The top-level windows on the display, topmost first."""
        tree = self.session.run("xwininfo", "-root", "-children")
        return [int(w, 16) for w in re.findall(r"^\s+(0x[0-9a-f]+) ", tree, re.M)]

    def test_commands_act_on_the_focused_window(self):
        app, main = self.app, self.app.window()
        popup = app.open_popup("popup = window.open('/popup/self-closing.html')")
        app.key("ctrl+w")  # the focus in the main window
        app.wait_visible(False)
        self.assertTrue(app.visible(popup), "the popup closed with the main window")
        self.assertEqual(self.standin.evaluate("document.title"), "Нолар Тест", "the page stopped")

        # each row: how the main window is asked back while the popup has the focus
        for how, ask in [("Ctrl+1 in the popup", lambda: app.key("ctrl+1", wid=popup)),
                         ("a second launch", lambda: self.session.run(self.session.build.binary)),
                         ("a notification click", self.clickNotification)]:
            with self.subTest(how):
                app.focus(popup)
                ask()
                app.wait_visible(True)
                poll(lambda: self.stacking().index(int(main)) < self.stacking().index(int(popup)), 30,
                     "the main window in front of the popup")
                app.key("ctrl+w")
                app.wait_visible(False)

        app.key("ctrl+1", wid=popup)
        app.wait_visible(True)
        self.assertEqual(sorted(app.windows()), sorted([main, popup]), "another main window was made")
        app.key("ctrl+w", wid=popup)
        app.wait_gone(popup, "the popup")
        self.assertTrue(app.visible(main), "the main window went with the popup")


class RestartTest(E2ETestCase):
    def storedZoom(self):
        settings = self.session.config_home / "Nolar" / "settings.ini"
        match = settings.exists() and re.search(r"^NolarZoom=(.*)$", settings.read_text(), re.M)
        return match and round(float(match.group(1)), 6)

    def pageZoom(self, app):
        """The web view's zoom as the page sees it: device pixels of the view per CSS pixel."""
        return round(app.geometry()["width"] / self.standin.evaluate("window.innerWidth"), 2)

    def test_zoom_and_session_cookie_survive_quit_and_restart(self):
        session, app = self.session, self.app
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

        again = session.launch()
        self.assertEqual((self.storedZoom(), self.pageZoom(again)), (1.2, 1.2))
        self.assertEqual(session_cookie(again.loaded["cookie"]), cookie, "another session after the restart")


if __name__ == "__main__":
    unittest.main()
