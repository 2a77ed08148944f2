"""The page bridge against real D-Bus peers: page notifications and their clicks, and the launcher
badge. (The permission's way is the unit, JavaScript and D-Bus adapter tests'.)"""

import unittest

from harness import APP_ID, E2ETestCase


class BridgeTest(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin

    def test_page_notification_is_shown_and_its_click_runs_onclick(self):
        since = len(self.session.records("notifications"))
        reportSeq = self.standin.seqs()[1]
        self.standin.queue_js("""(function () {
            var n = new Notification("Привет", {body: "текст"});
            n.onclick = function () { report("clicked", {title: n.title, body: n.body}); };
            window.kept = n;
        })()""")

        shown = self.session.wait_notification("Привет", since)
        self.assertEqual(shown["body"], "текст")  # the rest of the call: DbusNotificationCenterTest

        self.session.click_notification(shown["id"])
        click = self.standin.wait_report("clicked", since=reportSeq)
        self.assertEqual(click["value"], {"title": "Привет", "body": "текст"})

    def test_badge_updates_the_launcher_entry(self):
        # (script, count the launcher is told, shown); the app's "999+" reaches the launcher as 1000
        rows = [("navigator.setAppBadge(5)", 5, True),
                ("navigator.setAppBadge(1000)", 1000, True),
                ("navigator.clearAppBadge()", 0, False)]
        for script, count, visible in rows:
            with self.subTest(script):
                since = len(self.session.records("launcher"))
                self.standin.queue_js(script)
                update = self.session.wait_record("launcher", since, what=f"the badge after {script}")
                self.assertEqual(update["uri"], f"application://{APP_ID}.desktop")
                self.assertIs(update["props"]["count-visible"], visible)
                if visible:
                    self.assertEqual(update["props"]["count"], count)


if __name__ == "__main__":
    unittest.main()
