"""A stranger's frame in the page tries, without any user input, to get something out of the
window: other programs, local files, new windows, the browser, a page made up by its address, a
reload of the main page, an oversized message, a notification dressed as one of the application's
own. It runs (it reports every attempt), and none of it has an effect. The page itself runs in the
engine's sandbox."""

import os
import unittest

from harness import FOREIGN_HOST, E2ETestCase, descendants

ATTEMPTS = 11  # what hostile.html tries, in order


class HostileFrameTest(E2ETestCase):
    def test_a_strangers_frame_gets_nothing_out_of_the_window(self):
        session, standin, app = self.session, self.standin, self.app
        m, windows = session.marks(), app.shown()
        standin.queue_js(f"var f = document.createElement('iframe'); f.src = 'https://{FOREIGN_HOST}:"
                         f"{session.build.port}/foreign/hostile.html'; document.body.appendChild(f)")
        # The frame ran every attempt, and what it posted reached the application.
        standin.wait_report("hostile-done", m.rep, host=FOREIGN_HOST)
        self.assertEqual(len(standin.reports(kind="hostile-attempt", since=m.rep)), ATTEMPTS)
        for line in (r"message dropped: 10\d{4} bytes$", r"blocked: nolartest://evil$",
                     r"blocked: https://127\.0\.0\.2$"):
            session.wait_for_log(line, m.log)

        # Then: nothing was handed out, fetched, opened, reloaded or shown.
        self.assertEqual(session.opened_urls(m.urls), [])
        self.assertEqual([r["path"] for r in standin.requests(host=FOREIGN_HOST, since=m.req)
                          if r["path"].startswith("/foreign/page.html")], [], "a page was fetched")
        self.assertEqual(standin.reports(kind="loaded", since=m.rep), [], "the main page reloaded")
        self.assertEqual(standin.evaluate("location.href"), app.loaded["href"])
        self.assertEqual(app.shown(), windows, "a window appeared")
        self.assertEqual(session.records("notifications", m.notes), [])
        self.assertEqual(session.log_matching("secret|/etc/passwd", m.log), [],
                         "a blocked address's path or query reached the log")

    def test_web_pages_run_in_the_engines_sandbox(self):
        """The page's process sees another file system than the application: its own mount namespace,
        made by bubblewrap."""
        web = [pid for pid, (*_, name) in descendants(self.app.pid).items() if name.startswith("WebKitWeb")]
        self.assertTrue(web, "no web process of the application")
        self.assertNotIn("sandbox off", "\n".join(self.session.log_lines()))
        def mounts(pid):
            return os.readlink(f"/proc/{pid}/ns/mnt")
        self.assertNotIn(mounts(self.app.pid), map(mounts, web))


if __name__ == "__main__":
    unittest.main()
