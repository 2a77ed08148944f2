"""The offline page: shown instead of the engine's error page when the service cannot be reached,
kept up while the reconnect probe gets anything but 200, and left by its "Повторить" button. (The
probe's rules are unit-tested; SilentServerTest sees a probe bring the page back.)"""

import re
import subprocess
import unittest

from harness import SERVICE_HOST, E2ETestCase, poll

# The offline page's button colour: the screenshot finds the button by it.
BUTTON_COLOUR = "#2298DD"


def heads(standin, since):
    return standin.requests(host=SERVICE_HOST, path="/messenger/", method="HEAD", since=since)


class OfflineTest(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin
        self.artifacts = self.session.build.dir / "e2e-artifacts"
        self.artifacts.mkdir(exist_ok=True)

    def startURL(self):
        return f"https://{SERVICE_HOST}:{self.session.build.port}/messenger/"

    def offlineButton(self, app, name):
        """The centre of the offline page's button, found in a screenshot of the window."""
        path = self.artifacts / name

        def found():
            app.screenshot(path)
            box = subprocess.run(["convert", str(path), "-fuzz", "8%", "-fill", "black", "+opaque", BUTTON_COLOUR,
                                  "-format", "%@", "info:"], capture_output=True, text=True, env=self.session.env)
            match = re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", box.stdout.strip())
            # a button-sized blue box (the window before it paints is all one colour)
            if match and 40 < int(match.group(1)) < 300 and 20 < int(match.group(2)) < 80:
                w, h, x, y = map(int, match.groups())
                return x + w // 2, y + h // 2
            return None
        return poll(found, 30, f"the offline page's button in a screenshot ({path})")

    def test_retry_button_loads_the_start_page(self):
        session, standin, app = self.session, self.standin, self.app
        # Probes keep the page offline; only the button can bring it back.
        standin.set(head_status=204, fail_next=1, fail_path="/messenger/")
        lines = len(session.log_lines())
        standin.queue_js("location.reload()")
        session.wait_for_log(r"offline: ", since=lines)
        x, y = self.offlineButton(app, "offline-retry.png")
        requestSeq, reportSeq = standin.seqs()
        lines = len(session.log_lines())

        app.click(x, y)

        _, match = session.wait_for_log(r"loaded: (.*)$", since=lines)
        self.assertEqual(match.group(1), self.startURL())
        standin.wait_report("loaded", since=reportSeq, host=SERVICE_HOST)
        page = standin.requests(host=SERVICE_HOST, path="/messenger/", method="GET", since=requestSeq)[0]
        self.assertEqual(page["status"], 200)
        self.assertNotIn(200, [r["status"] for r in heads(standin, requestSeq)], "a probe reloaded, not the button")


if __name__ == "__main__":
    unittest.main()
