"""Downloads: what the page's links turn into files in the Downloads folder, their names, the
"saved" notification, and what a click on that notification shows."""

import json
import re
import unittest
from pathlib import Path
from urllib.parse import unquote, urlparse

from harness import FOREIGN_HOST, E2ETestCase, poll

SAVED_TITLE = "Файл сохранён в «Загрузки»"


def localPath(uri):
    """A path, or a file: URI, as a path."""
    return Path(unquote(urlparse(uri).path)) if uri.startswith("file:") else Path(uri)


class DownloadsTest(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin
        # each test names its files as if it were the first
        for path in self.session.downloads.iterdir():
            path.unlink()

    def click(self, elementId):
        """Clicks the link; returns where the records stood before (notifications, log lines)."""
        marks = len(self.session.records("notifications")), len(self.session.log_lines())
        self.standin.queue_js(f"document.getElementById({json.dumps(elementId)}).click()")
        return marks

    def download(self, elementId, name, marks=None):
        """Clicks the link (unless already clicked at `marks`) and waits for the file's
        notification; returns the saved file and the notification."""
        session = self.session
        notes, lines = marks or self.click(elementId)
        note = session.wait_notification(SAVED_TITLE, notes)
        self.assertEqual(note["body"], name)
        session.wait_for_log(r"download finished: " + re.escape(name) + "$", since=lines)
        finished = [line for line in session.log_lines()[lines:] if "download finished: " in line]
        self.assertEqual(len(finished), 1, finished)
        path = session.downloads / name
        self.assertTrue(path.is_file(), f"{path} is missing: {sorted(p.name for p in session.downloads.iterdir())}")
        return path, note

    def test_attachment_and_unshowable_responses_are_saved_under_unique_names(self):
        rows = [("attachment", "report.pdf"), ("attachment", "report (2).pdf"), ("unshowable", "data.bin")]
        for elementId, name in rows:
            with self.subTest(elementId=elementId, name=name):
                path, _ = self.download(elementId, name)
                if name.endswith(".pdf"):
                    self.assertEqual(path.read_bytes()[:5], b"%PDF-")
                else:
                    self.assertEqual(path.stat().st_size, 4096)
        self.assertEqual(sorted(p.name for p in self.session.downloads.iterdir()),
                         ["data.bin", "report (2).pdf", "report.pdf"])
        self.assertEqual(self.standin.evaluate("location.href"), self.app.loaded["href"], "the main page moved")
        # Each link opened a popup whose only navigation became the download: none of them stays.
        poll(lambda: [w for w in self.app.windows() if self.app.visible(w)] == [self.app.window()], 30,
             "only the main window on screen")

    def test_clicking_the_saved_notification_shows_the_file(self):
        session = self.session
        path, note = self.download("unshowable", "data.bin")

        # No file manager on the bus: the folder is opened instead.
        opened = len(session.opened_urls())
        session.click_notification(note["id"])
        folder = session.wait_opened_url(lambda u: True, since=opened)
        self.assertEqual(localPath(folder), session.downloads)

        # With one, it is asked to show the file itself.
        session.start_file_manager()
        session.click_notification(note["id"])
        call = session.wait_record("file-manager", what="a call to the file manager")
        self.assertEqual(call["method"], "ShowItems")
        self.assertEqual([localPath(u) for u in call["uris"]], [path])

    def test_download_link_to_a_foreign_host_saves_the_file(self):
        session, standin = self.session, self.standin
        # The foreign host answers the application (the page's iframe on it loaded).
        self.assertEqual(standin.wait_request("/foreign/frame.html", host=FOREIGN_HOST)["status"], 200)
        opened = len(session.opened_urls())
        marks = self.click("foreign-download")
        # The engine honours a download attribute on its own origin only: the click relay asks for
        # this download itself, so the link never reaches the browser and is fetched once.
        poll(lambda: session.records("notifications", marks[0]) or session.opened_urls(opened), 60,
             "the file saved or handed to the browser")
        self.assertEqual(session.opened_urls(opened), [], "the download link went to the browser")
        path, _ = self.download("foreign-download", "file.txt", marks)
        self.assertGreater(path.stat().st_size, 0)
        self.assertEqual(standin.hits(FOREIGN_HOST, "/foreign/file.txt"), 1, "fetched once, as the download")


class NamesThatCouldRunTest(E2ETestCase):
    """A sender chooses the file's name, and xdg-user-dirs names the home folder itself when the
    user deleted the Downloads folder."""
    session_options = {"downloads_in_home": True}

    def test_saved_names_cannot_run_and_files_never_land_in_home(self):
        session, standin = self.session, self.session.standin
        home = session.home
        before = {p.name for p in home.iterdir()}
        # each row: the name the server sends, the names it may be saved under
        rows = [(".bash_login", {"bash_login", "_bash_login"}), ("-rf", {"_rf"}), ("name. ", {"name"})]
        for sent, expected in rows:
            with self.subTest(sent=sent):
                notes = len(session.records("notifications"))
                standin.queue_js("var a = document.createElement('a'); a.download = '';"
                                 f" a.href = '/files/named?name=' + encodeURIComponent({json.dumps(sent)}); a.click()")
                note = session.wait_notification(SAVED_TITLE, notes)
                self.assertIn(note["body"], expected)
                self.assertEqual((session.downloads / note["body"]).read_bytes(), b"attachment body\n")
        self.assertEqual({p.name for p in home.iterdir()} - before, {"Downloads"})


if __name__ == "__main__":
    unittest.main()
