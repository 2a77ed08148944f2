"""A display without a GPU (this one) gets the view drawn without compositing: a long page still
scrolls with the wheel and the part scrolled to is painted."""

import tempfile
import unittest

from harness import E2ETestCase, poll

BANDS = """(() => {
    document.body.innerHTML = '<div style="height:3000px;background:#ff0000"></div>' +
                              '<div style="height:3000px;background:#00ff00"></div>';
    document.body.style.cssText = 'margin:0;display:block;height:auto';
    window.scrollTo(0, 0);
    return window.scrollY;
})()"""


class RenderingTest(E2ETestCase):
    def colour(self, x, y):
        with tempfile.NamedTemporaryFile(suffix=".png") as shot:
            return self.session.run("convert", self.app.screenshot(shot.name), "-format",
                                    f"%[hex:p{{{x},{y}}}]", "info:")[:6]

    def test_the_wheel_scrolls_and_what_it_scrolls_to_is_painted(self):
        standin, app = self.standin, self.app
        self.assertEqual(standin.evaluate(BANDS), 0)
        x, y = app.geometry()["width"] // 2, app.geometry()["height"] // 2
        poll(lambda: self.colour(x, y) == "FF0000", 30, "the top band painted")
        # The pointer over the page, then five wheel steps down (button 5).
        app.focus()
        self.session.run("xdotool", "mousemove", "--window", app.window(), x, y,
                         "click", "--repeat", 5, "--delay", 50, 5)
        poll(lambda: standin.evaluate("window.scrollY") > 0, 30, "the wheel to scroll the page")
        standin.evaluate("window.scrollTo(0, 4000)")
        poll(lambda: self.colour(x, y) == "00FF00", 30, "the band scrolled to painted")


if __name__ == "__main__":
    unittest.main()
