"""Where a click in the main window leads: foreign and mail links to the desktop's handlers without
a request from the application, the service's other pages and the page's own new windows into
popups beside the main window, which close when their page closes them."""

import json
import unittest

from harness import FOREIGN_HOST, SERVICE_HOST, USER_AGENT_SUFFIX, E2ETestCase, poll, session_cookie

MESSENGER_TITLE = "Нолар Тест"
FOREIGN_PAGE = "/foreign/page.html"
POPUP_OFFSET = 40
POPUP_SIZE = (900, 700)


class PageTestCase(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin

    def click(self, elementId):
        self.standin.queue_js(f"document.getElementById({json.dumps(elementId)}).click()")

    def assertMainPageStayed(self, logSince):
        self.assertEqual(self.standin.evaluate("location.href"), self.app.loaded["href"])
        poll(lambda: self.app.title() == MESSENGER_TITLE, 30, f'the main window titled "{MESSENGER_TITLE}"')
        self.assertEqual([line for line in self.session.log_lines()[logSince:] if "loaded: " in line], [],
                         "the main web view loaded something else")


class LinkTest(PageTestCase):
    def realClick(self, elementId, channel="messenger", wid=None):
        """A pointer click on the element's centre, through the X server."""
        box = json.loads(self.standin.evaluate(
            f"JSON.stringify(document.getElementById({json.dumps(elementId)}).getBoundingClientRect())", channel))
        # The web view fills the window's bottom (below the main window's menu bar).
        top = self.app.geometry(wid)["height"] - self.standin.evaluate("window.innerHeight", channel)
        self.app.click(int(box["x"] + box["width"] / 2), int(top + box["y"] + box["height"] / 2), wid=wid)

    def addLinks(self, html, channel="messenger"):
        """Puts links above everything else at the page's top left corner."""
        self.standin.evaluate(
            "(() => { let d = document.getElementById('test-links') || document.createElement('div');"
            " d.id = 'test-links'; d.style.cssText = 'position:fixed;top:0;left:0;z-index:99999;background:#fff';"
            f" d.innerHTML = {json.dumps(html)}; document.body.appendChild(d); return true; }})()", channel)

    def foreignURL(self, path=FOREIGN_PAGE):
        return f"https://{FOREIGN_HOST}:{self.session.build.port}{path}"

    def foreignPagesFetched(self, since):
        return [r["path"] for r in self.standin.requests(host=FOREIGN_HOST, since=since)
                if r["path"].startswith(FOREIGN_PAGE)]

    def test_foreign_link_goes_to_the_browser_only_when_the_user_clicks(self):
        standin = self.standin
        # The foreign host answers the application: the page's iframe on it loaded and ran.
        frame = standin.wait_request("/foreign/frame.html", host=FOREIGN_HOST)
        self.assertEqual(frame["status"], 200)
        standin.wait_report("frame-ran", host=FOREIGN_HOST)

        opened, lines = len(self.session.opened_urls()), len(self.session.log_lines())
        requestSeq = standin.seqs()[0]
        self.click("foreign-link")
        self.session.wait_for_log(r"blocked: https://127\.0\.0\.2$", since=lines)
        self.realClick("foreign-link")
        self.assertEqual(self.session.wait_opened_url(lambda u: True, since=opened), self.foreignURL())
        self.assertEqual(self.session.opened_urls(opened), [self.foreignURL()], "the script's click left too")
        self.assertMainPageStayed(lines)
        self.assertEqual(self.foreignPagesFetched(requestSeq), [], "the application fetched the link")

    def test_links_to_other_applications(self):
        session = self.session
        self.addLinks('<a id="t-mail" href="mailto:test@example.org">почта</a> '
                      '<a id="t-app" href="nolartest:hello">приложение</a> '
                      '<a id="t-file" href="file:///etc/passwd">файл</a>')
        opened, lines = len(session.opened_urls()), len(session.log_lines())
        self.realClick("t-mail")
        self.assertEqual(session.wait_opened_url(lambda u: True, since=opened), "mailto:test@example.org")

        # Another program's scheme: asked first, handed out only on "Открыть" (Return).
        for keys, handedOut in [("Escape", []), ("Return", ["nolartest:hello"])]:
            with self.subTest(keys=keys):
                opened = len(session.opened_urls())
                self.realClick("t-app")
                dialog = poll(lambda: self.app.windows(("DIALOG",)), 30, "the question before another program opens")
                self.app.key(keys, wid=dialog[0])
                poll(lambda: not self.app.windows(("DIALOG",)), 30, "the question to go away")
                if handedOut:
                    session.wait_opened_url(lambda u: True, since=opened)
                # a later click is the barrier: the mail link's URL arrives after anything before it
                mark = len(session.opened_urls())
                self.realClick("t-mail")
                session.wait_opened_url(lambda u: u.startswith("mailto:"), since=mark)
                self.assertEqual(session.opened_urls(opened)[:-1], handedOut)

        # A local file never leaves (the engine refuses it from a web page before asking us).
        opened = len(session.opened_urls())
        self.realClick("t-file")
        self.realClick("t-mail")
        session.wait_opened_url(lambda u: u.startswith("mailto:"), since=opened)
        self.assertEqual(session.opened_urls(opened), ["mailto:test@example.org"])
        self.assertMainPageStayed(lines)

    def test_a_popups_links_are_decided_before_any_request(self):
        session, standin = self.session, self.standin
        requestSeq, reportSeq = standin.seqs()
        popup = self.app.open_popup("document.getElementById('own-link').click()")
        standin.wait_report("about-loaded", since=reportSeq)
        self.addLinks(f'<a id="t-foreign" href="{self.foreignURL()}?via=popup">чужая</a>', "about")
        opened = len(session.opened_urls())
        self.realClick("t-foreign", "about", wid=popup)
        self.assertEqual(session.wait_opened_url(lambda u: True, since=opened), self.foreignURL() + "?via=popup")
        standin.queue_js("window.close()", "about")
        self.assertEqual(self.foreignPagesFetched(requestSeq), [], "the application fetched a link")

    def test_own_link_that_redirects_to_a_foreign_host_reaches_the_browser(self):
        target = self.foreignURL() + "?via=redirect"
        self.addLinks(f'<a id="t-go" href="/go?to={target}">трекер</a>')
        opened, lines = len(self.session.opened_urls()), len(self.session.log_lines())
        self.realClick("t-go")
        self.assertEqual(self.session.wait_opened_url(lambda u: True, since=opened), target)
        # The tracker's popup showed nothing and is gone again.
        poll(lambda: [w for w in self.app.windows() if self.app.visible(w)] == [self.app.window()], 30,
             "only the main window on screen")
        self.assertMainPageStayed(lines)


class PopupTest(PageTestCase):
    def test_service_pages_and_page_windows_open_beside_the_main_window(self):
        main = self.app.geometry(self.app.window())
        # each row: what the page does, the popup's title, the page it loads, its report, its command
        # channel and whether it has the bridge (only a window the page opens itself shares its set-up)
        rows = [("document.getElementById('own-link').click()", SERVICE_HOST, "/about/", "about-loaded", "about",
                 "undefined"),
                ("document.getElementById('blank-link').click()", SERVICE_HOST, "/about/", "about-loaded", "about",
                 "undefined"),
                ("popup = window.open('/popup/self-closing.html')", "self-closing.html", "/popup/self-closing.html",
                 "popup-loaded", "popup", "object")]
        for trigger, title, path, loaded, channel, bridge in rows:
            with self.subTest(trigger):
                lines, reportSeq = len(self.session.log_lines()), self.standin.seqs()[1]
                popup = self.app.open_popup(trigger)
                report = self.standin.wait_report(loaded, since=reportSeq)
                self.assertEqual((report["page"], report["value"]["kelMac"]), (path, bridge))
                poll(lambda: self.app.title(popup) == title, 30, f'the popup {popup} titled "{title}"')
                geometry = self.app.geometry(popup)
                self.assertEqual((geometry["x"], geometry["y"]), (main["x"] + POPUP_OFFSET, main["y"] + POPUP_OFFSET))
                self.assertEqual((geometry["width"], geometry["height"]), POPUP_SIZE)
                self.assertEqual(self.standin.evaluate("innerWidth", channel), POPUP_SIZE[0])
                self.assertMainPageStayed(lines)
                self.assertEqual(self.app.geometry(self.app.window()), main)

                self.standin.queue_js("window.close()", channel)
                self.app.wait_gone(popup, f"the popup {title!r}")

    def test_service_page_popup_shares_cookies_but_not_the_user_agent_suffix(self):
        requestSeq = self.standin.seqs()[0]
        popup = self.app.open_popup("document.getElementById('own-link').click()")
        request = self.standin.wait_request("/about/", since=requestSeq, host=SERVICE_HOST)
        # the engine's own identification, which the main page has with the suffix
        self.assertNotIn("KelNolarMac", request["ua"])
        self.assertEqual(request["ua"] + USER_AGENT_SUFFIX, self.app.loaded["userAgent"])
        cookie = session_cookie(self.app.loaded["cookie"])
        self.assertIsNotNone(cookie)
        self.assertEqual(session_cookie(request["cookie"]), cookie, "the popup sent another session")
        self.standin.queue_js("window.close()", "about")
        self.app.wait_gone(popup, "the popup")


if __name__ == "__main__":
    unittest.main()
