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
    def realClick(self, elementId):
        """A pointer click on the element's centre, through the X server."""
        box = json.loads(self.standin.evaluate(
            f"JSON.stringify(document.getElementById({json.dumps(elementId)}).getBoundingClientRect())"))
        # The web view fills the window below the menu bar.
        top = self.app.geometry()["height"] - self.standin.evaluate("window.innerHeight")
        self.app.click(int(box["x"] + box["width"] / 2), int(top + box["y"] + box["height"] / 2))

    def test_foreign_link_goes_to_the_browser_before_any_request(self):
        standin = self.standin
        # The foreign host answers the application: the page's iframe on it loaded and ran.
        frame = standin.wait_request("/foreign/frame.html", host=FOREIGN_HOST)
        self.assertEqual(frame["status"], 200)
        standin.wait_report("frame-ran", host=FOREIGN_HOST)
        url = f"https://{FOREIGN_HOST}:{self.session.build.port}{FOREIGN_PAGE}"

        for how, click in [("pointer click", self.realClick), ("click from the page's script", self.click)]:
            with self.subTest(how):
                opened, lines = len(self.session.opened_urls()), len(self.session.log_lines())
                click("foreign-link")
                self.assertEqual(self.session.wait_opened_url(lambda u: True, since=opened), url)
                self.assertMainPageStayed(lines)
                self.assertEqual(standin.hits(FOREIGN_HOST, FOREIGN_PAGE), 0, "the application fetched the link")

    def test_mail_link_goes_to_the_mail_client(self):
        opened, lines = len(self.session.opened_urls()), len(self.session.log_lines())
        self.click("mail-link")
        self.assertEqual(self.session.wait_opened_url(lambda u: True, since=opened), "mailto:test@example.org")
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
