"""The application against real D-Bus peers: page notifications and their clicks, the launcher badge,
the update check that waking the machine starts, and no tray on the desktop. (The permission's way
is the unit, JavaScript and D-Bus adapter tests'.)"""

import unittest

from harness import APP_ID, SERVICE_HOST, E2ETestCase

UPDATE_CHECK = r"update check: remote=\d+ min=\d+ mine=27 manual=(true|false)"


class BridgeTest(E2ETestCase):
    def test_page_notification_is_shown_and_its_click_runs_onclick(self):
        session, m = self.session, self.session.marks()
        self.standin.queue_js('var kept = new Notification("Привет", {body: "текст"});'
                              ' kept.onclick = () => report("clicked", {title: kept.title, body: kept.body})')
        shown = session.wait_notification("Привет", m.notes)
        self.assertEqual(shown["body"], "текст")  # the rest of the call: DbusNotificationCenterTest
        session.click_notification(shown["id"])
        click = self.standin.wait_report("clicked", m.rep)
        self.assertEqual(click["value"], {"title": "Привет", "body": "текст"})

    def test_badge_updates_the_launcher_entry(self):
        # the app's "999+" reaches the launcher as 1000
        for script, props in [("navigator.setAppBadge(5)", {"count": 5, "count-visible": True}),
                              ("navigator.setAppBadge(1000)", {"count": 1000, "count-visible": True}),
                              ("navigator.clearAppBadge()", {"count-visible": False})]:
            with self.subTest(script):
                since = len(self.session.records("launcher"))
                self.standin.queue_js(script)
                update = self.session.wait_record("launcher", since, what=f"the badge after {script}")
                self.assertEqual(update["uri"], f"application://{APP_ID}.desktop")
                self.assertLessEqual(props.items(), update["props"].items())

    def test_waking_up_checks_for_updates(self):
        session = self.session
        session.wait_record("sleep-matches", what="a subscription to PrepareForSleep")
        # The first automatic check runs shortly after start; a wake during it would be folded into it.
        self.assertEqual(session.wait_for_log(UPDATE_CHECK, self.app.marks.log).group(1), "false")
        m = session.marks()
        session.bus_peer("org.freedesktop.login1", system=True).call(
            "org.nolar.Test.Login1", "EmitPrepareForSleep", "(b)", (False,))
        request = self.standin.wait_request("/app/mac/version.json", m.req, host=SERVICE_HOST)
        self.assertEqual(request["method"], "GET")
        self.assertEqual(session.wait_for_log(UPDATE_CHECK, m.log).group(1), "false", "not a manual check")

    def test_no_tray_watcher_means_one_log_line_and_nothing_else(self):
        self.session.wait_for_log(r"tray: no status notifier watcher", self.app.marks.log)
        self.assertEqual(len(self.session.log_matching("tray:", self.app.marks.log)), 1)
        self.assertTrue(self.app.visible())


if __name__ == "__main__":
    unittest.main()
