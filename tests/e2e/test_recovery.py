"""A page that stops answering, a page that eats memory and a server that never answers: each time
the window comes back by itself, and a page that is only busy for a while is left alone."""

import re
import time
import unittest
from pathlib import Path

from harness import SERVICE_HOST, E2ETestCase, poll

UNRESPONSIVE = "web content process unresponsive \u2014 reload"
# The memory limit of the page's process in these tests, and what the application itself may use.
PAGE_LIMIT_MB = 300
APP_RSS_LIMIT_MB = 400


def rssMB(pid):
    text = Path(f"/proc/{pid}/status").read_text()
    return int(re.search(r"VmRSS:\s+(\d+) kB", text).group(1)) / 1024


class RecoveryTest(E2ETestCase):
    launch_app = False

    def setUp(self):
        self.standin = self.session.standin
        if not (self.session.app and self.session.app.running()):
            self.session.launch(extra_env={"NOLAR_WEB_MEMORY_LIMIT_MB": str(PAGE_LIMIT_MB)})
        self.app = self.session.app

    def reloadedAfter(self, reportSeq):
        return self.standin.wait_report("loaded", since=reportSeq, timeout=90, host=SERVICE_HOST)

    def test_a_hung_page_is_reloaded_and_a_busy_one_left_alone(self):
        session, standin = self.session, self.standin
        lines, reportSeq = len(session.log_lines()), standin.seqs()[1]
        standin.queue_js("setTimeout(function () { var t = Date.now(); while (Date.now() - t < 3000) {}"
                         " report('busy-done'); }, 0)")
        standin.wait_report("busy-done", since=reportSeq)
        # Long enough for the watchdog to have given up on a page that had not answered for 10 s.
        time.sleep(12)
        self.assertNotIn(UNRESPONSIVE, [line.split(" ", 1)[1] for line in session.log_lines()[lines:]])
        self.assertEqual(standin.reports(kind="loaded", since=reportSeq), [], "the busy page was reloaded")

        reportSeq = standin.seqs()[1]
        standin.queue_js("setTimeout(function () { while (true) {} }, 0)")
        session.wait_for_log(re.escape(UNRESPONSIVE) + "$", since=lines, timeout=60)
        self.reloadedAfter(reportSeq)
        self.assertEqual(len([line for line in session.log_lines()[lines:] if line.endswith(UNRESPONSIVE)]), 1)

    def test_a_page_that_eats_memory_is_ended_and_reloaded(self):
        session, standin = self.session, self.standin
        lines, reportSeq = len(session.log_lines()), standin.seqs()[1]
        before = rssMB(self.app.pid)
        standin.queue_js("window.hog = []; setInterval(function () {"
                         " for (var i = 0; i < 4; i++) hog.push(new Array(1 << 20).fill(i + 0.5)); }, 100)")
        session.wait_for_log(r"web content process terminated \u2014 reload$", since=lines, timeout=120)
        self.reloadedAfter(reportSeq)
        self.assertLess(rssMB(self.app.pid), max(APP_RSS_LIMIT_MB, 2 * before), "the application's own memory grew")


class SilentServerTest(E2ETestCase):
    launch_app = False

    def test_a_server_that_never_answers_shows_the_offline_page_after_the_time_out(self):
        session, standin = self.session, self.session.standin
        standin.set(silent=True)
        app = session.launch(wait_loaded=False)
        # the request reached the server, which keeps it
        poll(lambda: standin.requests(host=SERVICE_HOST, path="/messenger/"), 60, "the start page's request")
        session.wait_for_log(r"offline: request timed out$", timeout=90)
        self.assertTrue(app.running())
        reportSeq = standin.seqs()[1]
        standin.set(silent=False)
        self.assertEqual(standin.wait_report("loaded", since=reportSeq, host=SERVICE_HOST)["page"], "/messenger/")


if __name__ == "__main__":
    unittest.main()
