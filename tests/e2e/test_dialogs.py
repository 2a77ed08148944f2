"""The page's alert, confirm and prompt: native dialogs attached to the window of the page that
asked, answered from the keyboard, with the answer reaching the page."""

import unittest

from harness import E2ETestCase, poll


class DialogsTest(E2ETestCase):
    def setUp(self):
        self.standin = self.session.standin

    def answer(self, script, keys, channel="messenger", owner=None):
        """Runs `script` in the page, waits for its dialog (transient for the `owner` window, the
        main one by default), types `keys` into it and returns what the page got."""
        app = self.app
        kind = f"answer-{len(self.standin.reports())}"
        reportSeq = self.standin.seqs()[1]
        self.standin.queue_js(f"report('{kind}', {script})", channel)
        dialog = poll(lambda: app.windows(("DIALOG",)), 30, f"a dialog for {script}")
        self.assertEqual(len(dialog), 1, dialog)
        self.assertEqual(app.transient_for(dialog[0]), int(owner or app.window()), "the dialog's parent window")
        # The page waits for the dialog.
        self.assertEqual(self.standin.reports(kind=kind, since=reportSeq), [])
        app.key(keys, wid=dialog[0])
        value = self.standin.wait_report(kind, since=reportSeq)["value"]
        poll(lambda: not app.windows(("DIALOG",)), 30, "the dialog to go away")
        return value

    def test_answers_typed_into_the_main_windows_dialogs_reach_the_page(self):
        # each row: the script, the keys, what the page gets ("Отмена" answers Escape)
        rows = [("confirm('Удалить?')", "Return", True),
                ("confirm('Удалить?')", "Escape", False),
                ("prompt('Как вас зовут?', 'Анна')", "Return", "Анна"),
                ("prompt('Как вас зовут?', 'Анна')", "Escape", None),
                ("prompt('Как вас зовут?')", "Return", ""),
                ("[alert('Готово'), 'дальше'][1]", "Return", "дальше")]
        for script, keys, expected in rows:
            with self.subTest(script=script, keys=keys):
                self.assertEqual(self.answer(script, keys), expected)

    def test_alert_from_a_popup_belongs_to_the_popup(self):
        app = self.app
        reportSeq = self.standin.seqs()[1]
        popup = app.open_popup("popup = window.open('/popup/self-closing.html')")
        self.standin.wait_report("popup-loaded", since=reportSeq)
        self.assertEqual(app.title(popup), "self-closing.html")

        alert = "[alert('Из окна'), 'дальше'][1]"
        self.assertEqual(self.answer(alert, "Return", "popup", owner=popup), "дальше")
        self.assertEqual(self.answer("confirm('Закрыть?')", "Return", "popup", owner=popup), True)

        self.standin.queue_js("window.close()", "popup")
        app.wait_gone(popup, "the popup")


if __name__ == "__main__":
    unittest.main()
