"""Downloads: what the page's links turn into files in the Downloads folder, their names, the "saved"
notification, and what a click on that notification shows. The session's user deleted the Downloads
folder: xdg-user-dirs then names the home folder itself, and a sender chooses the file's name."""

import json
import re
import unittest
from pathlib import Path
from urllib.parse import unquote, urlparse

from harness import FOREIGN_HOST, E2ETestCase, poll

SAVED_TITLE = "Файл сохранён в «Загрузки»"
PDF, NAMED = b"%PDF-", b"attachment body\n"


def click(elementId):
    return f"document.getElementById({json.dumps(elementId)}).click()"


def named(name):
    """A download link to an attachment that its sender named `name`."""
    return ("var a = document.createElement('a'); a.download = '';"
            f" a.href = '/files/named?name=' + encodeURIComponent({json.dumps(name)}); a.click()")


def localPath(uri):
    """A path, or a file: URI, as a path."""
    return Path(unquote(urlparse(uri).path)) if uri.startswith("file:") else Path(uri)


class DownloadsTest(E2ETestCase):
    def setUp(self):
        for path in self.session.downloads.glob("*"):  # each test names its files as if it were the first
            path.unlink()

    def download(self, snippet, names):
        """Runs `snippet` and waits for the "saved" notification of a file named one of `names`;
        returns the saved file and the notification."""
        session, m = self.session, self.session.marks()
        self.standin.queue_js(snippet)
        note = session.wait_notification(SAVED_TITLE, m.notes)
        self.assertIn(note["body"], names)
        session.wait_for_log(r"download finished: " + re.escape(note["body"]) + "$", m.log)
        self.assertEqual(len(session.log_matching("download finished: ", m.log)), 1)
        self.assertTrue((session.downloads / note["body"]).is_file(), f"{note['body']} is not in Downloads")
        return session.downloads / note["body"], note

    def test_links_save_files_under_unique_names_that_cannot_run(self):
        session, standin, home = self.session, self.standin, self.session.home
        # The foreign host answers the application (the page's iframe on it loaded).
        self.assertEqual(standin.wait_request("/foreign/frame.html", host=FOREIGN_HOST)["status"], 200)
        m, before = session.marks(), {p.name for p in home.iterdir()}
        # each row: what the page does, the names the file may get, how it starts
        rows = [(click("attachment"), {"report.pdf"}, PDF), (click("attachment"), {"report (2).pdf"}, PDF),
                (click("unshowable"), {"data.bin"}, bytes(range(256)) * 16),
                # The engine honours a download attribute on its own origin only: the click relay asks
                # for this download itself, so the link does not reach the browser.
                (click("foreign-download"), {"file.txt"}, "Файл с чужого сервера.\n".encode()),
                (named(".bash_login"), {"bash_login", "_bash_login"}, NAMED), (named("-rf"), {"_rf"}, NAMED),
                (named("name. "), {"name"}, NAMED)]
        for snippet, names, content in rows:
            with self.subTest(snippet):
                path, _ = self.download(snippet, names)
                self.assertTrue(path.read_bytes().startswith(content), path)
        self.assertEqual(session.opened_urls(m.urls), [], "a download link went to the browser")
        fetched = standin.call("hits", host=FOREIGN_HOST, path="/foreign/file.txt")["hits"]
        self.assertEqual(fetched, 1, "fetched once, as the download")
        self.assertEqual(standin.evaluate("location.href"), self.app.loaded["href"], "the main page moved")
        # Each link opened a popup whose only navigation became the download: none of them stays.
        poll(lambda: self.app.shown() == [self.app.window()], 30, "only the main window on screen")
        self.assertLessEqual({p.name for p in home.iterdir()} - before, {"Downloads"}, "a file in HOME")

    def test_clicking_the_saved_notification_shows_the_file(self):
        session = self.session
        path, note = self.download(click("unshowable"), {"data.bin"})
        # No file manager on the bus: the folder is opened instead.
        since = len(session.opened_urls())
        session.click_notification(note["id"])
        self.assertEqual(localPath(session.wait_opened_url(since)), session.downloads)
        # With one, it is asked to show the file itself.
        session.start_file_manager()
        session.click_notification(note["id"])
        call = session.wait_record("file-manager", what="a call to the file manager")
        self.assertEqual((call["method"], [localPath(u) for u in call["uris"]]), ("ShowItems", [path]))


if __name__ == "__main__":
    unittest.main()
