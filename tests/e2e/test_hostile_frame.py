"""A stranger's frame in the page tries, without any user input, to get something out of the
window: other programs, local files, new windows, the browser, a page made up by its address, a
reload of the main page, an oversized message, a notification dressed as one of the application's
own. It runs (it reports every attempt), and none of it has an effect. (A click on a page's
notification goes back to the page whatever its id: unit-tested.)"""

import json
import os
import unittest
from pathlib import Path

from harness import FOREIGN_HOST, SERVICE_HOST, E2ETestCase
from harness_support import processes

ATTEMPTS = 11  # what hostile.html tries, in order


class HostileFrameTest(E2ETestCase):
    def test_a_strangers_frame_gets_nothing_out_of_the_window(self):
        session, standin, app = self.session, self.session.standin, self.app
        opened, lines = len(session.opened_urls()), len(session.log_lines())
        notes = len(session.records("notifications"))
        requestSeq, reportSeq = standin.seqs()
        loads = standin.hits(SERVICE_HOST, "/messenger/")
        windows = [w for w in app.windows() if app.visible(w)]

        standin.queue_js("var f = document.createElement('iframe'); f.src = "
                         f"{json.dumps(f'https://{FOREIGN_HOST}:{session.build.port}/foreign/hostile.html')};"
                         " document.body.appendChild(f)")
        # The frame ran every attempt, and what it posted reached the application.
        standin.wait_report("hostile-done", since=reportSeq, host=FOREIGN_HOST)
        tried = [r["value"] for r in standin.reports(kind="hostile-attempt", since=reportSeq)]
        self.assertEqual(len(tried), ATTEMPTS, tried)
        session.wait_for_log(r"message dropped: 10\d{4} bytes$", since=lines)
        session.wait_for_log(r"blocked: nolartest://evil$", since=lines)
        session.wait_for_log(r"blocked: https://127\.0\.0\.2$", since=lines)

        # Then: nothing was handed out, fetched, opened, reloaded or shown.
        self.assertEqual(session.opened_urls(opened), [])
        foreign = [r["path"] for r in standin.requests(host=FOREIGN_HOST, since=requestSeq)
                   if r["path"].startswith("/foreign/page.html")]
        self.assertEqual(foreign, [], "the application fetched what the frame asked for")
        self.assertEqual(standin.hits(SERVICE_HOST, "/messenger/"), loads, "the main page reloaded")
        self.assertEqual(standin.reports(kind="loaded", since=reportSeq), [])
        self.assertEqual(standin.evaluate("location.href"), app.loaded["href"])
        self.assertEqual([w for w in app.windows() if app.visible(w)], windows, "a window appeared")
        self.assertEqual(session.records("notifications", notes), [])
        logged = session.log_lines()[lines:]
        self.assertEqual([line for line in logged if "secret" in line or "/etc/passwd" in line], [],
                         "a blocked address's path or query reached the log")

    def test_web_pages_run_in_the_engines_sandbox(self):
        """The page's process sees another file system than the application: its own mount
        namespace, made by bubblewrap."""
        def mountNamespace(pid):
            return os.readlink(f"/proc/{pid}/ns/mnt")

        table = processes()

        def descendsFromApp(pid):
            while pid > 1:
                if pid == self.app.pid:
                    return True
                pid = table.get(pid, (0,))[0]
            return False

        def name(pid):
            try:
                return Path(f"/proc/{pid}/comm").read_text().strip()
            except OSError:
                return ""

        web = [pid for pid in table if name(pid).startswith("WebKitWebProc") and descendsFromApp(pid)]
        self.assertTrue(web, "no web process of the application")
        self.assertEqual([line for line in self.session.log_lines() if "sandbox off" in line], [])
        for pid in web:
            self.assertNotEqual(mountNamespace(pid), mountNamespace(self.app.pid))


if __name__ == "__main__":
    unittest.main()
