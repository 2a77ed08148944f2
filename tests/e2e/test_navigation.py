"""Where a click in the main window leads: other sites and programs to the desktop's handlers, never
fetched by the application; the service's pages and the page's windows into popups beside the main
window; downloads into ~/Downloads under names that cannot run, announced by a notification. Window
commands follow the focus."""

import json
import re
import unittest
from pathlib import Path

from gi.repository import Gio
from harness import FOREIGN_HOST, SERVICE_HOST, USER_AGENT_SUFFIX, E2ETestCase, poll, session_cookie

FOREIGN_PAGE = "/foreign/page.html"
CLICK = "document.getElementById('%s').click()"
PDF, NAMED = b"%PDF-", b"attachment body\n"


def named(name):
    """A download link to an attachment that its sender named `name`."""
    return ("var a = document.createElement('a'); a.download = '';"
            f" a.href = '/files/named?name=' + encodeURIComponent({json.dumps(name)}); a.click()")


def localPath(uri):  # a path or a file: URI
    return Path(Gio.File.new_for_commandline_arg(uri).get_path())


class NavigationTest(E2ETestCase):
    def setUp(self):
        for path in self.session.downloads.glob("*"):  # each test names its files as if it were the first
            path.unlink()

    def realClick(self, elementId, channel="messenger", wid=None):
        """A pointer click on the element's centre, through the X server."""
        box = self.standin.evaluate(f"document.getElementById('{elementId}').getBoundingClientRect()"
                                    ".toJSON()", channel)
        # The web view fills the window's bottom (below the main window's menu bar).
        top = self.app.geometry(wid)["height"] - self.standin.evaluate("window.innerHeight", channel)
        self.app.click(int(box["x"] + box["width"] / 2), int(top + box["y"] + box["height"] / 2), wid=wid)

    def addLinks(self, html, channel="messenger"):
        """Puts links above everything else at the page's top left corner."""
        self.standin.evaluate(
            "(() => { let d = document.getElementById('test-links') || document.createElement('div');"
            " d.id = 'test-links'; d.style.cssText = 'position:fixed;top:0;left:0;z-index:9999';"
            f" d.innerHTML = {json.dumps(html)}; document.body.appendChild(d); return true; }})()", channel)

    def foreignURL(self, query=""):
        return f"https://{FOREIGN_HOST}:{self.session.build.port}{FOREIGN_PAGE}{query}"

    def foreignPagesFetched(self, m):
        return [r["path"] for r in self.standin.call("requests", host=FOREIGN_HOST, since=m.req)
                if r["path"].startswith(FOREIGN_PAGE)]

    def assertMainPageStayed(self, m):
        self.assertEqual(self.standin.evaluate("location.href"), self.app.loaded["href"])
        poll(lambda: self.app.title() == "Нолар Тест", 30, 'the main window titled "Нолар Тест"')
        self.assertEqual(self.session.log_matching("loaded: ", m.log), [], "the main view loaded a page")

    def test_foreign_links_go_to_the_browser_only_when_the_user_clicks(self):
        session, standin = self.session, self.standin
        # The foreign host answers the application: the page's iframe on it loaded and ran.
        self.assertEqual(standin.wait_request("/foreign/frame.html", host=FOREIGN_HOST)["status"], 200)
        standin.wait_report("frame-ran", host=FOREIGN_HOST)
        m = session.marks()
        standin.queue_js(CLICK % "foreign-link")
        session.wait_for_log(r"blocked: https://127\.0\.0\.2$", m.log)
        self.realClick("foreign-link")
        self.assertEqual(session.wait_opened_url(m.urls), self.foreignURL())
        self.assertEqual(session.opened_urls(m.urls), [self.foreignURL()], "the script's click left too")
        self.assertEqual(self.foreignPagesFetched(m), [], "the application fetched the link")
        # An own link that redirects to a foreign host: the tracker's popup shows nothing and is gone again.
        self.addLinks(f'<a id="t-go" href="/go?to={self.foreignURL("?via=redirect")}">трекер</a>')
        self.realClick("t-go")
        self.assertEqual(session.wait_opened_url(m.urls + 1), self.foreignURL("?via=redirect"))
        poll(lambda: self.app.shown() == [self.app.window()], 30, "only the main window on screen")
        self.assertMainPageStayed(m)

    def test_links_to_other_applications(self):
        session, m = self.session, self.session.marks()
        self.addLinks('<a id="t-mail" href="mailto:test@example.org">почта</a> '
                      '<a id="t-app" href="nolartest:hello">приложение</a> '
                      '<a id="t-file" href="file:///etc/passwd">файл</a>')
        # Another program's scheme: asked first, handed out only on "Открыть" (Return). A local file
        # never leaves (the engine refuses it from a web page before asking us).
        for link, keys, handedOut in [("t-app", "Escape", []), ("t-app", "Return", ["nolartest:hello"]),
                                      ("t-file", None, [])]:
            with self.subTest(link=link, keys=keys):
                opened = len(session.opened_urls())
                self.realClick(link)
                if keys:
                    dialog = poll(lambda: self.app.windows("DIALOG"), 30, "the question before it opens")
                    self.app.key(keys, wid=dialog[0])
                    poll(lambda: not self.app.windows("DIALOG"), 30, "the question to go away")
                # a later click is the barrier: the mail link's URL arrives after anything before it
                self.realClick("t-mail")
                session.wait_opened_url(opened + len(handedOut), lambda u: u == "mailto:test@example.org")
                self.assertEqual(session.opened_urls(opened)[:-1], handedOut)
        self.assertMainPageStayed(m)

    def test_service_pages_and_page_windows_open_beside_the_main_window(self):
        app, main = self.app, self.app.geometry()
        # each row: what the page does, the popup's title, the page it loads, its report, its command
        # channel and whether it has the bridge (only a window the page opens itself shares its set-up)
        rows = [(CLICK % "own-link", SERVICE_HOST, "/about/", "about-loaded", "about", "undefined"),
                (CLICK % "blank-link", SERVICE_HOST, "/about/", "about-loaded", "about", "undefined"),
                ("popup = window.open('/popup/self-closing.html')", "self-closing.html",
                 "/popup/self-closing.html", "popup-loaded", "popup", "object")]
        for trigger, title, path, loaded, channel, bridge in rows:
            with self.subTest(trigger):
                m = self.session.marks()
                popup = app.open_popup(trigger)
                report = self.standin.wait_report(loaded, m.rep)
                self.assertEqual((report["page"], report["value"]["kelMac"]), (path, bridge))
                poll(lambda: app.title(popup) == title, 30, f'the popup {popup} titled "{title}"')
                beside = dict(x=main["x"] + 40, y=main["y"] + 40, width=900, height=700)
                self.assertEqual(app.geometry(popup), beside)
                self.assertEqual(self.standin.evaluate("innerWidth", channel), beside["width"])
                if channel == "about":  # the engine's own identification, the main page's has the suffix
                    request = self.standin.wait_request("/about/", m.req, host=SERVICE_HOST)
                    self.assertNotIn("KelNolarMac", request["ua"])
                    self.assertEqual(request["ua"] + USER_AGENT_SUFFIX, app.loaded["userAgent"])
                    self.assertEqual(session_cookie(request["cookie"]), session_cookie(app.loaded["cookie"]))
                    self.assertIsNotNone(session_cookie(request["cookie"]), "the popup sent no session")
                self.assertMainPageStayed(m)
                self.assertEqual(app.geometry(), main)
                self.standin.queue_js("window.close()", channel)
                app.wait_gone(popup, f"the popup {title!r}")

    def test_a_popups_links_are_decided_before_any_request(self):
        m = self.session.marks()
        popup = self.app.open_popup(CLICK % "own-link")
        self.standin.wait_report("about-loaded", m.rep)
        self.addLinks(f'<a id="t-foreign" href="{self.foreignURL("?via=popup")}">чужая</a>', "about")
        self.realClick("t-foreign", "about", wid=popup)
        self.assertEqual(self.session.wait_opened_url(m.urls), self.foreignURL("?via=popup"))
        self.standin.queue_js("window.close()", "about")
        self.assertEqual(self.foreignPagesFetched(m), [], "the application fetched a link")

    def download(self, snippet, names):
        """Runs `snippet` and waits for the "saved" notification of a file named one of `names`;
        returns the saved file and the notification."""
        session, m = self.session, self.session.marks()
        self.standin.queue_js(snippet)
        note = session.wait_notification("Файл сохранён в «Загрузки»", m.notes)
        self.assertIn(note["body"], names)
        session.wait_for_log(r"download finished: " + re.escape(note["body"]) + "$", m.log)
        self.assertEqual(len(session.log_matching("download finished: ", m.log)), 1)
        self.assertTrue((session.downloads / note["body"]).is_file(), f"{note['body']} is not in Downloads")
        return session.downloads / note["body"], note

    def test_links_save_files_under_unique_names_that_cannot_run(self):
        session, standin, home = self.session, self.standin, self.session.home
        m, before = session.marks(), {p.name for p in home.iterdir()}
        # each row: what the page does, the names the file may get, how it starts
        rows = [(CLICK % "attachment", {"report.pdf"}, PDF), (CLICK % "attachment", {"report (2).pdf"}, PDF),
                (CLICK % "unshowable", {"data.bin"}, bytes(range(256)) * 16),
                # The engine honours a download attribute on its own origin only: the click relay asks
                # for this download itself, so the link does not reach the browser.
                (CLICK % "foreign-download", {"file.txt"}, "Файл с чужого сервера.\n".encode()),
                (named(".bash_login"), {"bash_login", "_bash_login"}, NAMED), (named("-rf"), {"_rf"}, NAMED),
                (named("name. "), {"name"}, NAMED)]
        for snippet, names, content in rows:
            with self.subTest(snippet):
                path, _ = self.download(snippet, names)
                self.assertTrue(path.read_bytes().startswith(content), path)
        self.assertEqual(session.opened_urls(m.urls), [], "a download link went to the browser")
        fetched = standin.call("hits", host=FOREIGN_HOST, path="/foreign/file.txt")["hits"]
        self.assertEqual(fetched, 1, "fetched once, as the download")
        self.assertMainPageStayed(m)
        # Each link opened a popup whose only navigation became the download: none of them stays.
        poll(lambda: self.app.shown() == [self.app.window()], 30, "only the main window on screen")
        self.assertLessEqual({p.name for p in home.iterdir()} - before, {"Downloads"}, "a file in HOME")

    def test_clicking_the_saved_notification_shows_the_file(self):
        session = self.session
        path, note = self.download(CLICK % "unshowable", {"data.bin"})
        # No file manager on the bus: the folder is opened instead.
        since = len(session.opened_urls())
        session.click_notification(note["id"])
        self.assertEqual(localPath(session.wait_opened_url(since)), session.downloads)
        # With one, it is asked to show the file itself.
        session.start_file_manager()
        session.click_notification(note["id"])
        call = session.wait_record("file-manager", what="a call to the file manager")
        self.assertEqual((call["method"], [localPath(u) for u in call["uris"]]), ("ShowItems", [path]))

    def clickNotification(self):
        since = len(self.session.records("notifications"))
        self.standin.queue_js('new Notification("Вернуть окно")')
        self.session.click_notification(self.session.wait_notification("Вернуть окно", since)["id"])

    def stacking(self):
        """The top-level windows on the display, topmost first."""
        tree = self.session.run("xwininfo", "-root", "-children")
        return [int(w, 16) for w in re.findall(r"^\s+(0x[0-9a-f]+) ", tree, re.M)]

    def test_window_commands_act_on_the_focused_window(self):
        """The focused window's, whatever the toolkit saw last."""
        app, main = self.app, self.app.window()
        popup = app.open_popup("popup = window.open('/popup/self-closing.html')")
        app.key("ctrl+w")  # the focus in the main window
        app.wait_visible(False)
        self.assertTrue(app.visible(popup), "the popup closed with the main window")
        self.assertEqual(self.standin.evaluate("document.title"), "Нолар Тест", "the page stopped")

        # each row: how the main window is asked back while the popup has the focus
        for how, ask in [("Ctrl+1 in the popup", lambda: app.key("ctrl+1", wid=popup)),
                         ("a second launch", lambda: self.session.run(self.session.build.binary)),
                         ("a notification click", self.clickNotification)]:
            with self.subTest(how):
                app.focus(popup)
                ask()
                app.wait_visible(True)
                poll(lambda: self.stacking().index(int(main)) < self.stacking().index(int(popup)), 30,
                     "the main window in front of the popup")
                app.key("ctrl+w")
                app.wait_visible(False)

        app.key("ctrl+1", wid=popup)
        app.wait_visible(True)
        self.assertEqual(sorted(app.windows()), sorted([main, popup]), "another main window was made")
        app.key("ctrl+w", wid=popup)
        app.wait_gone(popup, "the popup")
        self.assertTrue(app.visible(main), "the main window went with the popup")


if __name__ == "__main__":
    unittest.main()
