"""The page against the desktop: notifications, the launcher badge, native dialogs of the asking
window, a stranger's frame that gets nothing out of the window, the engine's sandbox, and the update
check that waking the machine starts."""

import os
import unittest

from harness import APP_ID, FOREIGN_HOST, SERVICE_HOST, E2ETestCase, descendants, poll

UPDATE_CHECK = r"update check: remote=\d+ min=\d+ mine=27 manual=(true|false)"


class PageTest(E2ETestCase):
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

    def answer(self, channel, script, keys, owner):
        """Runs `script` in the page polling `channel`, waits for its one dialog, transient for the
        window `owner`, types `keys` into it and returns what the page got."""
        app, since = self.app, self.standin.seqs()[1]
        self.standin.queue_js(f"report('answer', {script})", channel)
        dialog = poll(lambda: app.windows("DIALOG"), 30, f"a dialog for {script}")
        self.assertEqual(len(dialog), 1, dialog)
        self.assertEqual(app.transient_for(dialog[0]), int(owner), "the dialog's parent window")
        self.assertEqual(self.standin.call("reports", kind="answer", since=since), [], "the page went on")
        app.key(keys, wid=dialog[0])
        value = self.standin.wait_report("answer", since)["value"]
        poll(lambda: not app.windows("DIALOG"), 30, "the dialog to go away")
        return value

    def test_dialogs_belong_to_the_asking_window_and_their_answers_reach_its_page(self):
        since = self.standin.seqs()[1]
        owners = {"messenger": self.app.window(),
                  "popup": self.app.open_popup("popup = window.open('/popup/self-closing.html')")}
        self.standin.wait_report("popup-loaded", since)
        # each row: the page that asks, the script, the keys, what the page gets ("Отмена" answers Escape)
        rows = [("messenger", "confirm('Удалить?')", "Return", True),
                ("messenger", "confirm('Удалить?')", "Escape", False),
                ("messenger", "prompt('Как вас зовут?', 'Анна')", "Return", "Анна"),
                ("messenger", "prompt('Как вас зовут?', 'Анна')", "Escape", None),
                ("messenger", "prompt('Как вас зовут?')", "Return", ""),
                ("messenger", "[alert('Готово'), 'дальше'][1]", "Return", "дальше"),
                ("popup", "[alert('Из окна'), 'дальше'][1]", "Return", "дальше"),
                ("popup", "confirm('Закрыть?')", "Return", True)]
        for channel, script, keys, expected in rows:
            with self.subTest(channel=channel, script=script, keys=keys):
                self.assertEqual(self.answer(channel, script, keys, owners[channel]), expected)
        self.standin.queue_js("window.close()", "popup")

    def test_a_strangers_frame_gets_nothing_out_of_the_window(self):
        """Without any user input it tries other programs, local files, new windows, the browser, a
        page made up by its address, a reload of the main page, an oversized message and a
        notification dressed as one of the application's own."""
        session, standin, app = self.session, self.standin, self.app
        m, windows = session.marks(), app.shown()
        standin.queue_js(f"var f = document.createElement('iframe'); f.src = 'https://{FOREIGN_HOST}:"
                         f"{session.build.port}/foreign/hostile.html'; document.body.appendChild(f)")
        # The frame ran every attempt, and what it posted reached the application.
        standin.wait_report("hostile-done", m.rep, host=FOREIGN_HOST)
        tried = standin.call("reports", kind="hostile-attempt", since=m.rep)
        self.assertEqual(len(tried), 11, "not every attempt of hostile.html ran")
        for line in (r"message dropped: 10\d{4} bytes$", r"blocked: nolartest://evil$",
                     r"blocked: https://127\.0\.0\.2$"):
            session.wait_for_log(line, m.log)

        self.assertEqual(session.opened_urls(m.urls), [])
        self.assertEqual([r["path"] for r in standin.call("requests", host=FOREIGN_HOST, since=m.req)
                          if r["path"].startswith("/foreign/page.html")], [], "a page was fetched")
        self.assertEqual(standin.call("reports", kind="loaded", since=m.rep), [], "the main page reloaded")
        self.assertEqual(standin.evaluate("location.href"), app.loaded["href"])
        self.assertEqual(app.shown(), windows, "a window appeared")
        self.assertEqual(session.records("notifications", m.notes), [])
        self.assertEqual(session.log_matching("secret|/etc/passwd", m.log), [],
                         "a blocked address's path or query reached the log")

    def test_web_pages_run_in_the_engines_sandbox(self):
        """The page's process sees another file system than the application: its own mount namespace,
        made by bubblewrap."""
        web = [pid for pid, (*_, name) in descendants(self.app.pid).items() if name.startswith("WebKitWeb")]
        self.assertTrue(web, "no web process of the application")
        self.assertEqual(self.session.log_matching("sandbox off"), [])
        mounts = {pid: os.readlink(f"/proc/{pid}/ns/mnt") for pid in [self.app.pid, *web]}
        self.assertNotIn(mounts.pop(self.app.pid), mounts.values())

    def test_waking_up_checks_for_updates(self):
        session = self.session
        session.wait_record("sleep-matches", what="a subscription to PrepareForSleep")
        # The first automatic check runs shortly after start; a wake during it would be folded into it.
        self.assertEqual(session.wait_for_log(UPDATE_CHECK, self.app.marks.log).group(1), "false")
        m = session.marks()
        session.bus_peer("org.freedesktop.login1", system=True).call(
            "org.nolar.Test.Login1", "EmitPrepareForSleep", "(b)", (False,))
        self.standin.wait_request("/app/mac/version.json", m.req, host=SERVICE_HOST)
        self.assertEqual(session.wait_for_log(UPDATE_CHECK, m.log).group(1), "false", "not a manual check")

    def test_no_tray_watcher_means_one_log_line_and_nothing_else(self):
        self.session.wait_for_log(r"tray: no status notifier watcher", self.app.marks.log)
        self.assertEqual(len(self.session.log_matching("tray:", self.app.marks.log)), 1)
        self.assertTrue(self.app.visible())


if __name__ == "__main__":
    unittest.main()
