"""The main window and the process: hiding and showing again, the zoom keys, and what survives a
quit and a restart (the zoom, the service's session cookie)."""

import re
import unittest

from harness import SERVICE_HOST, E2ETestCase, poll

ZOOM_TOLERANCE = 0.02


def sessionCookie(header):
    match = re.search(r"(?:^|;\s*)(nolar_session=[^;]+)", header or "")
    return match.group(1) if match else None


class HideAndShowTest(E2ETestCase):
    def test_ctrl_w_hides_the_window_and_a_second_launch_shows_it(self):
        window = self.app.window()
        self.app.key("ctrl+w")
        self.app.wait_visible(False)
        self.assertTrue(self.app.running())
        # the page keeps running behind the hidden window
        self.assertEqual(self.session.standin.evaluate("document.title"), "Нолар Тест")

        self.assertEqual(self.session.second_launch(), 0)
        self.app.wait_visible(True)
        self.assertEqual(self.app.window(), window, "the same window comes back")
        self.assertEqual(self.app.windows(), [window], "no second window was made")
        self.assertTrue(self.app.running())


class RestartTest(E2ETestCase):
    def zoomSetting(self):
        value = self.session.settings().get("Nolar", {}).get("NolarZoom")
        return float(value) if value is not None else None

    def pageZoom(self, app):
        """The web view's zoom as the page sees it: device pixels of the view per CSS pixel."""
        return app.geometry()["width"] / self.session.standin.evaluate("window.innerWidth")

    def test_zoom_and_session_cookie_survive_quit_and_restart(self):
        session, app = self.session, self.app
        cookie = sessionCookie(app.loaded["cookie"])
        self.assertIsNotNone(cookie, f"the service set no session cookie: {app.loaded['cookie']!r}")
        self.assertAlmostEqual(self.pageZoom(app), 1.0, delta=ZOOM_TOLERANCE)

        # each row: the key, then the zoom stored in the settings
        for key, zoom in [("ctrl+equal", 1.1), ("ctrl+equal", 1.2), ("ctrl+minus", 1.1), ("ctrl+0", 1.0),
                          ("ctrl+equal", 1.1), ("ctrl+equal", 1.2)]:
            with self.subTest(key=key, zoom=zoom):
                app.key(key)
                poll(lambda: self.zoomSetting() is not None and abs(self.zoomSetting() - zoom) < 1e-6, 30,
                     f"NolarZoom={zoom} in {session.settings_path} after {key} (now {self.zoomSetting()})")
        self.assertAlmostEqual(self.pageZoom(app), 1.2, delta=ZOOM_TOLERANCE)

        self.assertEqual(app.quit(), 0, "Ctrl+Q ends the process normally")

        again = session.launch()
        self.assertAlmostEqual(self.zoomSetting(), 1.2, delta=1e-6)
        self.assertAlmostEqual(self.pageZoom(again), 1.2, delta=ZOOM_TOLERANCE)
        pages = session.standin.requests(host=SERVICE_HOST, path="/messenger/", method="GET",
                                         since=again.request_seq)
        self.assertTrue(pages, "the restarted app did not request the page")
        self.assertEqual(sessionCookie(pages[0]["cookie"]), cookie, "the restarted app sent another session")
        self.assertEqual(sessionCookie(again.loaded["cookie"]), cookie)
        self.assertRegex(again.log_lines()[0], r"Z start 1\.4 \(27\) at ")


if __name__ == "__main__":
    unittest.main()
