"""The page bridge against real D-Bus peers: page notifications and their clicks, the permission,
the launcher badge, and a foreign iframe that tries to use the bridge."""

import unittest

from harness import APP_ID, FOREIGN_HOST, SERVICE_HOST, E2ETestCase

MANIFEST = "/app/mac/version.json"
UPDATE_CHECK = r"update check: remote=\d+ min=\d+ mine=27 manual=(true|false)"


def badge(count, visible):
    return lambda u: u["props"].get("count-visible") is visible and (not visible or u["props"].get("count") == count)


class BridgeTest(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin

    def test_page_notification_is_shown_and_its_click_runs_onclick(self):
        since = len(self.session.notifications())
        reportSeq = self.standin.seqs()[1]
        self.standin.queue_js("""(function () {
            var n = new Notification("Привет", {body: "текст"});
            n.onclick = function () { report("clicked", {title: n.title, body: n.body}); };
            window.kept = n;
        })()""")

        shown = self.session.wait_notification(lambda n: n["summary"] == "Привет", since=since)
        self.assertEqual((shown["app_name"], shown["body"], shown["replaces_id"]), ("Нолар", "текст", 0))
        self.assertEqual(shown["actions"][0::2][:1], ["default"], "the click must be the default action")
        self.assertEqual(shown["hints"].get("desktop-entry"), APP_ID)

        self.session.click_notification(shown["id"])
        click = self.standin.wait_report("clicked", since=reportSeq)
        self.assertEqual(click["value"], {"title": "Привет", "body": "текст"})

    def test_permission_is_granted_while_a_server_answers(self):
        self.assertEqual(self.app.loaded["permission"], "granted")
        lines = len(self.session.log_lines())
        self.assertEqual(self.standin.evaluate("Notification.requestPermission()"), "granted")
        self.assertEqual(self.standin.evaluate("Notification.permission"), "granted")
        self.session.wait_for_log(r"notify permission granted=true error=nil", since=lines)

    def test_badge_updates_the_launcher_entry(self):
        # (script, count the launcher is told, shown); the app's "999+" reaches the launcher as 1000
        rows = [("navigator.setAppBadge(5)", 5, True),
                ("navigator.setAppBadge(1000)", 1000, True),
                ("navigator.clearAppBadge()", 0, False)]
        for script, count, visible in rows:
            with self.subTest(script):
                since = len(self.session.launcher_updates())
                self.standin.queue_js(script)
                update = self.session.wait_launcher(lambda u: True, since=since, what=f"the badge after {script}")
                self.assertEqual(update["uri"], f"application://{APP_ID}.desktop")
                self.assertIs(update["props"]["count-visible"], visible)
                if visible:
                    self.assertEqual(update["props"]["count"], count)

    def test_foreign_frame_cannot_notify_badge_or_check_for_updates(self):
        session, standin = self.session, self.standin
        # First the frame must have run and found a handler to post to, or the rest proves nothing.
        standin.wait_report("frame-ran", since=self.app.report_seq, host=FOREIGN_HOST)
        posted = standin.wait_report("frame-posted", since=self.app.report_seq, host=FOREIGN_HOST)
        self.assertIs(posted["value"], True, "the frame found no kelMac handler, so it never posted")

        # The main page posts after the frame; once its messages took effect, the frame's were handled.
        standin.queue_js('new Notification("Барьер", {body: "после фрейма"}); navigator.setAppBadge(6);')
        session.wait_notification(lambda n: n["summary"] == "Барьер", what="the main page's notification")
        session.wait_launcher(badge(6, True), what="the main page's badge 6")
        self.assertEqual([n for n in session.notifications() if n["summary"] == "EVIL"], [])
        self.assertEqual([u for u in session.launcher_updates() if u["props"].get("count") == 77], [])

        # The frame posted its checkUpdate (manual) at load, before the first automatic check was due.
        _, match = session.wait_for_log(UPDATE_CHECK, since=self.app.log_start)
        self.assertEqual(match.group(1), "false", "the first update check was the frame's manual one")
        self.assertEqual(standin.hits(SERVICE_HOST, MANIFEST), 1)
        # A check requested by the main page is logged; the frame's must not have been.
        lines = len(session.log_lines())
        standin.queue_js("KelMac.checkUpdate(false)")
        session.wait_for_log(r"checkUpdate from page \(push\) manual=false", since=lines)
        self.assertEqual([line for line in session.log_lines() if "manual=true" in line], [])


if __name__ == "__main__":
    unittest.main()
