"""Waking the machine starts an update check. (The loaded page, its bridge, the window's title and
the page as drawn are what the other end-to-end tests start from.)"""

import unittest

from harness import SERVICE_HOST, E2ETestCase

MANIFEST = "/app/mac/version.json"
UPDATE_CHECK = r"update check: remote=\d+ min=\d+ mine=27 manual=(true|false)"


class LaunchTest(E2ETestCase):
    def test_waking_up_checks_for_updates(self):
        session, standin = self.session, self.session.standin
        session.wait_record("sleep-matches", what="a subscription to PrepareForSleep")
        # The first automatic check runs shortly after start; a wake during it would be folded into it.
        _, match = session.wait_for_log(UPDATE_CHECK, since=self.app.log_start)
        self.assertEqual(match.group(1), "false")
        requestSeq = standin.seqs()[0]
        lines = len(session.log_lines())

        session.prepare_for_sleep(False)

        request = standin.wait_request(MANIFEST, since=requestSeq, host=SERVICE_HOST)
        self.assertEqual(request["method"], "GET")
        _, match = session.wait_for_log(UPDATE_CHECK, since=lines)
        self.assertEqual(match.group(1), "false", "a wake-up check is an automatic one")


if __name__ == "__main__":
    unittest.main()
