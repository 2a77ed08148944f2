"""The demo script without a display: it shows the page, and nothing it started outlives it, whether
it returns by itself or is interrupted (Ctrl+C reaches its whole process group)."""

import os
import signal
import subprocess
import unittest

from harness import SERVICE_HOST, SOURCE_DIR, Build, descendants, poll


def interrupt(script):
    if script.poll() is None:
        os.killpg(script.pid, signal.SIGINT)
        script.wait(120)


class RunScriptTest(unittest.TestCase):
    def test_shows_the_page_and_leaves_nothing_behind_when_it_returns_or_is_interrupted(self):
        build = Build()
        log = build.dir / "demo" / "home" / ".local" / "state" / "Nolar" / "nolar.log"
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        # the build's own configuration, so that the script's build step has nothing to do
        argv = [SOURCE_DIR / "scripts" / "run", build.dir,
                f"-DNOLAR_SERVICE_HOST={SERVICE_HOST}:{build.port}", f"-DNOLAR_TEST_CERT={build.cert}"]
        for interrupted in (False, True):
            with self.subTest(interrupted=interrupted), open(build.dir / "run-script.out", "w+") as out:
                start = log.stat().st_size if log.exists() else 0
                script = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                          stderr=subprocess.STDOUT, start_new_session=True)
                self.addCleanup(interrupt, script)  # a failed test must not leave the demo running either
                if interrupted:
                    poll(lambda: {"nolar", "dbus-daemon"} <= {p[3] for p in descendants().values()}, 600,
                         "the demo's application and its session bus")
                    os.killpg(script.pid, signal.SIGINT)
                status = script.wait(600)
                out.seek(0)
                output = out.read()
                self.assertEqual(descendants(), {}, f"left behind by scripts/run:\n{output}")
                if not interrupted:
                    self.assertEqual(status, 0, output)
                    self.assertIn("screenshot: ", output)
                    self.assertIn(b"loaded: ", log.read_bytes()[start:], "the demo's page did not load")


if __name__ == "__main__":
    unittest.main()
