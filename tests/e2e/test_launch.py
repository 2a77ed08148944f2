"""Start-up: the window as drawn, and the update check that waking the machine starts. (The loaded
page, its bridge and the window's title are what every other end-to-end test starts from.)"""

import struct
import unittest

from harness import SERVICE_HOST, E2ETestCase, poll

MANIFEST = "/app/mac/version.json"
UPDATE_CHECK = r"update check: remote=\d+ min=\d+ mine=27 manual=(true|false)"


def pngSize(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG"
    return struct.unpack(">II", header[16:24])


class LaunchTest(E2ETestCase):
    def test_screenshot_of_the_loaded_window(self):
        folder = self.session.build.dir / "e2e-artifacts"
        folder.mkdir(exist_ok=True)
        path = folder / "launch-window.png"
        geometry = self.app.geometry()

        def drawn():
            # the page may still be painting right after it reported in
            self.app.screenshot(path)
            colours = int(self.session.x("identify", "-format", "%k", str(path)))
            return colours > 200
        poll(drawn, 30, "a screenshot of the window showing the page")
        self.assertEqual(pngSize(path), (geometry["width"], geometry["height"]))

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
