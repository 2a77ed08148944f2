"""The page's alert, confirm and prompt: native dialogs attached to the window of the page that
asked, answered from the keyboard, with the answer reaching the page."""

import unittest

from harness import E2ETestCase, poll


class DialogsTest(E2ETestCase):
    def answer(self, channel, script, keys, owner):
        """Runs `script` in the page polling `channel`, waits for its one dialog, transient for the
        window `owner`, types `keys` into it and returns what the page got."""
        app, since = self.app, self.standin.seqs()[1]
        self.standin.queue_js(f"report('answer', {script})", channel)
        dialog = poll(lambda: app.windows("DIALOG"), 30, f"a dialog for {script}")
        self.assertEqual(len(dialog), 1, dialog)
        self.assertEqual(app.transient_for(dialog[0]), int(owner), "the dialog's parent window")
        self.assertEqual(self.standin.reports(kind="answer", since=since), [], "the page did not wait")
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


if __name__ == "__main__":
    unittest.main()
