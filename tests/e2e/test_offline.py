"""The offline page: shown instead of the engine's error page when the service cannot be reached,
kept up while the reconnect probe gets anything but 200, and left by its "Повторить" button. (The
probe's rules are unit-tested; SilentServerTest sees a probe bring the page back.)"""

import re
import unittest

from harness import SERVICE_HOST, E2ETestCase, poll

BUTTON_COLOUR = "#2298DD"  # the offline page's button: the screenshot finds the button by it


class OfflineTest(E2ETestCase):
    def offlineButton(self):
        """The centre of the offline page's button, found in a screenshot of the window."""
        path = self.session.build.dir / "e2e-artifacts" / "offline-retry.png"
        path.parent.mkdir(exist_ok=True)

        def found():
            box = self.session.run("convert", self.app.screenshot(path), "-fuzz", "8%", "-fill", "black",
                                   "+opaque", BUTTON_COLOUR, "-format", "%@", "info:")
            w, h, x, y = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", box.strip()).groups())
            # a button-sized blue box (the window before it paints is all one colour)
            return 40 < w < 300 and 20 < h < 80 and (x + w // 2, y + h // 2)
        return poll(found, 30, f"the offline page's button in a screenshot ({path})")

    def test_retry_button_loads_the_start_page(self):
        session, standin = self.session, self.standin
        # Probes keep the page offline; only the button can bring it back.
        standin.call("set", {"head_status": 204, "fail_next": 1, "fail_path": "/messenger/"})
        m = session.marks()
        standin.queue_js("location.reload()")
        session.wait_for_log(r"offline: ", m.log)
        x, y = self.offlineButton()
        m = session.marks()
        self.app.click(x, y)
        self.assertEqual(session.wait_for_log(r"loaded: (.*)$", m.log).group(1),
                         f"https://{SERVICE_HOST}:{session.build.port}/messenger/")
        standin.wait_report("loaded", m.rep, host=SERVICE_HOST)
        requests = standin.requests(host=SERVICE_HOST, path="/messenger/", since=m.req)
        self.assertEqual([r["status"] for r in requests if r["method"] == "GET"][:1], [200])
        self.assertNotIn(200, [r["status"] for r in requests if r["method"] == "HEAD"], "a probe reloaded")


if __name__ == "__main__":
    unittest.main()
