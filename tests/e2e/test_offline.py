"""The offline page: shown instead of the engine's error page when the service cannot be reached,
kept up while the reconnect probe gets anything but 200, left by itself on the first 200 and by its
"Повторить" button."""

import re
import subprocess
import unittest

from harness import SERVICE_HOST, E2ETestCase, poll

# The offline page's button colour: the screenshot finds the button by it.
BUTTON_COLOUR = "#2298DD"


def heads(standin, since):
    return standin.requests(host=SERVICE_HOST, path="/messenger/", method="HEAD", since=since)


class OfflineTest(E2ETestCase):
    launch_app = False

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

    def onlineApp(self):
        """The application with its page loaded, whatever an earlier test left."""
        if not self.session.app:
            self.session.launch()
        self.standin.set(down=False, head_status=200)
        self.assertEqual(self.standin.evaluate("location.href"), self.startURL())
        return self.session.app

    def test_start_without_the_service_probes_until_it_answers_200(self):
        session, standin = self.session, self.standin
        if session.app:  # another test's run: this one must start afresh
            session.app.stop()
        standin.set(down=True)
        requestSeq, lines = standin.seqs()[0], len(session.log_lines())
        app = session.launch(wait_loaded=False)

        session.wait_for_log(r"offline: ", since=lines)
        lines = app.log_lines()
        self.assertTrue(any(line.split(" ", 1)[1].startswith("load error: ") for line in lines), lines)
        self.assertFalse(any("loaded: " in line for line in lines), lines)
        self.offlineButton(app, "offline-page.png")

        # The probes ask for the start page while the service is down...
        probe = standin.wait_request("/messenger/", since=requestSeq, method="HEAD", host=SERVICE_HOST)
        self.assertTrue(probe["dropped"])
        # ...and a 204 is not 200: two answered probes in a row, and the page stays offline in between.
        standin.set(down=False, head_status=204)
        answered = poll(lambda: [r for r in heads(standin, probe["seq"]) if r["status"] == 204][:1], 30,
                        "a probe answered 204")[0]
        again = standin.wait_request("/messenger/", since=answered["seq"], method="HEAD", host=SERVICE_HOST)
        self.assertEqual(again["status"], 204)
        pages = standin.requests(host=SERVICE_HOST, path="/messenger/", method="GET", since=requestSeq)
        self.assertEqual([p["dropped"] for p in pages], [True], "only the first, failed load of the page")
        self.assertFalse(any("loaded: " in line for line in app.log_lines()))

        lines = len(session.log_lines())
        standin.set(head_status=200)
        _, match = session.wait_for_log(r"loaded: (.*)$", since=lines)
        self.assertEqual(match.group(1), self.startURL())
        self.assertEqual(app.wait_loaded()["href"], self.startURL())
        reload = standin.requests(host=SERVICE_HOST, path="/messenger/", method="GET", since=again["seq"])[0]
        self.assertEqual(reload["status"], 200)
        statuses = [r["status"] for r in heads(standin, again["seq"]) if r["seq"] < reload["seq"]]
        self.assertEqual(statuses[-1:] + [statuses.count(200)], [200, 1], f"one probe got 200 first: {statuses}")


    def test_retry_button_loads_the_start_page(self):
        session, standin = self.session, self.standin
        app = self.onlineApp()
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
