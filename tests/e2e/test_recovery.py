"""A page that stops answering or eats memory, a server that never answers: the window comes back by
itself, and a page only busy for a while is left alone. The offline page stays while the probe gets
anything but 200 (the probe's rules are unit-tested) and is left by its button."""

import re
import time
import unittest
from pathlib import Path

from harness import SERVICE_HOST, E2ETestCase, poll

BUTTON_COLOUR = "#2298DD"  # the offline page's button: the screenshot finds the button by it
UNRESPONSIVE = "web content process unresponsive \u2014 reload$"
# The memory limit of the page's process in these tests, and what the application itself may use.
PAGE_LIMIT_MB, APP_RSS_LIMIT_MB = 300, 400


def rssMB(pid):
    return int(re.search(r"VmRSS:\s+(\d+) kB", Path(f"/proc/{pid}/status").read_text()).group(1)) / 1024


class RecoveryTest(E2ETestCase):
    launch_options = {"extra_env": {"NOLAR_WEB_MEMORY_LIMIT_MB": str(PAGE_LIMIT_MB)}}

    def test_a_hung_page_is_reloaded_and_a_busy_one_left_alone(self):
        session, standin, m = self.session, self.standin, self.session.marks()
        standin.queue_js("setTimeout(() => { var t = Date.now(); while (Date.now() - t < 3000) {}"
                         " report('busy-done'); }, 0)")
        standin.wait_report("busy-done", m.rep)
        # Long enough for the watchdog to have given up on a page that had not answered for 10 s.
        time.sleep(12)
        self.assertEqual(session.log_matching(UNRESPONSIVE, m.log), [])
        self.assertEqual(standin.call("reports", kind="loaded", since=m.rep), [], "the busy page reloaded")

        since = standin.seqs()[1]
        standin.queue_js("setTimeout(() => { while (true) {} }, 0)")
        session.wait_for_log(UNRESPONSIVE, m.log)
        standin.wait_report("loaded", since, timeout=90, host=SERVICE_HOST)
        self.assertEqual(len(session.log_matching(UNRESPONSIVE, m.log)), 1)

    def test_a_page_that_eats_memory_is_ended_and_reloaded(self):
        session, standin, m = self.session, self.standin, self.session.marks()
        before = rssMB(self.app.pid)
        standin.queue_js("window.hog = []; setInterval(() => {"
                         " for (var i = 0; i < 4; i++) hog.push(new Array(1 << 20).fill(i + 0.5)); }, 100)")
        session.wait_for_log(r"web content process terminated \u2014 reload$", m.log, timeout=120)
        standin.wait_report("loaded", m.rep, timeout=90, host=SERVICE_HOST)
        self.assertLess(rssMB(self.app.pid), max(APP_RSS_LIMIT_MB, 2 * before), "the app's own memory grew")

    def offlineButton(self):
        """The centre of the offline page's button, found in a screenshot of the window."""
        path = self.session.root / "offline.png"  # kept with the session's folder when the test fails

        def found():
            self.session.run("import", "-window", self.app.window(), path)
            box = self.session.run("convert", path, "-fuzz", "8%", "-fill", "black", "+opaque", BUTTON_COLOUR,
                                   "-format", "%@", "info:")
            w, h, x, y = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", box.strip()).groups())
            # a button-sized blue box (the window before it paints is all one colour)
            return 40 < w < 300 and 20 < h < 80 and (x + w // 2, y + h // 2)
        return poll(found, 30, f"the offline page's button in a screenshot ({path})")

    def test_retry_button_loads_the_start_page(self):
        session, standin = self.session, self.standin
        self.addCleanup(standin.call, "set", {"head_status": 200})
        standin.call("set", {"head_status": 204, "fail_next": 1, "fail_path": "/messenger/"})
        m = session.marks()
        standin.queue_js("location.reload()")
        session.wait_for_log(r"offline: ", m.log)
        # Only the button brings the page back: a probe gets 204 (by then a second failed load is drawn).
        standin.wait_request("/messenger/", m.req, method="HEAD")
        x, y = self.offlineButton()
        m = session.marks()
        self.app.click(x, y)
        self.assertEqual(session.wait_for_log(r"loaded: (.*)$", m.log).group(1),
                         f"https://{SERVICE_HOST}:{session.build.port}/messenger/")
        standin.wait_report("loaded", m.rep, host=SERVICE_HOST)


class SilentServerTest(E2ETestCase):
    @classmethod
    def startApp(cls):
        cls.session.standin.call("set", {"silent": True})
        return cls.session.launch(wait_loaded=False)

    def test_a_server_that_never_answers_shows_the_offline_page_after_the_time_out(self):
        standin = self.standin
        # the request reached the server, which keeps it
        poll(lambda: standin.call("requests", host=SERVICE_HOST, path="/messenger/"), 60, "the request")
        self.session.wait_for_log(r"offline: request timed out$", timeout=90)
        self.assertTrue(self.app.running())
        since = standin.seqs()[1]
        standin.call("set", {"silent": False})
        self.assertEqual(standin.wait_report("loaded", since, host=SERVICE_HOST)["page"], "/messenger/")


if __name__ == "__main__":
    unittest.main()
